#include "SendToPrinter.h"

#include "RuntimeError.h"

#include <QByteArray>

namespace krv::comm {

namespace {

PrinterStatus askPrinter(PrinterPort &port, std::chrono::milliseconds bound) {
    const std::unique_ptr<StatusLink> link = port.statusLink();
    if (!link) {
        PrinterStatus status;
        status.outcome = PrinterStatus::Outcome::NotAvailable;
        status.detail = port.noStatusReason();
        return status;
    }
    try {
        return queryStatus(*link, bound);
    } catch (const RuntimeError &e) {
        // The job is out; whether it arrived is the close's to say.
        PrinterStatus status;
        status.detail = e.description();
        if (status.detail.endsWith(QLatin1Char('.')))
            status.detail.chop(1);
        return status;
    }
}

} // namespace

std::optional<PrinterStatus> talkToPrinter(PrinterPort &port, const QByteArray &data, AskStatus ask,
                                           std::chrono::milliseconds bound) {
    port.OpenPort();
    std::optional<PrinterStatus> status;
    try {
        port.SendData(data);
        if (ask == AskStatus::Yes)
            status = askPrinter(port, bound);
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
    return status;
}

void SendToPrinter(PrinterPort &port, const QByteArray &data) {
    (void)talkToPrinter(port, data, AskStatus::No);
}

} // namespace krv::comm
