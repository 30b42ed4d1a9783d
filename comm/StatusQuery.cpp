#include "StatusQuery.h"

#include "CommErrors.h"
#include "RuntimeError.h"
#include "SystemReason.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace krv::comm {

namespace {

// A printer answers four bytes. One that sends far more is streaming
// something else (a device that is not a printer, say) and is not read on
// for the rest of the bound.
constexpr qsizetype MaxBytesRead = 64 * 1024;

int remainingMs(const QDeadlineTimer &deadline) {
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, 1000 * 1000));
}

PrinterStatus noAnswer(const QString &why) {
    PrinterStatus status;
    status.detail = why;
    return status;
}

} // namespace

DescriptorLink::DescriptorLink(int fd, QString where) : mFd(fd), mWhere(std::move(where)) {
    struct stat st {};
    mSocket = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

bool DescriptorLink::write(QByteArrayView bytes, const QDeadlineTimer &deadline) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const auto left = std::size_t(bytes.size() - done);
        // A socket whose printer has gone must not end the program by SIGPIPE.
        const ssize_t n = mSocket ? ::send(mFd, bytes.data() + done, left, MSG_NOSIGNAL)
                                  : ::write(mFd, bytes.data() + done, left);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw RuntimeError(errors::StatusWriteFailed,
                               QStringLiteral("Could not ask %1 for the status: %2.")
                                   .arg(mWhere, systemReason(errno == EPIPE ? ECONNRESET : errno)));
        if (deadline.hasExpired())
            return false;
        pollfd p{mFd, POLLOUT, 0};
        ::poll(&p, 1, remainingMs(deadline));
    }
    return true;
}

QByteArray DescriptorLink::read(const QDeadlineTimer &deadline, bool *ended) {
    char buffer[4096];
    for (;;) {
        pollfd p{mFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw RuntimeError(errors::StatusReadFailed,
                               QStringLiteral("Could not read the status from %1: %2.")
                                   .arg(mWhere, systemReason(errno)));
        if (ready == 0)
            return {};
        const ssize_t n = ::read(mFd, buffer, sizeof buffer);
        if (n > 0)
            return QByteArray(buffer, n);
        // A printer that ends the connection when asked is a broken
        // connection, as a reset is; a device that gives nothing back is not.
        if (n == 0 && mSocket)
            throw RuntimeError(errors::StatusReadFailed,
                               QStringLiteral("%1 closed the connection without answering the "
                                              "status request.")
                                   .arg(mWhere));
        if (n == 0) {
            *ended = true;
            return {};
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            if (deadline.hasExpired())
                return {};
            continue;
        }
        // A device that takes data but has no way back: nothing will come.
        if (!mSocket && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            *ended = true;
            return {};
        }
        throw RuntimeError(errors::StatusReadFailed,
                           QStringLiteral("Could not read the status from %1: %2.")
                               .arg(mWhere, systemReason(errno)));
    }
}

PrinterStatus queryStatus(StatusLink &link, std::chrono::milliseconds bound, qint64 *sent) {
    const QDeadlineTimer deadline(bound, Qt::PreciseTimer);
    const QDeadlineTimer now(0);
    qsizetype received = 0;
    bool ended = false;
    const auto tooMuch = [] {
        return noAnswer(QStringLiteral("more than %1 bytes arrived that were not status answers")
                            .arg(MaxBytesRead));
    };
    const auto closed = [] { return noAnswer(QStringLiteral("the device gives nothing back")); };

    // Whatever was sent before we asked is not an answer.
    for (QByteArray waiting; !(waiting = link.read(now, &ended)).isEmpty();)
        if ((received += waiting.size()) > MaxBytesRead)
            return tooMuch();
    if (ended)
        return closed();

    std::array<std::uint8_t, 4> answers{};
    for (int n = 1; n <= 4; ++n) {
        const std::array<char, 3> request = statusRequest(n);
        if (!link.write(QByteArrayView(request.data(), qsizetype(request.size())), deadline))
            return noAnswer(QStringLiteral("the printer did not take the request within %1 ms")
                                .arg(bound.count()));
        if (sent)
            *sent += qsizetype(request.size());
        std::optional<std::uint8_t> answer;
        // Until the next request goes out: a second byte that could be an
        // answer means we cannot tell which one is.
        const auto take = [&](const QByteArray &bytes) {
            for (const char c : bytes) {
                if (!isStatusAnswer(std::uint8_t(c)))
                    continue;
                if (answer)
                    return false;
                answer = std::uint8_t(c);
            }
            return true;
        };
        while (!answer) {
            const QByteArray got = link.read(deadline, &ended);
            if (got.isEmpty())
                return ended ? closed()
                             : noAnswer(QStringLiteral("no answer to request %1 within %2 ms")
                                            .arg(n)
                                            .arg(bound.count()));
            if ((received += got.size()) > MaxBytesRead)
                return tooMuch();
            if (!take(got))
                return noAnswer(QStringLiteral("more than one byte answered request %1").arg(n));
        }
        for (QByteArray more; !(more = link.read(now, &ended)).isEmpty();) {
            if ((received += more.size()) > MaxBytesRead)
                return tooMuch();
            if (!take(more))
                return noAnswer(QStringLiteral("more than one byte answered request %1").arg(n));
        }
        answers[std::size_t(n - 1)] = *answer;
    }
    return decodePrinterStatus(answers);
}

QString noStatusThroughSpooler() {
    return QStringLiteral("status is not available through the print spooler");
}

QString noStatusThroughFile() {
    return QStringLiteral("status is not available through a file");
}

} // namespace krv::comm
