#include "SerialPort.h"

#include "CommErrors.h"
#include "RuntimeError.h"
#include "SystemReason.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace krv::comm {

namespace {

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0, 'g', 3);
}

RuntimeError missing(const QString &device) {
    return RuntimeError(
        errors::SerialMissing,
        QStringLiteral("The serial device %1 does not exist. Check that the printer or its USB "
                       "serial adapter is plugged in (\"ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*\" "
                       "lists the serial ports) or, for Bluetooth, that the link is bound "
                       "(\"rfcomm\").")
            .arg(device));
}

RuntimeError busy(const QString &device, const QString &how) {
    return RuntimeError(errors::SerialBusy,
                        QStringLiteral("The serial device %1 is in use by another program (%2). "
                                       "Close that program, or stop the service that holds the "
                                       "port (a terminal login or a modem manager), and try "
                                       "again.")
                            .arg(device, how));
}

RuntimeError notPermitted(const QString &device, int error) {
    struct stat st {};
    QString owner;
    bool groupMayUse = false;
    if (::stat(QFile::encodeName(device).constData(), &st) == 0) {
        const struct group *gr = ::getgrgid(st.st_gid);
        owner = gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid);
        groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    }
    if (!groupMayUse)
        return RuntimeError(
            errors::SerialNotPermitted,
            QStringLiteral("This user may not open the serial device %1 (%2). Ask the "
                           "administrator to give the device the right permissions (a udev "
                           "rule).")
                .arg(device, systemReason(error)));
    return RuntimeError(
        errors::SerialNotPermitted,
        QStringLiteral("This user may not open the serial device %1 (%2): it belongs to the "
                       "group %3. Join that group with \"sudo usermod -aG %3 $USER\", then log "
                       "in again.")
            .arg(device, systemReason(error), owner));
}

RuntimeError notTerminal(const QString &device, const QString &what) {
    return RuntimeError(errors::SerialNotTerminal,
                        QStringLiteral("%1 is not a serial port (%2). Give a serial device such "
                                       "as /dev/ttyUSB0 or /dev/rfcomm0.")
                            .arg(device, what));
}

// The lock file QSerialPort and other serial programs take in /var/lock.
QString lockFilePath(const QString &device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("/var/lock/LCK..") + name;
}

// Opens the device for our own reads and writes, telling a missing device
// from a forbidden or busy one by the system's own answer, which
// QSerialPort's error codes do not. The administrator passes the kernel's
// exclusive mark, so it is read rather than relied on; a lock taken with
// flock counts too, and is taken here for as long as the port is open.
int openDevice(const QString &device) {
    const QByteArray path = QFile::encodeName(device);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        if (errno == EACCES)
            throw notPermitted(device, errno);
        throw missing(device);
    }
    if (S_ISDIR(st.st_mode))
        throw notTerminal(device, QStringLiteral("a folder"));
    if (!S_ISCHR(st.st_mode))
        throw notTerminal(device, QStringLiteral("not a character device"));
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            throw missing(device);
        case EACCES:
        case EPERM:
            throw notPermitted(device, error);
        case EBUSY:
            throw busy(device, QStringLiteral("it is open for exclusive use"));
        default:
            throw RuntimeError(errors::SerialOpenFailed,
                               QStringLiteral("Could not open the serial device %1: %2.")
                                   .arg(device, systemReason(error)));
        }
    }
    termios attributes{};
    const bool terminal = ::tcgetattr(fd, &attributes) == 0;
    int exclusive = 0;
    const bool held = terminal && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    const bool locked =
        terminal && !held && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (terminal && !held && !locked)
        return fd;
    ::close(fd);
    if (!terminal)
        throw notTerminal(device, QStringLiteral("a device that is not a terminal"));
    if (held)
        throw busy(device, QStringLiteral("it is open for exclusive use"));
    throw busy(device, QStringLiteral("it is locked"));
}

} // namespace

SerialPort::SerialPort(SerialSettings settings) : SerialPort(std::move(settings), Timeouts{}) {}

SerialPort::SerialPort(SerialSettings settings, Timeouts timeouts)
    : mSettings(std::move(settings)), mTimeouts(timeouts) {}

SerialPort::~SerialPort() {
    closeDevice(true);
}

