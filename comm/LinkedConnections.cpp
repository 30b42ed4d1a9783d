// The command-line programs' connection libraries: linked in.
#include "BuiltInConnections.h"

namespace krv::comm {

const SpoolerLibrary &spoolerLibrary() {
    return builtInSpooler();
}

const TcpLibrary &tcpLibrary() {
    return builtInTcp();
}

const SerialLibrary &serialLibrary() {
    return builtInSerial();
}

} // namespace krv::comm
