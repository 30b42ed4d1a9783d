#pragma once

#include <QFont>

namespace krv::app {

// The window was designed for "MS Sans Serif"; where that face is missing
// the closest metric-compatible sans faces stand in for it.
void installFontSubstitutes();

[[nodiscard]] QFont msSansSerif(double pointSize, bool bold);

// The default dialog font of buttons, lists and tab captions: 8.25 pt regular.
[[nodiscard]] QFont dialogFont();

} // namespace krv::app
