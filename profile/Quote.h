#pragma once

#include <QString>
#include <QStringView>

namespace krv::profile {

// What the operator typed or a file held, as a message repeats it: in double
// quotes, control characters, quotes and backslashes escaped (\t, \x1b, \"),
// and cut after `limit` characters with an ellipsis, so that neither a
// binary file nor a megabyte line reaches the terminal whole.
[[nodiscard]] QString quoted(QStringView text, qsizetype limit = 60);

// Text that came from outside (a target, a path, a description that repeats
// one) made safe for a terminal and for line-based output: control
// characters and invisible marks escaped as quoted() does, nothing else
// changed. Our own messages hold none, so they pass through as they are.
[[nodiscard]] QString shownText(QStringView text);

// Throws krv::RuntimeError `number` when `text` holds a NUL byte, which no
// name, entry or path can contain; `what` says where it came from.
void refuseNul(QStringView text, const QString &what, int number);

} // namespace krv::profile
