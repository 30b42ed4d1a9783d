#pragma once

#include "PortAbort.h"
#include "PrinterPort.h"

#include <QString>

#include <chrono>
#include <memory>

class QTcpSocket;

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

private:
    [[nodiscard]] QString where() const;
    void closeGracefully();

    QString mHost;
    quint16 mPort;
    Timeouts mTimeouts;
    std::unique_ptr<QTcpSocket> mSocket;
    SocketAbort mAbort; // disarmed before every close of the socket
    bool mFailed = false;
};

} // namespace krv::comm
