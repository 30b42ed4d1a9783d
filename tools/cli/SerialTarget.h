#pragma once

#include "ConnectionSettings.h"

#include <QString>

namespace krv::cli {

// "DEVICE[:SPEED[,FRAME[,FLOW]]]", e.g. "/dev/ttyUSB0:38400,8N1,rtscts";
// defaults 9600, 8N1, none. The settings are what follows the last ':' when
// that holds neither '/' nor '.', so the colons of a path such as
// /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 stay in the path;
// a path ending in ":NAME" is given with its speed ("...:NAME:9600").
// Throws krv::RuntimeError (BadArgument) naming the part that is wrong.
[[nodiscard]] comm::ConnectionSettings parseSerialTarget(const QString &text);

} // namespace krv::cli
