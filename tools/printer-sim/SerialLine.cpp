#include "SerialLine.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace krv::sim {

namespace {

QString systemError(const char *what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SerialLine::SerialLine(QObject *parent) : QIODevice(parent) {}

SerialLine::~SerialLine() {
    if (mIdleTerminal >= 0)
        ::close(mIdleTerminal);
    if (mMaster >= 0)
        ::close(mMaster);
}

bool SerialLine::openLine() {
    mMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mMaster < 0 || ::grantpt(mMaster) != 0 || ::unlockpt(mMaster) != 0) {
        setErrorString(systemError("cannot create a pseudo-terminal"));
        return false;
    }
    const char *name = ::ptsname(mMaster);
    if (!name) {
        setErrorString(systemError("cannot name the pseudo-terminal"));
        return false;
    }
    mPath = QString::fromLocal8Bit(name);
    if (!holdTerminalEnd())
        return false;
    // Raw once, here: a sender that sets its own speed, frame and flow
    // control leaves them for the next one, as on a real port.
    termios raw{};
    if (::tcgetattr(mIdleTerminal, &raw) != 0) {
        setErrorString(systemError("cannot read the terminal settings"));
        return false;
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(mIdleTerminal, TCSANOW, &raw) != 0) {
        setErrorString(systemError("cannot make the terminal raw"));
        return false;
    }
    mNotifier = new QSocketNotifier(mMaster, QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &SerialLine::masterActivated);
    return QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool SerialLine::holdTerminalEnd() {
    mIdleTerminal =
        ::open(QFile::encodeName(mPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mIdleTerminal < 0) {
        setErrorString(systemError("cannot open the terminal end"));
        return false;
    }
    // What the last sender never read (an XOFF it ignored) is not the next
    // sender's.
    ::tcflush(mIdleTerminal, TCIFLUSH);
    return true;
}

void SerialLine::masterActivated() {
    if (mIdleTerminal >= 0) {
        ::close(mIdleTerminal);
        mIdleTerminal = -1;
    }
    const qsizetype before = mPending.size();
    bool hungUpNow = false;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(mMaster, buffer, sizeof buffer);
        if (got > 0) {
            mPending.append(buffer, got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            // EIO once the last terminal end is closed and its bytes are read.
            hungUpNow = got == 0 || errno != EAGAIN;
            break;
        }
    }
    if (mPending.size() > before)
        emit readyRead();
    if (!hungUpNow)
        return;
    if (!holdTerminalEnd()) {
        mNotifier->setEnabled(false);
        emit hungUp();
        emit broken(errorString());
        return;
    }
    emit hungUp();
}

qint64 SerialLine::bytesAvailable() const {
    return mPending.size() + QIODevice::bytesAvailable();
}

qint64 SerialLine::readData(char *data, qint64 maxSize) {
    const qint64 n = std::min<qint64>(maxSize, mPending.size());
    std::memcpy(data, mPending.constData(), std::size_t(n));
    mPending.remove(0, n);
    return n;
}

qint64 SerialLine::writeData(const char *data, qint64 maxSize) {
    for (;;) {
        const ssize_t put = ::write(mMaster, data, std::size_t(maxSize));
        if (put >= 0)
            return put;
        if (errno != EINTR) {
            setErrorString(systemError("cannot write to the line"));
            return -1;
        }
    }
}

} // namespace krv::sim
