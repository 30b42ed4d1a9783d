#include "TcpPort.h"

#include "BuiltInConnections.h"
#include "CommErrors.h"
#include "RuntimeError.h"
#include "StatusQuery.h"
#include "SystemReason.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace krv::comm {

namespace {

// How long after the connection is made our end of data waits, at the
// least, for a printer that ends its side on accepting to show it: such a
// printer does so moments after the connection is made. Every send to a
// well-behaved printer pays it, so it stays at half a millisecond; a job that
// takes longer to hand over does not wait at all.
constexpr std::chrono::microseconds EarlyEndWatch{500};

// How long a printer that ended its side before we ended ours has to show
// a reset; only such printers wait for it.
constexpr std::chrono::milliseconds EarlyEndGrace{200};

int remainingMs(const QDeadlineTimer &deadline) {
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0, 'g', 3);
}

// The socket's pending error, cleared by reading it; 0 for none.
int pendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

// The address in the form connect() takes; false for a kind it cannot take.
bool socketAddress(const QHostAddress &address, quint16 port, sockaddr_storage *out,
                   socklen_t *length) {
    *out = {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(out);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        *length = sizeof *v4;
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        if (const QString scope = address.scopeId(); !scope.isEmpty()) {
            bool numeric = false;
            v6->sin6_scope_id = scope.toUInt(&numeric);
            if (!numeric)
                v6->sin6_scope_id = uint(QNetworkInterface::interfaceIndexFromName(scope));
        }
        *length = sizeof *v6;
        return true;
    }
    return false;
}

bool isReset(int error) {
    return error == ECONNRESET || error == EPIPE || error == ENOTCONN;
}

} // namespace

TcpPort::TcpPort(QString host, quint16 port) : TcpPort(std::move(host), port, Timeouts{}) {}

TcpPort::TcpPort(QString host, quint16 port, Timeouts timeouts)
    : mHost(std::move(host)), mPort(port), mTimeouts(timeouts) {}

TcpPort::~TcpPort() {
    closeSocket();
}

void TcpPort::closeSocket() {
    mAbort.disarm();
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
}

QString TcpPort::where() const {
    return QStringLiteral("%1 port %2").arg(mHost).arg(mPort);
}

// The connection is made on a socket of our own rather than through Qt's, so
// that a printer resetting it at once is told apart from other failures: Qt
// reports that as "Invalid socket descriptor" or not at all, depending on
// when the reset arrives.
void TcpPort::OpenPort() {
    closeSocket();
    mFailed = false;
    mResetOnOpen = false;
    const QString host = mHost.trimmed();
    if (host.isEmpty())
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("No printer host name or address is set for TCP/IP."));
    if (mPort == 0)
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("Port 0 is not a valid printer port for %1.").arg(mHost));

    const QDeadlineTimer deadline(mTimeouts.connect);
    QList<QHostAddress> addresses;
    if (QHostAddress numeric; numeric.setAddress(host)) {
        addresses.append(numeric);
    } else {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
            throw RuntimeError(errors::TcpHostNotFound,
                               QStringLiteral("The printer host %1 was not found (%2).")
                                   .arg(mHost, info.errorString()));
        addresses = info.addresses();
    }

    int error = EAFNOSUPPORT;
    for (const QHostAddress &address : addresses) {
        sockaddr_storage storage;
        socklen_t length = 0;
        if (!socketAddress(address, mPort, &storage, &length))
            continue;
        const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            refuseLocalLimit(error);
            continue;
        }
        mAbort.arm(fd);
        error = 0;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&storage), length) != 0) {
            error = errno;
            while (error == EINPROGRESS || error == EINTR) {
                pollfd p{fd, POLLOUT, 0};
                const int ready = ::poll(&p, 1, remainingMs(deadline));
                if (ready == 0) {
                    error = ETIMEDOUT;
                } else if (ready > 0) {
                    error = pendingError(fd);
                } else if (errno != EINTR) {
                    error = errno;
                }
            }
        }
        // Reset right after it was made: the send reports it, with the
        // job's size.
        if (error == 0 || isReset(error)) {
            mFd = fd;
            mEarlyEndWatch = QDeadlineTimer(EarlyEndWatch, Qt::PreciseTimer);
            mResetOnOpen = error != 0;
            return;
        }
        mAbort.disarm();
        ::close(fd);
        if (error == ETIMEDOUT || deadline.hasExpired())
            break;
    }

    switch (error) {
    case ECONNREFUSED:
        throw RuntimeError(errors::TcpConnectionRefused,
                           QStringLiteral("The printer at %1 refused the connection: nothing is "
                                          "listening there, or the printer is busy with another "
                                          "connection.")
                               .arg(where()));
    case ETIMEDOUT:
        throw RuntimeError(errors::TcpConnectTimeout,
                           QStringLiteral("The printer at %1 did not answer within %2 s.")
                               .arg(where(), seconds(mTimeouts.connect)));
    default:
        throw RuntimeError(errors::TcpConnectFailed,
                           QStringLiteral("Could not connect to the printer at %1: %2.")
                               .arg(where(), systemReason(error)));
    }
}

