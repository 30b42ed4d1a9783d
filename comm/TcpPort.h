#pragma once

#include "PortAbort.h"
#include "PrinterPort.h"
#include "RuntimeError.h"

#include <QDeadlineTimer>
#include <QString>

#include <chrono>

namespace krv::comm {

// A raw TCP connection to a printer (e.g. port 9100). Every wait is bounded,
// so a printer that is off, gone or full costs the operator seconds, not a
// frozen window.
class TcpPort : public PrinterPort {
public:
    struct Timeouts {
        std::chrono::milliseconds connect{5000};
        std::chrono::milliseconds write{10000}; // for the whole job to leave
        std::chrono::milliseconds close{5000};  // for the printer to confirm it
    };

    TcpPort(QString host, quint16 port);
    TcpPort(QString host, quint16 port, Timeouts timeouts);
    ~TcpPort() override;

    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;
    void abort() override { mAbort.abort(); }
    // The printer's answers come back over the same connection.
    [[nodiscard]] std::unique_ptr<StatusLink> statusLink() override;
    // The open connection's socket (non-blocking), for reading the printer's
    // answers; -1 when closed. It stays the port's.
    [[nodiscard]] int descriptor() const { return mFd; }

private:
    [[nodiscard]] QString where() const;
    // A failure of the system call that set `error` (errno), a reset named
    // as such with how much of the job had been handed over.
    [[nodiscard]] RuntimeError brokenConnection(int error, int number) const;
    void closeGracefully();
    void closeSocket();

    QString mHost;
    quint16 mPort;
    Timeouts mTimeouts;
    int mFd = -1;
    SocketAbort mAbort;            // disarmed before every close of a socket
    QDeadlineTimer mEarlyEndWatch; // see closeGracefully
    bool mFailed = false;
    bool mResetOnOpen = false; // reset by the printer as soon as it was made
    qsizetype mTotal = 0;      // bytes of the current job
    qsizetype mHandedOver = 0; // of them, taken by the system
};

} // namespace krv::comm
