#include "SendToPrinter.h"

#include <QByteArray>

namespace krv::comm {

void SendToPrinter(PrinterPort &port, const QByteArray &data) {
    port.OpenPort();
    try {
        port.SendData(data);
    } catch (...) {
        // The send's error is the one the operator needs; a second failure
        // while closing would only hide it.
        try {
            port.ClosePort();
        } catch (...) {
        }
        throw;
    }
    port.ClosePort();
}

} // namespace krv::comm
