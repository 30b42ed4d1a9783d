#pragma once

#include <QString>

// The folder the last profile was opened from or saved to, kept beside the
// stored connection so that a file dialog starts where the operator works.
namespace krv::profile {

// The remembered folder if it still exists, else the home folder.
[[nodiscard]] QString lastProfileFolder();
// Remembers the folder of `profilePath`. Throws krv::RuntimeError when the
// note cannot be written.
void rememberProfileFolder(const QString &profilePath);

} // namespace krv::profile