void TcpPort::SendData(const QByteArray &data) {
    if (mFd < 0)
        throw RuntimeError(errors::NotOpen,
                           QStringLiteral("The connection to %1 is not open.").arg(where()));
    // Any failure below leaves the printer with part of the job; ClosePort
    // then drops the connection instead of waiting for a confirmation.
    mFailed = true;
    mTotal = data.size();
    mHandedOver = 0;
    const int fd = mFd;
    if (mResetOnOpen)
        throw brokenConnection(ECONNRESET, errors::TcpWriteFailed);
    const QDeadlineTimer deadline(mTimeouts.write);
    // Straight to the socket rather than through Qt's buffer, so that a
    // failure knows exactly how much of the job the system had taken.
    while (mHandedOver < mTotal) {
        const ssize_t n = ::send(fd, data.constData() + mHandedOver,
                                 std::size_t(mTotal - mHandedOver), MSG_NOSIGNAL);
        if (n > 0) {
            mHandedOver += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw brokenConnection(errno, errors::TcpWriteFailed);
        if (deadline.hasExpired())
            throw RuntimeError(
                errors::TcpWriteTimeout,
                QStringLiteral("The printer at %1 stopped taking data: %2 of %3 bytes were not "
                               "sent within %4 s.")
                    .arg(where())
                    .arg(mTotal - mHandedOver)
                    .arg(mTotal)
                    .arg(seconds(mTimeouts.write)));
        pollfd p{fd, POLLOUT, 0};
        // An error shows as POLLERR; the next send() then reports it.
        if (::poll(&p, 1, remainingMs(deadline)) < 0 && errno != EINTR)
            throw brokenConnection(errno, errors::TcpWriteFailed);
    }
    mFailed = false;
}

std::unique_ptr<StatusLink> TcpPort::statusLink() {
    if (mFd < 0 || mFailed)
        return nullptr;
    return std::make_unique<DescriptorLink>(mFd, QStringLiteral("the printer at %1").arg(where()));
}

void TcpPort::ClosePort() {
    if (mFd < 0)
        return;
    if (mFailed || mResetOnOpen) {
        closeSocket();
        return;
    }
    try {
        closeGracefully();
    } catch (...) {
        closeSocket();
        throw;
    }
    closeSocket();
}

RuntimeError TcpPort::brokenConnection(int error, int number) const {
    if (error == 0)
        error = ENOTCONN; // torn down without a word: only a reset does that
    // A printer that resets shows as ECONNRESET, as EPIPE (it had ended its
    // side first) or as ENOTCONN (the reset had already torn the connection
    // down); all three mean the printer dropped the job.
    if (isReset(error))
        return RuntimeError(errors::TcpWriteFailed,
                            QStringLiteral("The printer at %1 reset the connection after %2 of "
                                           "%3 bytes.")
                                .arg(where())
                                .arg(mHandedOver)
                                .arg(mTotal));
    return RuntimeError(
        number,
        QStringLiteral("The connection to %1 broke: %2.").arg(where(), systemReason(error)));
}

// Closing a socket returns before the printer has the data, and a printer
// that closes with unread data resets the connection and drops the job. So:
// send our end of data and wait until the connection is over, the printer
// having ended its side too, or, with a printer that keeps its side open,
// until every byte and our end of data are acknowledged. A reset at any point
// is a failure. The printer's end of data shows it read ours only when it
// came after ours: a printer that ended its side at once and then resets
// unread must not pass for one that read everything.
void TcpPort::closeGracefully() {
    const int fd = mFd;
    const QDeadlineTimer deadline(mTimeouts.close);

    // A printer that ends its side as soon as it accepts does so moments
    // after the connection is made; our end of data waits for that moment
    // to pass, or its early end would look like an answer to ours.
    pollfd p{fd, POLLRDHUP, 0};
    for (;;) {
        const timespec wait{0, long(std::max<qint64>(0, mEarlyEndWatch.remainingTimeNSecs()))};
        if (::ppoll(&p, 1, &wait, nullptr) >= 0 || errno != EINTR)
            break;
    }
    if (p.revents & (POLLERR | POLLHUP))
        throw brokenConnection(pendingError(fd), errors::TcpCloseFailed);
    const bool earlyEnd = p.revents & POLLRDHUP;
    if (earlyEnd) {
        // Its early end proves nothing. Ending ours now would let its system
        // finish the connection quietly, and a reset that follows would never
        // reach us; so give the reset a moment to come first.
        const QDeadlineTimer grace(std::min(mTimeouts.close, EarlyEndGrace));
        p = {fd, 0, 0}; // errors and hang-ups only
        while (!grace.hasExpired() && !(p.revents & (POLLERR | POLLHUP)))
            ::poll(&p, 1, remainingMs(grace));
        if (p.revents & (POLLERR | POLLHUP))
            throw brokenConnection(pendingError(fd), errors::TcpCloseFailed);
    }

    if (::shutdown(fd, SHUT_WR) != 0)
        throw brokenConnection(errno, errors::TcpCloseFailed);

    bool printerEnded = earlyEnd;
    char scratch[4096];
    for (;;) {
        p = {fd, short(printerEnded ? 0 : POLLIN), 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw brokenConnection(errno, errors::TcpCloseFailed);
        if (ready == 0) {
            // A printer that keeps its side open: its system has taken every
            // byte and our end of data, and nothing says it threw them away.
            int unacknowledged = 0;
            if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged > 0)
                throw RuntimeError(
                    errors::TcpCloseFailed,
                    QStringLiteral("The printer at %1 did not confirm that it received all the "
                                   "data (%2 bytes were not acknowledged within %3 s).")
                        .arg(where())
                        .arg(unacknowledged)
                        .arg(seconds(mTimeouts.close)));
            break;
        }
        if (p.revents & POLLERR)
            throw brokenConnection(pendingError(fd), errors::TcpCloseFailed);
        if (!printerEnded && (p.revents & POLLIN)) {
            // Whatever the printer says is dropped; recv() also reports a reset.
            const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (n == 0)
                printerEnded = true;
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                throw brokenConnection(errno, errors::TcpCloseFailed);
        }
        // Over for good: both ends of data sent and acknowledged.
        if (p.revents & POLLHUP)
            break;
    }
    if (const int error = pendingError(fd))
        throw brokenConnection(error, errors::TcpCloseFailed);
}

const TcpLibrary &builtInTcp() {
    static const TcpLibrary library{
        ConnectionLibraryAbi,
        [](const QString &host, quint16 port) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<TcpPort>(host, port);
        },
    };
    return library;
}

} // namespace krv::comm
