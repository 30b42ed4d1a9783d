#pragma once

#include "ConnectionSettings.h"
#include "PrinterStatus.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>

#include <chrono>

namespace krv::comm {

inline constexpr std::chrono::milliseconds DefaultStatusBound{1000};

// What asking for the status needs of an open connection. Both calls throw
// krv::RuntimeError when the connection fails.
class StatusLink {
public:
    virtual ~StatusLink() = default;
    // Writes every byte before the deadline; false when the deadline passed
    // first (a printer that takes nothing is not a broken connection).
    [[nodiscard]] virtual bool write(QByteArrayView bytes, const QDeadlineTimer &deadline) = 0;
    // What has arrived, waiting until the deadline for at least one byte:
    // empty when it passed. `ended` is set when nothing more will come from
    // a device that cannot be read; a connection the printer closes throws.
    virtual QByteArray read(const QDeadlineTimer &deadline, bool *ended) = 0;
};

// A link over an open, non-blocking file descriptor: a TCP socket, a device
// node opened for reading and writing, a serial line. The descriptor stays
// the caller's.
class DescriptorLink : public StatusLink {
public:
    explicit DescriptorLink(int fd, QString where);
    bool write(QByteArrayView bytes, const QDeadlineTimer &deadline) override;
    QByteArray read(const QDeadlineTimer &deadline, bool *ended) override;

private:
    int mFd;
    QString mWhere;
    bool mSocket;
};

// Sends the four requests one at a time and waits for each answer, all
// within `bound`. Whatever is waiting before the first request is dropped,
// and only a byte that passes the fixed-bit check counts as an answer; a
// further such byte after an answer makes the exchange ambiguous, which is
// NoAnswer. Throws krv::RuntimeError when the link fails. `sent`, when
// given, is counted up by the request bytes as each request goes out, so it
// is right however the query ends.
[[nodiscard]] PrinterStatus queryStatus(StatusLink &link,
                                        std::chrono::milliseconds bound = DefaultStatusBound,
                                        qint64 *sent = nullptr);

// Opens the connection, asks, closes. The spooler and regular files give
// NotAvailable; a device that can only be written gives NoAnswer. Throws
// krv::RuntimeError when the connection cannot be opened or fails.
[[nodiscard]] PrinterStatus queryPrinterStatus(const ConnectionSettings &target,
                                               std::chrono::milliseconds bound = DefaultStatusBound,
                                               qint64 *sent = nullptr);

} // namespace krv::comm
