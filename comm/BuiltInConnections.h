#pragma once

#include "ConnectionLibraries.h"

namespace krv::comm {

// The tables of the connection libraries as compiled into the program or
// module that holds them, each defined beside its port.
[[nodiscard]] const SpoolerLibrary &builtInSpooler();
[[nodiscard]] const TcpLibrary &builtInTcp();
[[nodiscard]] const SerialLibrary &builtInSerial();

} // namespace krv::comm
