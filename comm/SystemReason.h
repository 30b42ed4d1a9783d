#pragma once

#include "CommErrors.h"
#include "RuntimeError.h"

#include <QString>

#include <cerrno>
#include <cstring>

namespace krv::comm {

// The system's own words for an errno value, for the end of a message.
[[nodiscard]] inline QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Out of descriptors is this computer's limit, not the printer's fault: it
// is reported as such, so that a program serving many printers says it once
// instead of failing each of them with it.
inline void refuseLocalLimit(int error) {
    if (error == EMFILE || error == ENFILE)
        throw RuntimeError(errors::LocalLimit,
                           QStringLiteral("This program may not open another file or connection "
                                          "now (%1).")
                               .arg(systemReason(error)));
}

} // namespace krv::comm
