#pragma once

#include "StatusLink.h"

#include <memory>

#include <QString>

class QByteArray;

namespace krv::comm {

// What sending a job needs of a connection. Each call throws
// krv::RuntimeError when it fails.
class PrinterPort {
public:
    virtual ~PrinterPort() = default;
    virtual void OpenPort() = 0;
    // Printer data: every byte 0..255 goes out unchanged, in one call.
    virtual void SendData(const QByteArray &data) = 0;
    virtual void ClosePort() = 0;
    // Safe from any thread: makes a call blocked in another thread return
    // soon (it then throws or returns; the caller knows it aborted). A port
    // that cannot be interrupted keeps its own time bounds.
    virtual void abort() {}
    // A way to read the printer's answers over the open connection, valid
    // until ClosePort; nothing where the connection cannot carry them (a
    // spooler, a regular file, a device that only takes data).
    [[nodiscard]] virtual std::unique_ptr<StatusLink> statusLink() { return nullptr; }
    // Why statusLink() gives nothing, in words for the end of a sentence.
    [[nodiscard]] virtual QString noStatusReason() const {
        return QStringLiteral("this connection cannot carry the printer's answer");
    }
};

} // namespace krv::comm