void SerialPort::closeDevice(bool discardOutput) {
    if (!mPort)
        return;
    // The system's close waits up to half a minute for output that flow
    // control holds back; output that is given up on is dropped first.
    if (discardOutput && mFd >= 0)
        ::tcflush(mFd, TCOFLUSH);
    // Ours first, so that QSerialPort's is the last close and the system
    // lets what it still holds go out before it lets go of the line.
    ::close(mFd);
    mFd = -1;
    mPort->close();
    mPort.reset();
}

qsizetype SerialPort::queuedOutput() const {
    int queued = 0;
    return mFd >= 0 && ::ioctl(mFd, TIOCOUTQ, &queued) == 0 ? std::max(queued, 0) : 0;
}

void SerialPort::OpenPort() {
    closeDevice(true);
    mFailed = false;
    const QString &device = mSettings.device;
    if (device.isEmpty())
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("No serial device is set to print to."));
    if (mSettings.speed <= 0)
        throw RuntimeError(errors::SerialSettingRefused,
                           QStringLiteral("%1 baud is not a speed for the serial device %2.")
                               .arg(mSettings.speed)
                               .arg(device));
    mFd = openDevice(device);

    // QSerialPort takes the lock file, marks the line exclusive and sets it
    // up; the data goes through our own descriptor. Opened for writing only,
    // it watches the line with no socket notifier, which would tie the port
    // to one thread's event loop.
    mPort = std::make_unique<QSerialPort>();
    mPort->setPortName(device);
    if (!mPort->open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError error = mPort->error();
        const QString reason = mPort->errorString();
        mPort.reset();
        ::close(mFd);
        mFd = -1;
        if (error == QSerialPort::DeviceNotFoundError)
            throw missing(device);
        // The device itself was open to us a moment ago, so what failed is
        // taking its lock file.
        if (error == QSerialPort::PermissionError) {
            const QString lock = lockFilePath(device);
            throw busy(device, QFileInfo::exists(lock)
                                   ? QStringLiteral("its lock file %1 is taken").arg(lock)
                                   : reason);
        }
        throw RuntimeError(
            errors::SerialOpenFailed,
            QStringLiteral("Could not open the serial device %1: %2.").arg(device, reason));
    }

    auto refuse = [&](const QString &what) {
        const QString reason = mPort->errorString();
        closeDevice(true);
        return RuntimeError(errors::SerialSettingRefused,
                            QStringLiteral("The serial device %1 does not accept %2 (%3).")
                                .arg(device, what, reason));
    };
    if (!mPort->setBaudRate(mSettings.speed))
        throw refuse(QStringLiteral("the speed %1 baud").arg(mSettings.speed));
    const QString frame = QStringLiteral("the frame %1").arg(frameText(mSettings));
    if (!mPort->setDataBits(mSettings.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8))
        throw refuse(frame);
    QSerialPort::Parity parity = QSerialPort::NoParity;
    if (mSettings.parity == SerialSettings::Parity::Even)
        parity = QSerialPort::EvenParity;
    else if (mSettings.parity == SerialSettings::Parity::Odd)
        parity = QSerialPort::OddParity;
    if (!mPort->setParity(parity))
        throw refuse(frame);
    if (!mPort->setStopBits(mSettings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop))
        throw refuse(frame);
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    if (mSettings.flow == SerialSettings::Flow::RtsCts)
        flow = QSerialPort::HardwareControl;
    else if (mSettings.flow == SerialSettings::Flow::XonXoff)
        flow = QSerialPort::SoftwareControl;
    if (!mPort->setFlowControl(flow))
        throw refuse(QStringLiteral("the flow control %1").arg(flowName(mSettings.flow)));
    // Opened for writing only, QSerialPort leaves the receiver off; the
    // printer's XOFF and its answers need it. With XON/XOFF it also lets any
    // byte from the printer end an XOFF, and a printer that reports its
    // status unasked would then be sent data it cannot take: only XON does.
    termios line{};
    if (::tcgetattr(mFd, &line) == 0) {
        line.c_cflag |= CREAD;
        line.c_iflag &= ~tcflag_t(IXANY);
        if (::tcsetattr(mFd, TCSANOW, &line) == 0)
            return;
    }
    const int error = errno;
    closeDevice(true);
    throw RuntimeError(errors::SerialOpenFailed,
                       QStringLiteral("Could not set up the receiver of the serial device %1: "
                                      "%2.")
                           .arg(device, systemReason(error)));
}

