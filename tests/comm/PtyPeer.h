#pragma once

// A serial peer for tests: a pseudo-terminal pair whose master end the test
// holds while the program under test opens the terminal end by its path.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace krv::test {

// The test keeps the terminal end open too, so the
// pair lives on between the port's opens and closes.
class Pty {
public:
    Pty() {
        char name[256] = {};
        if (::openpty(&mMaster, &mSlave, name, nullptr, nullptr) == 0) {
            ::fcntl(mMaster, F_SETFL, O_NONBLOCK);
            // Programs the test starts must not hold the line's ends too.
            ::fcntl(mMaster, F_SETFD, FD_CLOEXEC);
            ::fcntl(mSlave, F_SETFD, FD_CLOEXEC);
            mPath = QString::fromLocal8Bit(name);
        }
    }
    ~Pty() {
        ::close(mMaster);
        ::close(mSlave);
    }
    [[nodiscard]] const QString &path() const { return mPath; }
    [[nodiscard]] int slave() const { return mSlave; }
    // Closes the master end: the terminal end hangs up, as a line whose far
    // end drops it.
    void hangUp() {
        ::close(mMaster);
        mMaster = -1;
    }
    void send(char c) const { QCOMPARE(::write(mMaster, &c, 1), ssize_t(1)); }
    // Sends XOFF and returns once the terminal end has acted on it, which the
    // kernel does in its own time: a byte sent after it has come through.
    void hold() const {
        QCOMPARE(::write(mMaster, "\x13m", 2), ssize_t(2));
        pollfd pfd{mSlave, POLLIN, 0};
        QVERIFY(::poll(&pfd, 1, 5000) == 1);
        char marker = 0;
        QVERIFY(::read(mSlave, &marker, 1) == 1 && marker == 'm');
    }
    // What has arrived within `wait`, stopping early once `count` bytes are in.
    [[nodiscard]] QByteArray read(qsizetype count, std::chrono::milliseconds wait) const {
        QByteArray got;
        const QDeadlineTimer deadline(wait);
        while (got.size() < count && !deadline.hasExpired()) {
            char buffer[4096];
            const ssize_t n = ::read(mMaster, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
                continue;
            }
            pollfd pfd{mMaster, POLLIN, 0};
            ::poll(&pfd, 1, int(std::max<qint64>(1, deadline.remainingTime())));
        }
        return got;
    }

private:
    int mMaster = -1;
    int mSlave = -1;
    QString mPath;
};

} // namespace krv::test
