#include "TcpPort.h"

#include "CommErrors.h"
#include "RuntimeError.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QTcpSocket>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace krv::comm {

namespace {

int remainingMs(const QDeadlineTimer &deadline) {
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0, 'g', 3);
}

} // namespace

TcpPort::TcpPort(QString host, quint16 port) : TcpPort(std::move(host), port, Timeouts{}) {}

TcpPort::TcpPort(QString host, quint16 port, Timeouts timeouts)
    : mHost(std::move(host)), mPort(port), mTimeouts(timeouts) {}

TcpPort::~TcpPort() {
    mAbort.disarm();
    if (mSocket)
        mSocket->abort();
}

QString TcpPort::where() const {
    return QStringLiteral("%1 port %2").arg(mHost).arg(mPort);
}

void TcpPort::OpenPort() {
    mAbort.disarm();
    if (mSocket)
        mSocket->abort();
    mSocket.reset();
    mFailed = false;
    if (mHost.trimmed().isEmpty())
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("No printer host name or address is set for TCP/IP."));
    if (mPort == 0)
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("Port 0 is not a valid printer port for %1.").arg(mHost));

    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(mHost.trimmed(), mPort, QIODevice::ReadWrite);
    // An address has its socket now; a host name gets one after the lookup.
    mAbort.arm(int(socket->socketDescriptor()));
    if (!socket->waitForConnected(int(mTimeouts.connect.count()))) {
        const QString reason = socket->errorString();
        const auto error = socket->error();
        mAbort.disarm();
        socket->abort();
        switch (error) {
        case QAbstractSocket::HostNotFoundError:
            throw RuntimeError(
                errors::TcpHostNotFound,
                QStringLiteral("The printer host %1 was not found (%2).").arg(mHost, reason));
        case QAbstractSocket::ConnectionRefusedError:
            throw RuntimeError(
                errors::TcpConnectionRefused,
                QStringLiteral("The printer at %1 refused the connection: nothing is listening "
                               "there, or the printer is busy with another connection.")
                    .arg(where()));
        case QAbstractSocket::SocketTimeoutError:
            throw RuntimeError(errors::TcpConnectTimeout,
                               QStringLiteral("The printer at %1 did not answer within %2 s.")
                                   .arg(where(), seconds(mTimeouts.connect)));
        default:
            throw RuntimeError(
                errors::TcpConnectFailed,
                QStringLiteral("Could not connect to the printer at %1: %2.").arg(where(), reason));
        }
    }
    mAbort.arm(int(socket->socketDescriptor()));
    mSocket = std::move(socket);
}

void TcpPort::SendData(const QByteArray &data) {
    if (!mSocket)
        throw RuntimeError(errors::NotOpen,
                           QStringLiteral("The connection to %1 is not open.").arg(where()));
    // Any failure below leaves the printer with part of the job; ClosePort
    // then drops the connection instead of waiting for a confirmation.
    mFailed = true;
    const QDeadlineTimer deadline(mTimeouts.write);
    if (mSocket->write(data) != data.size())
        throw RuntimeError(errors::TcpWriteFailed,
                           QStringLiteral("Could not send the data to %1: %2.")
                               .arg(where(), mSocket->errorString()));
    while (mSocket->bytesToWrite() > 0) {
        if (deadline.hasExpired())
            throw RuntimeError(
                errors::TcpWriteTimeout,
                QStringLiteral("The printer at %1 stopped taking data: %2 of %3 bytes were not "
                               "sent within %4 s.")
                    .arg(where())
                    .arg(mSocket->bytesToWrite())
                    .arg(data.size())
                    .arg(seconds(mTimeouts.write)));
        if (!mSocket->waitForBytesWritten(std::max(1, remainingMs(deadline))) &&
            mSocket->error() != QAbstractSocket::SocketTimeoutError)
            throw RuntimeError(errors::TcpWriteFailed,
                               QStringLiteral("The connection to %1 broke while sending: %2.")
                                   .arg(where(), mSocket->errorString()));
    }
    mFailed = false;
}

void TcpPort::ClosePort() {
    if (!mSocket)
        return;
    if (mFailed || mSocket->state() != QAbstractSocket::ConnectedState) {
        mAbort.disarm();
        mSocket->abort();
        mSocket.reset();
        return;
    }
    closeGracefully();
}

// Closing a socket returns before the printer has the data; an abrupt close
// with unread input even resets the connection and can destroy what the
// printer has not read yet. So: send our end-of-data, read and drop whatever
// the printer says, and wait until it closes too (it has then read to the
// end) or, failing that, until its system has acknowledged every byte.
void TcpPort::closeGracefully() {
    const int fd = int(mSocket->socketDescriptor());
    const QDeadlineTimer deadline(mTimeouts.close);
    QString failure;
    if (::shutdown(fd, SHUT_WR) != 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
    } else {
        char scratch[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, remainingMs(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                int unacknowledged = 0;
                if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged > 0)
                    failure = QStringLiteral("%1 bytes were not acknowledged within %2 s")
                                  .arg(unacknowledged)
                                  .arg(seconds(mTimeouts.close));
                break;
            }
            const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
            if (n == 0)
                break; // the printer closed after reading everything
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                failure = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
        }
    }
    mAbort.disarm();
    mSocket->abort();
    mSocket.reset();
    if (!failure.isEmpty())
        throw RuntimeError(errors::TcpCloseFailed,
                           QStringLiteral("The printer at %1 did not confirm that it received all "
                                          "the data (%2).")
                               .arg(where(), failure));
}

} // namespace krv::comm
