#include "Doctor.h"

#include "OwnFiles.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "SpoolerPort.h"
#include "StatusQuery.h"
#include "Targets.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

#include <cups/cups.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

namespace krv::cli {

using namespace krv::profile;

namespace {

using Kind = comm::ConnectionSettings::Kind;

QString seconds(std::chrono::milliseconds ms) {
    return QString::number(double(ms.count()) / 1000.0, 'g', 3);
}

bool processHasGroup(gid_t gid) {
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(std::size_t(count), 0);
    const int got = getgroups(count, groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) !=
           groups.begin() + std::max(got, 0);
}

bool databaseHasGroup(const passwd *user, gid_t gid) {
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(std::size_t(count), 0);
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(std::size_t(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// The kernel's memory devices (null, zero, full...) share one major number.
constexpr unsigned MemoryDevices = 1;
constexpr unsigned FullDevice = 7;

// As the send will find it: by the effective user, like open().
bool writableByUs(const QByteArray &path, int mode) {
    return ::faccessat(AT_FDCWD, path.constData(), mode, AT_EACCESS) == 0;
}

QString option(const cups_dest_t *dest, const char *name) {
    return QString::fromUtf8(cupsGetOption(name, dest->num_options, dest->options));
}

// A device or serial line that passed its checks: open it again and ask.
void askStatus(CheckReport &report, const comm::ConnectionSettings &target,
               const CheckOptions &options) {
    try {
        reportStatus(report, comm::queryPrinterStatus(target, options.statusBound));
    } catch (const RuntimeError &e) {
        report.problems.push_back(
            {Problem::StatusFailed,
             QStringLiteral("Asking %1 for the printer's status failed: error %2: %3")
                 .arg(describeTarget(target))
                 .arg(e.number())
                 .arg(e.description()),
             QStringLiteral("Check the printer's cable and that it is switched on.")});
    }
}

} // namespace

bool CheckReport::has(Problem problem) const {
    return std::any_of(problems.begin(), problems.end(),
                       [problem](const Finding &f) { return f.problem == problem; });
}

CheckReport checkConnection(const comm::ConnectionSettings &target, const CheckOptions &options) {
    switch (target.kind) {
    case Kind::Tcp:
        return checkTcp(target.host, target.port, options);
    case Kind::File: {
        const PathFacts facts = gatherPathFacts(target.path);
        CheckReport report = diagnosePath(target.path, facts);
        // Only a device a send would reach is asked; a regular file cannot
        // answer, and saying so is all there is.
        if (report.ok() && facts.exists && (facts.isDevice || !facts.isOther))
            askStatus(report, target, options);
        return report;
    }
    case Kind::Serial: {
        CheckReport report = checkSerial(target.serial);
        if (report.ok())
            askStatus(report, target, options);
        return report;
    }
    case Kind::Spooler:
        break;
    }
    CheckReport report = diagnoseQueue(gatherQueueFacts(target.queue));
    if (report.ok())
        reportStatus(report, comm::queryPrinterStatus(target, options.statusBound));
    return report;
}

void reportStatus(CheckReport &report, const comm::PrinterStatus &status) {
    using C = comm::PrinterStatus::Condition;
    switch (status.outcome) {
    case comm::PrinterStatus::Outcome::NotAvailable:
        report.notes.append(
            QStringLiteral("The printer's status cannot be asked here: %1.").arg(status.detail));
        return;
    case comm::PrinterStatus::Outcome::NoAnswer:
        report.notes.append(
            QStringLiteral("The printer gave no status answer (%1). A printer in a command mode "
                           "without real-time status, or a link that carries data one way only, "
                           "does not answer; this says nothing against printing. download and "
                           "test-print ask the same after each job; give them --no-status if "
                           "the printer misbehaves when asked.")
                .arg(status.detail));
        return;
    case comm::PrinterStatus::Outcome::Answered:
        break;
    }
    if (status.ready()) {
        report.passed.append(QStringLiteral("The printer reports that it is ready."));
        return;
    }
    const auto add = [&](Problem problem, const QString &what, const QString &fix) {
        report.problems.push_back({problem, what, fix});
    };
    if (status.has(C::CoverOpen))
        add(Problem::CoverOpen, QStringLiteral("The printer reports its cover open."),
            QStringLiteral("Close the cover, pressing it down until it clicks."));
    if (status.has(C::PaperEnd) || status.has(C::PaperOutStop))
        add(Problem::PaperOut,
            QStringLiteral("The printer reports that the paper has run out%1.")
                .arg(status.has(C::PaperOutStop) ? QStringLiteral("; it has stopped printing")
                                                 : QString()),
            QStringLiteral("Load paper: a new roll, then close the cover."));
    if (status.has(C::FedByButton))
        add(Problem::PrinterOffline,
            QStringLiteral("The printer is feeding paper with its feed button."),
            QStringLiteral("Release the feed button."));
    if (status.has(C::AutoCutterError))
        add(Problem::PrinterError, QStringLiteral("The printer reports an auto-cutter error."),
            QStringLiteral("Open the cover, remove any paper jammed at the cutter and close the "
                           "cover; if the error stays, switch the printer off and on."));
    if (status.has(C::UnrecoverableError))
        add(Problem::PrinterError, QStringLiteral("The printer reports an unrecoverable error."),
            QStringLiteral("Switch the printer off and on; if the error comes back, the printer "
                           "needs service."));
    if (status.has(C::AutoRecoverableError))
        add(Problem::PrinterError,
            QStringLiteral("The printer reports an auto-recoverable error (such as a print head "
                           "too hot)."),
            QStringLiteral("Wait: the printer carries on by itself once the cause has passed."));
    constexpr unsigned Errors =
        C::AutoCutterError | C::UnrecoverableError | C::AutoRecoverableError;
    if (status.has(C::ErrorOccurred) && (status.conditions & Errors) == 0)
        add(Problem::PrinterError, QStringLiteral("The printer reports an error."),
            QStringLiteral("Look at the printer's error light and switch it off and on; if the "
                           "error stays, the printer needs service."));
    // An open cover, the end of the paper, the feed button or an error take
    // the printer offline too; only an offline state without them is told.
    if (report.problems.empty() && status.has(C::Offline))
        add(Problem::PrinterOffline, QStringLiteral("The printer reports that it is offline."),
            QStringLiteral("Check the printer's panel: put it online, or switch it off and on."));
    if (status.has(C::PaperNearEnd) && !status.has(C::PaperEnd))
        report.notes.append(QStringLiteral("The paper is near its end: have a new roll ready."));
    else if (report.problems.empty())
        report.passed.append(QStringLiteral("The printer reports that it is ready."));
}

CheckReport checkTcp(const QString &host, quint16 port, const CheckOptions &options) {
    CheckReport report;
    const QString name = host.trimmed();
    if (name.isEmpty() || port == 0) {
        report.problems.push_back(
            {Problem::IncompleteSettings,
             name.isEmpty() ? QStringLiteral("No printer host name or address is set.")
                            : QStringLiteral("Port 0 is not a printer port."),
             QStringLiteral("Give the printer as --tcp HOST[:PORT], e.g. --tcp 192.168.1.50:9100, "
                            "or set it in the window program.")});
        return report;
    }

    const QHostInfo info = QHostInfo::fromName(name);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        report.problems.push_back(
            {Problem::HostNotFound,
             QStringLiteral("The host name %1 does not resolve to an address (%2).")
                 .arg(name, info.errorString()),
             QStringLiteral("Check the spelling, or use the printer's IP address instead (the "
                            "printer's self-test page shows it); if the name should work, ask "
                            "whoever runs the network's name service.")});
        return report;
    }
    const QHostAddress address = info.addresses().constFirst();
    if (QHostAddress(name).isNull())
        report.passed.append(QStringLiteral("%1 resolves to %2.").arg(name, address.toString()));

    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(int(options.connectTimeout.count()))) {
        const auto error = socket.error();
        const QString reason = socket.errorString();
        socket.abort();
        if (error == QAbstractSocket::ConnectionRefusedError) {
            report.problems.push_back(
                {Problem::ConnectionRefused,
                 QStringLiteral("%1 refused a connection on port %2: nothing there accepts print "
                                "jobs on that port.")
                     .arg(address.toString())
                     .arg(port),
                 QStringLiteral("Check that the address is the printer's and the port is its raw "
                                "printing port (usually 9100), and that no other computer holds "
                                "the printer's one connection.")});
        } else if (error == QAbstractSocket::SocketTimeoutError) {
            report.problems.push_back(
                {Problem::ConnectTimeout,
                 QStringLiteral("%1 did not answer on port %2 within %3 s.")
                     .arg(address.toString())
                     .arg(port)
                     .arg(seconds(options.connectTimeout)),
                 QStringLiteral("Check that the printer is switched on and its network cable "
                                "plugged in, that the address is right, and that no firewall "
                                "between here and the printer drops the connection.")});
        } else {
            report.problems.push_back(
                {Problem::ConnectFailed,
                 QStringLiteral("Could not connect to %1 port %2: %3.")
                     .arg(address.toString())
                     .arg(port)
                     .arg(reason),
                 QStringLiteral("Check this computer's network connection and its route to the "
                                "printer.")});
        }
        return report;
    }
    report.passed.append(
        QStringLiteral("%1 accepts connections on port %2.").arg(address.toString()).arg(port));
    // On the same connection, before Qt reads from it: the printer sees the
    // status requests and nothing it would print.
    try {
        comm::DescriptorLink link(int(socket.socketDescriptor()),
                                  QStringLiteral("%1 port %2").arg(address.toString()).arg(port));
        reportStatus(report, comm::queryStatus(link, options.statusBound));
    } catch (const RuntimeError &e) {
        report.problems.push_back(
            {Problem::StatusFailed,
             QStringLiteral("The connection to %1 port %2 failed while asking for the printer's "
                            "status: error %3: %4")
                 .arg(address.toString())
                 .arg(port)
                 .arg(e.number())
                 .arg(e.description()),
             QStringLiteral("Check that no other computer or program holds the printer's "
                            "connection, and the network between here and the printer.")});
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(1000);
    socket.abort();
    return report;
}

PathFacts gatherPathFacts(const QString &path) {
    PathFacts facts;
    if (const passwd *pw = getpwuid(geteuid()))
        facts.user = QString::fromLocal8Bit(pw->pw_name);
    if (path.isEmpty())
        return facts;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const QString folder = QFileInfo(path).absolutePath();
        const QByteArray folderName = QFile::encodeName(folder);
        struct stat fst {};
        facts.folderExists = ::stat(folderName.constData(), &fst) == 0 && S_ISDIR(fst.st_mode);
        facts.writable = facts.folderExists && writableByUs(folderName, W_OK | X_OK);
        return facts;
    }
    facts.exists = true;
    facts.isFolder = S_ISDIR(st.st_mode);
    facts.isDevice = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
    facts.isOther = !facts.isFolder && !facts.isDevice && !S_ISREG(st.st_mode);
    facts.kind = comm::fileKindName(st.st_mode);
    // Known by its numbers, so nothing has to be written to find out.
    facts.isFullDevice = S_ISCHR(st.st_mode) && major(st.st_rdev) == MemoryDevices &&
                         minor(st.st_rdev) == FullDevice;
    facts.writable = writableByUs(name, W_OK);
    if (S_ISREG(st.st_mode))
        facts.folderWritable = writableByUs(
            QFile::encodeName(QFileInfo(QFileInfo(path).canonicalFilePath()).absolutePath()),
            W_OK | X_OK);
    facts.groupCanWrite = (st.st_mode & S_IWGRP) != 0;
    if (const group *gr = getgrgid(st.st_gid))
        facts.ownerGroup = QString::fromLocal8Bit(gr->gr_name);
    else
        facts.ownerGroup = QString::number(st.st_gid);
    facts.inGroupNow = processHasGroup(st.st_gid);
    facts.inGroupListed = databaseHasGroup(getpwuid(geteuid()), st.st_gid);
    return facts;
}

CheckReport diagnosePath(const QString &path, const PathFacts &facts) {
    CheckReport report;
    if (path.isEmpty()) {
        report.problems.push_back({Problem::IncompleteSettings,
                                   QStringLiteral("No file or device is set to print to."),
                                   QStringLiteral("Give one as --file PATH, e.g. --file "
                                                  "/dev/usb/lp0.")});
        return report;
    }
    if (!facts.exists) {
        if (path.startsWith(QLatin1String("/dev/"))) {
            report.problems.push_back(
                {Problem::PathMissing, QStringLiteral("The device %1 does not exist.").arg(path),
                 QStringLiteral("Check that the printer is plugged in and switched on; "
                                "\"ls /dev/usb/lp*\" shows the USB printers this computer sees "
                                "(the number can change when the printer is plugged in again).")});
        } else if (!facts.folderExists) {
            report.problems.push_back(
                {Problem::FolderMissing,
                 QStringLiteral("The folder of %1 does not exist.").arg(path),
                 QStringLiteral("Create the folder first or choose a file in an existing one.")});
        } else if (!facts.writable) {
            report.problems.push_back(
                {Problem::NotWritable,
                 QStringLiteral("%1 does not exist and its folder is not writable for %2.")
                     .arg(path, facts.user),
                 QStringLiteral("Choose a file in a folder you may write to.")});
        } else {
            report.passed.append(
                QStringLiteral("%1 does not exist yet; its folder is writable, so it will be "
                               "created.")
                    .arg(path));
        }
        return report;
    }
    if (facts.isFolder) {
        report.problems.push_back(
            {Problem::PathIsFolder,
             QStringLiteral("%1 is a folder, not a file or device.").arg(path),
             QStringLiteral("Give the file or device itself, e.g. /dev/usb/lp0.")});
        return report;
    }
    if (facts.isOther) {
        report.problems.push_back(
            {Problem::NotFileOrDevice,
             QStringLiteral("%1 is %2, not a file or printer device; the job is not sent to it.")
                 .arg(path, facts.kind),
             QStringLiteral("Give the printer's device (e.g. /dev/usb/lp0) or a regular file.")});
        return report;
    }
    report.passed.append(facts.isDevice ? QStringLiteral("The device %1 exists.").arg(path)
                                        : QStringLiteral("The file %1 exists.").arg(path));
    if (facts.isFullDevice) {
        report.problems.push_back(
            {Problem::DeviceRefusesData,
             QStringLiteral("%1 is the kernel's full device, which refuses every write.").arg(path),
             QStringLiteral("Give the printer's device, e.g. /dev/usb/lp0.")});
        return report;
    }
    if (!facts.isDevice) {
        if (!facts.writable)
            report.problems.push_back(
                {Problem::NotWritable,
                 QStringLiteral("%1 may not write to the file %2, so the job will not replace it.")
                     .arg(facts.user, path),
                 QStringLiteral("Make the file writable (\"chmod u+w %1\") or choose another "
                                "file.")
                     .arg(path)});
        else if (!facts.folderWritable)
            report.problems.push_back(
                {Problem::NotWritable,
                 QStringLiteral("The job is written beside %1 and then put in its place, but %2 "
                                "may not create files in its folder.")
                     .arg(path, facts.user),
                 QStringLiteral("Choose a file in a folder you may write to.")});
        else
            report.passed.append(QStringLiteral("%1 may replace it.").arg(facts.user));
        return report;
    }
    if (facts.writable) {
        report.passed.append(QStringLiteral("%1 may write to it.").arg(facts.user));
        return report;
    }
    if (facts.groupCanWrite && facts.inGroupListed && !facts.inGroupNow) {
        report.problems.push_back(
            {Problem::GroupNeedsNewLogin,
             QStringLiteral("%1 belongs to the group %2, which may write to %3, but this login "
                            "started before that membership was added.")
                 .arg(facts.user, facts.ownerGroup, path),
             QStringLiteral("Log out and in again (or run \"newgrp %1\") so that the membership "
                            "takes effect.")
                 .arg(facts.ownerGroup)});
    } else if (facts.groupCanWrite && !facts.inGroupNow) {
        report.problems.push_back(
            {Problem::NotInOwnerGroup,
             QStringLiteral("%1 may not write to %2: it belongs to the group %3 and %1 is not a "
                            "member.")
                 .arg(facts.user, path, facts.ownerGroup),
             QStringLiteral("Add the user to the group with \"sudo usermod -aG %1 %2\", then log "
                            "out and in again.")
                 .arg(facts.ownerGroup, facts.user)});
    } else {
        report.problems.push_back(
            {Problem::NotWritable,
             QStringLiteral("%1 may not write to %2 (owned by the group %3, which may not write "
                            "to it either).")
                 .arg(facts.user, path, facts.ownerGroup),
             QStringLiteral("Ask the administrator to give the printer's device the right "
                            "permissions (a udev rule), or print through a spooler queue "
                            "instead.")});
    }
    return report;
}

QueueFacts gatherQueueFacts(const QString &queue) {
    QueueFacts facts;
    facts.requested = queue;
    facts.scheduler = QString::fromUtf8(cupsServer());
    http_t *http = nullptr;
    try {
        http = comm::connectToSpooler();
    } catch (const RuntimeError &) {
        return facts;
    }
    facts.schedulerReachable = true;

    facts.queues = comm::queueNames(http);

    const QByteArray name = queue.toUtf8();
    cups_dest_t *dest =
        cupsGetNamedDest(http, name.isEmpty() ? nullptr : name.constData(), nullptr);
    if (dest) {
        facts.exists = true;
        facts.queue = QString::fromUtf8(dest->name);
        bool ok = false;
        const int state = option(dest, "printer-state").toInt(&ok);
        if (ok)
            facts.state = state;
        facts.stateReasons = option(dest, "printer-state-reasons");
        facts.accepting = option(dest, "printer-is-accepting-jobs") != QLatin1String("false");
        facts.makeAndModel = option(dest, "printer-make-and-model");
        cupsFreeDests(1, dest);
    } else {
        facts.queue = queue;
    }
    httpClose(http);
    return facts;
}

CheckReport diagnoseQueue(const QueueFacts &facts) {
    CheckReport report;
    if (!facts.schedulerReachable) {
        report.problems.push_back(
            {Problem::SpoolerUnavailable,
             QStringLiteral("The print spooler (CUPS at %1) does not answer.").arg(facts.scheduler),
             QStringLiteral("Start it with \"sudo systemctl start cups\", or check CUPS_SERVER "
                            "and /etc/cups/client.conf if it runs elsewhere.")});
        return report;
    }
    report.passed.append(
        QStringLiteral("The print spooler (CUPS at %1) answers.").arg(facts.scheduler));
    const QString known =
        facts.queues.isEmpty()
            ? QStringLiteral("there are no queues at all")
            : QStringLiteral("the queues are: %1").arg(facts.queues.join(QStringLiteral(", ")));
    if (!facts.exists) {
        if (facts.requested.isEmpty())
            report.problems.push_back(
                {Problem::NoDefaultQueue,
                 QStringLiteral("No queue was named and the spooler has no default queue; %1.")
                     .arg(known),
                 QStringLiteral("Name the queue with --queue NAME, or make it the default with "
                                "\"lpoptions -d NAME\".")});
        else
            report.problems.push_back(
                {Problem::QueueMissing,
                 QStringLiteral("There is no queue \"%1\"; %2.").arg(facts.requested, known),
                 QStringLiteral("Check the name (\"lpstat -p\" lists the queues), or create a raw "
                                "queue: \"sudo lpadmin -p %1 -E -v DEVICE-URI\" with no driver.")
                     .arg(facts.requested)});
        return report;
    }
    report.passed.append(QStringLiteral("The queue %1 exists.").arg(facts.queue));
    if (facts.state == 5 || facts.stateReasons.contains(QLatin1String("paused")))
        report.problems.push_back(
            {Problem::QueuePaused,
             QStringLiteral("The queue %1 is paused (stopped): jobs wait in it and do not "
                            "print.")
                 .arg(facts.queue),
             QStringLiteral("Resume it with \"cupsenable %1\" once the printer is ready.")
                 .arg(facts.queue)});
    if (!facts.accepting)
        report.problems.push_back(
            {Problem::QueueRejecting,
             QStringLiteral("The queue %1 rejects new jobs.").arg(facts.queue),
             QStringLiteral("Let it take jobs again with \"cupsaccept %1\".").arg(facts.queue)});
    const bool raw = facts.makeAndModel.isEmpty() ||
                     facts.makeAndModel.contains(QLatin1String("raw"), Qt::CaseInsensitive);
    if (!raw)
        report.problems.push_back(
            {Problem::QueueNotRaw,
             QStringLiteral("The queue %1 has a printer driver (%2), which may change or reject "
                            "the printer's own commands.")
                 .arg(facts.queue, facts.makeAndModel),
             QStringLiteral("Use a raw queue for this printer: \"sudo lpadmin -p %1 -E -v "
                            "DEVICE-URI\" without -m or -P (\"lpstat -v %1\" shows the current "
                            "device URI).")
                 .arg(facts.queue)});
    else
        report.passed.append(QStringLiteral("The queue %1 is raw (%2).")
                                 .arg(facts.queue, facts.makeAndModel.isEmpty()
                                                       ? QStringLiteral("no driver")
                                                       : facts.makeAndModel));
    if (report.ok())
        report.passed.append(QStringLiteral("The queue %1 takes jobs.").arg(facts.queue));
    return report;
}

QString formatReport(const CheckReport &report) {
    QString text;
    for (const QString &line : report.passed)
        text += QStringLiteral("  ok: %1\n").arg(shownText(line));
    for (const Finding &f : report.problems)
        text +=
            QStringLiteral("  problem: %1\n  fix: %2\n").arg(shownText(f.what), shownText(f.fix));
    for (const QString &line : report.notes)
        text += QStringLiteral("  note: %1\n").arg(shownText(line));
    return text;
}

} // namespace krv::cli
