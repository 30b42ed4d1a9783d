// The entry points of the connection modules the window loads
// (LoadedConnections.cpp); each module is built from this file with one of
// KRV_SPOOLER_MODULE, KRV_TCP_MODULE or KRV_SERIAL_MODULE defined.
#include "BuiltInConnections.h"

#define KRV_MODULE_ENTRY extern "C" __attribute__((visibility("default")))

#if defined(KRV_SPOOLER_MODULE)
KRV_MODULE_ENTRY const krv::comm::SpoolerLibrary *krv520SpoolerLibrary() {
    return &krv::comm::builtInSpooler();
}
#elif defined(KRV_TCP_MODULE)
KRV_MODULE_ENTRY const krv::comm::TcpLibrary *krv520TcpLibrary() {
    return &krv::comm::builtInTcp();
}
#elif defined(KRV_SERIAL_MODULE)
KRV_MODULE_ENTRY const krv::comm::SerialLibrary *krv520SerialLibrary() {
    return &krv::comm::builtInSerial();
}
#endif
