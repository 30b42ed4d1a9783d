#pragma once

#include <QString>

#include <cstring>

namespace krv::comm {

// The system's own words for an errno value, for the end of a message.
[[nodiscard]] inline QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace krv::comm
