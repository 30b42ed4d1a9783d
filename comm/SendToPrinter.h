#pragma once

#include "PrinterPort.h"
#include "PrinterStatus.h"
#include "StatusQuery.h"

#include <chrono>
#include <optional>

namespace krv::comm {

enum class AskStatus { No, Yes };

// The one conversation every job holds with a printer: open the port, send
// the data, ask how the printer is (where the connection can carry its
// answer, within `bound`), close the port, once each. The job's success is
// the delivery alone: the status never fails it, a question that goes wrong
// is a NoAnswer, and a connection that cannot carry the answer gives
// NotAvailable; nothing when not asked. A failed send still closes the port
// before its error is passed on, so a printer's single connection or a
// half-made spooler job is never left behind. Throws krv::RuntimeError.
[[nodiscard]] std::optional<PrinterStatus>
talkToPrinter(PrinterPort &port, const QByteArray &data, AskStatus ask,
              std::chrono::milliseconds bound = DefaultStatusBound);

// The same conversation without the question.
void SendToPrinter(PrinterPort &port, const QByteArray &data);

} // namespace krv::comm
