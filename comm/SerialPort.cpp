#include "SerialPort.h"

#include "BuiltInConnections.h"
#include "CommErrors.h"
#include "HeldLines.h"
#include "RuntimeError.h"
#include "SystemReason.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

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
#include <csignal>
#include <cstdint>
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

// The lock files QSerialPort and other serial programs take for the device
// (/var/lock is /run/lock on current systems; both are looked at): named by
// the device itself, "LCK..ttyUSB0", "LCK..pts_3", whatever path led to it.
QStringList lockFilePaths(const QString &canonical) {
    QString name = canonical.startsWith(QLatin1String("/dev/")) ? canonical.mid(5) : canonical;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList paths;
    QStringList folders;
    for (const QString &folder : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")}) {
        const QString real = QFileInfo(folder).canonicalFilePath();
        if (real.isEmpty() || folders.contains(real))
            continue;
        folders.append(real);
        paths.append(folder + QStringLiteral("/LCK..") + name);
    }
    return paths;
}

// The process a lock file names: its PID as text ("%10d\n", with or without
// the program's name after it) or as 4 binary bytes. 0 when it names none.
pid_t lockOwner(const QByteArray &content) {
    const QByteArray text = content.trimmed();
    qsizetype digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    bool ok = false;
    const qlonglong pid = text.left(digits).toLongLong(&ok);
    if (ok && pid > 0 && pid <= INT32_MAX)
        return pid_t(pid);
    if (content.size() == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        return binary > 0 ? pid_t(binary) : 0;
    }
    return 0;
}

QString processName(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                          : QString();
}

// Another program's lock file is respected whatever its format, as long as
// its process lives; QSerialPort's own check would take a lock without its
// program-name line for stale and delete it. A lock whose process is gone is
// removed here, and QSerialPort then takes a fresh one.
void respectLockFiles(const QString &device, const QString &canonical) {
    for (const QString &path : lockFilePaths(canonical)) {
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly)) {
            if (lock.exists())
                throw busy(device, QStringLiteral("its lock file %1 is there and cannot be read: "
                                                  "%2")
                                       .arg(path, lock.errorString()));
            continue;
        }
        const pid_t pid = lockOwner(lock.read(256));
        lock.close();
        // One that names no process may be being written this moment.
        if (pid == 0)
            throw busy(device,
                       QStringLiteral("its lock file %1 is there but names no process").arg(path));
        if (::kill(pid, 0) == 0 || errno == EPERM) {
            const QString name = processName(pid);
            throw busy(device, QStringLiteral("its lock file %1 is held by process %2%3")
                                   .arg(path)
                                   .arg(pid)
                                   .arg(name.isEmpty() ? QString() : " (" + name + ')'));
        }
        if (!lock.remove() && lock.exists())
            throw busy(device, QStringLiteral("its lock file %1 was left by process %2, which has "
                                              "ended, and cannot be removed: %3")
                                   .arg(path)
                                   .arg(pid)
                                   .arg(lock.errorString()));
    }
}

