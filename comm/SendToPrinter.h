#pragma once

#include "PrinterPort.h"

namespace krv::comm {

// Opens the port, sends the data and closes the port, once each. A failed
// send still closes the port before its error is passed on, so a printer's
// single connection or a half-made spooler job is never left behind.
void SendToPrinter(PrinterPort &port, const QByteArray &data);

} // namespace krv::comm
