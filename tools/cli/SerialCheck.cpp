#include "Doctor.h"

#include "CommErrors.h"
#include "RuntimeError.h"
#include "SerialPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace krv::cli {

namespace {

const QString ListPorts = QStringLiteral(
    "\"ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/rfcomm*\" lists the serial ports");

Finding openFailure(const RuntimeError &e, const QString &device) {
    namespace ce = comm::errors;
    switch (e.number()) {
    case ce::SerialMissing:
        return {Problem::SerialMissing,
                QStringLiteral("The serial device %1 does not exist.").arg(device),
                QStringLiteral("Plug in the printer or its USB serial adapter and switch it on; "
                               "%1 (a USB adapter's number can change when it is plugged in "
                               "again). For Bluetooth, bind the link first (\"rfcomm\").")
                    .arg(ListPorts)};
    case ce::SerialNotTerminal:
        return {Problem::SerialNotTerminal,
                QStringLiteral("%1 is not a serial port: the system does not know it as a "
                               "terminal.")
                    .arg(device),
                QStringLiteral("Give the serial device itself; %1.").arg(ListPorts)};
    case ce::SerialBusy:
        return {Problem::SerialBusy, e.description(),
                QStringLiteral("\"fuser -v %1\" shows the program that holds it; close it, or "
                               "stop the service (a terminal login on the port, a modem "
                               "manager) that keeps it open.")
                    .arg(device)};
    case ce::SerialNotPermitted:
        return {Problem::NotWritable, e.description(),
                QStringLiteral("Join the group that owns the device, as the description says, "
                               "or ask the administrator for a udev rule.")};
    case ce::SerialSettingRefused:
        return {Problem::SerialRefusesSettings, e.description(),
                QStringLiteral("Choose the speed, frame and flow control the printer is set to "
                               "(its self-test page shows them); 9600 8N1 without flow control "
                               "is the factory setting.")};
    default:
        return {Problem::SerialOpenFailed, e.description(),
                QStringLiteral("Unplug the adapter and plug it in again; \"dmesg\" shows what "
                               "the system says about the port.")};
    }
}

// The pseudo-terminal index of a /dev/pts/N terminal end, or -1.
int ptyIndex(const QString &canonical) {
    bool ok = false;
    const int index =
        canonical.startsWith(QLatin1String("/dev/pts/")) ? canonical.mid(9).toInt(&ok) : -1;
    return ok ? index : -1;
}

// Whether descriptor `fd` of process `pid` is the master of pseudo-terminal
// `index`: that process is the line's far end (the printer), not a program
// competing for it.
bool holdsMaster(const QString &pid, const QString &fd, int index) {
    QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid, fd));
    if (index < 0 || !info.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : info.readAll().split('\n'))
        if (line.startsWith("tty-index:"))
            return line.mid(10).trimmed().toInt() == index;
    return false;
}

// Other processes that have the device open, lock file or not, as far as this
// user may look into them (as "fuser" finds them): "1234 (getty)". `hidden`
// counts the processes whose descriptors this user may not see.
QStringList otherHolders(const QString &device, int *hidden) {
    const QString canonical = QFileInfo(device).canonicalFilePath();
    struct stat target {};
    if (canonical.isEmpty() || ::stat(QFile::encodeName(canonical).constData(), &target) != 0 ||
        !S_ISCHR(target.st_mode))
        return {};
    const int index = ptyIndex(canonical);
    const QString self = QString::number(::getpid());
    QStringList holders;
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        if (::access(QFile::encodeName(fdFolder).constData(), R_OK | X_OK) != 0) {
            *hidden += errno == EACCES ? 1 : 0;
            continue;
        }
        bool holds = false;
        bool farEnd = false;
        for (const QString &fd : QDir(fdFolder).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            if (::stat(QFile::encodeName(fdFolder + u'/' + fd).constData(), &st) != 0 ||
                !S_ISCHR(st.st_mode))
                continue;
            holds = holds || st.st_rdev == target.st_rdev;
            farEnd = farEnd || holdsMaster(pid, fd, index);
        }
        if (!holds || farEnd)
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString name =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : "?";
        holders.append(QStringLiteral("%1 (%2)").arg(pid, name));
    }
    return holders;
}

} // namespace

CheckReport checkSerial(const comm::SerialSettings &serial) {
    CheckReport report;
    const QString &device = serial.device;
    if (device.isEmpty()) {
        report.problems.push_back({Problem::IncompleteSettings,
                                   QStringLiteral("No serial device is set to print to."),
                                   QStringLiteral("Give one as --serial DEVICE[:SPEED], e.g. "
                                                  "--serial /dev/ttyUSB0:9600.")});
        return report;
    }
    // Existence and permission as for any device: the same words, the group
    // and how to join it.
    const PathFacts facts = gatherPathFacts(device);
    if (facts.exists && facts.isDevice) {
        report = diagnosePath(device, facts);
        if (!report.ok())
            return report;
    }
    comm::SerialPort port(serial);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const RuntimeError &e) {
        report.problems.push_back(openFailure(e, device));
        return report;
    }
    report.passed.append(QStringLiteral("%1 is a serial port (a terminal).").arg(device));
    // Opening it proves only that nobody locked it or holds it exclusively;
    // a program with it open without either still mixes its bytes in.
    int hidden = 0;
    if (const QStringList holders = otherHolders(device, &hidden); !holders.isEmpty()) {
        report.problems.push_back(
            {Problem::SerialBusy,
             QStringLiteral("The serial device %1 is open in another program, which took no "
                            "lock and no exclusive use: process %2. What it sends or reads "
                            "would mix with the printer's jobs.")
                 .arg(device, holders.join(QStringLiteral(", process "))),
             QStringLiteral("\"fuser -v %1\" shows the program that holds it; close it, or "
                            "stop the service (a terminal login on the port, a modem manager) "
                            "that keeps it open.")
                 .arg(device)});
        return report;
    }
    report.passed.append(QStringLiteral("No other program holds it%4: it opened for this "
                                        "program alone at %1 baud %2, flow control %3, and was "
                                        "closed again without sending anything.")
                             .arg(serial.speed)
                             .arg(comm::frameText(serial), comm::flowName(serial.flow),
                                  hidden == 0
                                      ? QString()
                                      : QStringLiteral(" as far as this user can see (%1 other "
                                                       "processes cannot be looked into)")
                                            .arg(hidden)));
    return report;
}

} // namespace krv::cli