// Opens the device for our own reads and writes, telling a missing device
// from a forbidden or busy one by the system's own answer, which
// QSerialPort's error codes do not. The administrator passes the kernel's
// exclusive mark, so it is read rather than relied on; a lock taken with
// flock counts too, and is taken here for as long as the port is open.
// `device` is the name the user gave, for the messages; `resolved` the
// device itself.
int openDevice(const QString &device, const QString &resolved) {
    const QByteArray path = QFile::encodeName(resolved.isEmpty() ? device : resolved);
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

// The serial port's own reads and writes, which keep its lock and line set-up.
// A request that flow control holds back past the query's one deadline is no
// answer, as over any other link: not a job held back.
class SerialLink : public StatusLink {
public:
    explicit SerialLink(SerialPort &port) : mPort(port) {}
    bool write(QByteArrayView bytes, const QDeadlineTimer &deadline) override {
        return mPort.writeWithin(bytes.toByteArray(), deadline);
    }
    QByteArray read(const QDeadlineTimer &deadline, bool *) override {
        return mPort.readAvailable(
            std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
    }

private:
    SerialPort &mPort;
};

} // namespace

SerialPort::SerialPort(SerialSettings settings) : SerialPort(std::move(settings), Timeouts{}) {}

SerialPort::SerialPort(SerialSettings settings, Timeouts timeouts)
    : mSettings(std::move(settings)), mTimeouts(timeouts) {}

SerialPort::~SerialPort() {
    closeDevice(true);
}

void SerialPort::closeDevice(bool discardOutput) {
    // QSerialPort's close takes the exclusive mark and the lock file off and
    // puts the line settings back; only then may a signal end the program.
    struct Leave {
        SerialPort *port;
        ~Leave() {
            if (port->mHeld)
                held_lines::leave(&port->mAbort);
            port->mHeld = false;
        }
    } leave{this};
    if (!mPort) {
        if (mFd >= 0)
            ::close(mFd);
        mFd = -1;
        return;
    }
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
    if (!held_lines::enter(&mAbort))
        throw RuntimeError(errors::SerialWriteFailed,
                           QStringLiteral("The send to %1 was cancelled: the program is "
                                          "stopping.")
                               .arg(device));
    mHeld = true;
    // The path as given, relative to the working folder; QSerialPort would
    // take a bare name for one in /dev. The device it leads to is opened,
    // locked and set up, whatever links lie on the way.
    const QString resolved = QFileInfo(device).canonicalFilePath();
    try {
        mFd = openDevice(device, resolved);
        respectLockFiles(device, resolved);
    } catch (...) {
        closeDevice(true);
        throw;
    }

    // QSerialPort takes the lock file, marks the line exclusive and sets it
    // up; the data goes through our own descriptor. Opened for writing only,
    // it watches the line with no socket notifier, which would tie the port
    // to one thread's event loop.
    mPort = std::make_unique<QSerialPort>();
    mPort->setPortName(resolved);
    if (!mPort->open(QIODevice::WriteOnly)) {
        const QSerialPort::SerialPortError error = mPort->error();
        const QString reason = mPort->errorString();
        mPort.reset();
        closeDevice(true);
        if (error == QSerialPort::DeviceNotFoundError)
            throw missing(device);
        // The device itself was open to us a moment ago, so what failed is
        // taking its lock file: another program took it since we looked.
        if (error == QSerialPort::PermissionError) {
            const QStringList locks = lockFilePaths(resolved);
            const auto taken = std::find_if(locks.begin(), locks.end(), [](const QString &lock) {
                return QFileInfo::exists(lock);
            });
            throw busy(device, taken != locks.end()
                                   ? QStringLiteral("its lock file %1 is taken").arg(*taken)
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

qsizetype SerialPort::writeUntil(const QByteArray &data, QDeadlineTimer deadline,
                                 std::chrono::milliseconds extend) {
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0 && !mAbort.aborted()) {
        const ssize_t n = ::write(mFd, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            if (extend.count() > 0)
                deadline.setRemainingTime(extend);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int wait = int(std::clamp<qint64>(deadline.remainingTime(), 0, 1000 * 1000));
            const int ready = wait > 0 ? mAbort.wait(mFd, POLLOUT, wait) : 0;
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            break;
        }
        const int error = n < 0 ? errno : EIO;
        throw RuntimeError(errors::SerialWriteFailed,
                           QStringLiteral("Could not write to the serial device %1: %2.")
                               .arg(mSettings.device, systemReason(error)));
    }
    return left;
}

void SerialPort::SendData(const QByteArray &data) {
    if (mFd < 0)
        throw RuntimeError(
            errors::NotOpen,
            QStringLiteral("The serial device %1 is not open.").arg(mSettings.device));
    mFailed = true;
    const qsizetype left = writeUntil(data, QDeadlineTimer(mTimeouts.write), mTimeouts.write);
    if (left == 0) {
        mFailed = false;
        return;
    }
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

bool SerialPort::writeWithin(const QByteArray &data, const QDeadlineTimer &deadline) {
    if (mFd < 0)
        throw RuntimeError(
            errors::NotOpen,
            QStringLiteral("The serial device %1 is not open.").arg(mSettings.device));
    const bool done = writeUntil(data, deadline, std::chrono::milliseconds(0)) == 0;
    mFailed = mFailed || !done;
    return done;
}

// The system sends what it holds at the line's own pace; as long as that
// goes on the wait goes on, and it ends when the printer stops taking data.
// Throws, with the device closed, when the output did not all leave.
void SerialPort::drainOutput() {
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
    // few characters' time, which tcdrain waits for.
    if (queued == 0 && !mAbort.aborted()) {
        ::tcdrain(mFd);
        return;
    }
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

void SerialPort::ClosePort() {
    if (!mPort)
        return;
    if (mFailed) {
        closeDevice(true);
        return;
    }
    // Out before QSerialPort's close puts the line back as it found it
    // (another speed, say).
    drainOutput();
    closeDevice(false);
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
        if (ready == 0 || mAbort.aborted())
            return got;
        // A hung-up line polls readable for good and reads nothing: the far
        // end closed it or dropped the carrier, which is a broken connection,
        // not a printer that keeps quiet. What it sent before still counts.
        if (revents & (POLLHUP | POLLERR)) {
            for (ssize_t n; (n = ::read(mFd, buffer, sizeof buffer)) > 0;)
                got.append(buffer, n);
            if (!got.isEmpty())
                return got;
            throw RuntimeError(errors::SerialReadFailed,
                               QStringLiteral("The serial line %1 hung up: the other end closed "
                                              "it or dropped the carrier.")
                                   .arg(mSettings.device));
        }
    }
}

std::unique_ptr<StatusLink> SerialPort::statusLink() {
    if (mFd < 0 || mFailed)
        return nullptr;
    // The question goes out after the whole job has left, so one the printer
    // holds back is never mistaken for the job held back, and the question's
    // bound counts from then: a page takes a second at 9600 baud.
    drainOutput();
    return std::make_unique<SerialLink>(*this);
}

const SerialLibrary &builtInSerial() {
    static const SerialLibrary library{
        ConnectionLibraryAbi,
        [](const SerialSettings &settings,
           std::chrono::milliseconds writeBound) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<SerialPort>(settings, SerialPort::Timeouts{writeBound});
        },
        [] {
            QStringList devices;
            for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
                devices.append(port.systemLocation());
            return devices;
        },
    };
    return library;
}

} // namespace krv::comm
