#pragma once

#include <QByteArray>

namespace krv::testprint {

inline constexpr int TestPageSize = 992;

// The fixed test page: a title, the table of character codes 32 to 255, a
// font-scaling sample and a closing feed. The same bytes on every call.
[[nodiscard]] QByteArray makeTestPage();

} // namespace krv::testprint
