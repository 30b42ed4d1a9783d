#pragma once

#include <QString>
#include <QStringView>

namespace krv::cli {

// What the operator typed or a file held, as a message repeats it: in double
// quotes, control characters, quotes and backslashes escaped (\t, \x1b, \"),
// and cut after `limit` characters with an ellipsis, so that neither a
// binary file nor a megabyte line reaches the terminal whole.
[[nodiscard]] QString quoted(QStringView text, qsizetype limit = 60);

// Throws krv::RuntimeError `number` when `text` holds a NUL byte, which no
// name, entry or path can contain; `what` says where it came from.
void refuseNul(QStringView text, const QString &what, int number);

} // namespace krv::cli
