#pragma once

#include "ConnectionSettings.h"

#include <QString>

#include <vector>

namespace krv::cli {

// "HOST", "HOST:PORT" or "[IPv6]:PORT"; the port defaults to 9100. A bare
// IPv6 address (more than one colon) is a host without a port.
[[nodiscard]] comm::ConnectionSettings parseTcpTarget(const QString &text);

// A targets file: one connection a line, "tcp HOST[:PORT]", "queue NAME",
// "file PATH" or "serial DEVICE[:SPEED[,FRAME[,FLOW]]]"; blank lines and lines starting with "#"
// are ignored.
[[nodiscard]] std::vector<comm::ConnectionSettings> parseTargets(const QString &text,
                                                                 const QString &fileName);
[[nodiscard]] std::vector<comm::ConnectionSettings> readTargetsFile(const QString &path);

// How result lines name a connection: "tcp HOST:PORT", "queue NAME",
// "queue (default)", "file PATH", "serial DEVICE:SPEED,FRAME,FLOW" (the
// form a targets file takes).
[[nodiscard]] QString describeTarget(const comm::ConnectionSettings &target);

} // namespace krv::cli