void SerialPort::SendData(const QByteArray &data) {
    if (mFd < 0)
        throw RuntimeError(
            errors::NotOpen,
            QStringLiteral("The serial device %1 is not open.").arg(mSettings.device));
    mFailed = true;
    QDeadlineTimer stall(mTimeouts.write);
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = mAbort.aborted() ? -1 : ::write(mFd, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            stall.setRemainingTime(mTimeouts.write);
            continue;
        }
        if (!mAbort.aborted() && n < 0 && errno == EINTR)
            continue;
        if (mAbort.aborted() || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
            const int wait = mAbort.aborted() ? 0 : int(std::max<qint64>(0, stall.remainingTime()));
            const int ready = wait > 0 ? mAbort.wait(mFd, POLLOUT, wait) : 0;
            if (!mAbort.aborted() && (ready > 0 || (ready < 0 && errno == EINTR)))
                continue;
            // Bytes still in the system's queue have not reached the printer either.
            const qsizetype notSent = std::min(data.size(), left + queuedOutput());
            if (mAbort.aborted())
                throw RuntimeError(errors::SerialWriteFailed,
                                   QStringLiteral("The send to %1 was cancelled: %2 of %3 bytes "
                                                  "were left.")
                                       .arg(mSettings.device)
                                       .arg(notSent)
                                       .arg(data.size()));
            throw RuntimeError(
                errors::SerialWriteTimeout,
                QStringLiteral("The printer on %1 held the job back for %2 s (flow control %3): "
                               "%4 of %5 bytes were left. Check that the printer is ready "
                               "(paper, cover) and set to the same flow control.")
                    .arg(mSettings.device, seconds(mTimeouts.write), flowName(mSettings.flow))
                    .arg(notSent)
                    .arg(data.size()));
        }
        const int error = n < 0 ? errno : EIO;
        throw RuntimeError(errors::SerialWriteFailed,
                           QStringLiteral("Could not write to the serial device %1: %2.")
                               .arg(mSettings.device, systemReason(error)));
    }
    mFailed = false;
}

void SerialPort::ClosePort() {
    if (!mPort)
        return;
    if (mFailed) {
        closeDevice(true);
        return;
    }
    // The system sends what it holds at the line's own pace; as long as that
    // goes on the wait goes on, and it ends when the printer stops taking data.
    qsizetype queued = queuedOutput();
    QDeadlineTimer stall(mTimeouts.write);
    while (queued > 0 && !mAbort.aborted() && !stall.hasExpired()) {
        (void)mAbort.wait(-1, 0, 10);
        const qsizetype now = queuedOutput();
        if (now < queued)
            stall.setRemainingTime(mTimeouts.write);
        queued = now;
    }
    // The system's queue is empty; the adapter's own buffer is sent within a
    // few characters' time, which tcdrain waits for, before QSerialPort's
    // close puts the line back as it found it (another speed, say).
    if (queued == 0 && !mAbort.aborted())
        ::tcdrain(mFd);
    closeDevice(queued > 0);
    if (queued > 0 && mAbort.aborted())
        throw RuntimeError(errors::SerialWriteFailed,
                           QStringLiteral("The send to %1 was cancelled: %2 bytes had not left.")
                               .arg(mSettings.device)
                               .arg(queued));
    if (queued > 0)
        throw RuntimeError(errors::SerialDrainTimeout,
                           QStringLiteral("The printer on %1 stopped taking data before the end "
                                          "of the job: %2 bytes had not left.")
                               .arg(mSettings.device)
                               .arg(queued));
}

QByteArray SerialPort::readAvailable(std::chrono::milliseconds wait) {
    if (mFd < 0)
        throw RuntimeError(
            errors::NotOpen,
            QStringLiteral("The serial device %1 is not open.").arg(mSettings.device));
    QByteArray got;
    const QDeadlineTimer deadline(wait);
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::read(mFd, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw RuntimeError(errors::SerialReadFailed,
                               QStringLiteral("Could not read from the serial device %1: %2.")
                                   .arg(mSettings.device, systemReason(errno)));
        // Nothing more now: done once something came, else wait for a first
        // byte. A raw line without a minimum count reads 0 when nothing is
        // there, so 0 is no hang-up; poll() tells that apart.
        if (!got.isEmpty() || mAbort.aborted() || deadline.hasExpired())
            return got;
        short revents = 0;
        const int ready = mAbort.wait(mFd, POLLIN, int(deadline.remainingTime()), &revents);
        if (ready == 0 || ((revents & (POLLHUP | POLLERR)) && !(revents & POLLIN)))
            return got;
    }
}

} // namespace krv::comm
