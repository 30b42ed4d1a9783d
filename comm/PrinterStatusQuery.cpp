// Asking a printer for its status through a connection of its own: the
// status query over each kind of connection.
#include "StatusQuery.h"

#include "CommErrors.h"
#include "ConnectionLibraries.h"
#include "PrinterPort.h"
#include "RuntimeError.h"
#include "SystemReason.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace krv::comm {

namespace {

PrinterStatus noAnswer(const QString &why) {
    PrinterStatus status;
    status.detail = why;
    return status;
}

PrinterStatus notAvailable(const QString &why) {
    PrinterStatus status;
    status.outcome = PrinterStatus::Outcome::NotAvailable;
    status.detail = why;
    return status;
}

// Closes the descriptor however the query ends.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

PrinterStatus queryDevice(const QString &path, std::chrono::milliseconds bound, qint64 *sent) {
    if (path.isEmpty())
        throw RuntimeError(errors::IncompleteSettings,
                           QStringLiteral("No file or device is set to ask for the status."));
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        throw RuntimeError(errors::StatusOpenFailed,
                           QStringLiteral("Could not open the device %1 to ask for the status: "
                                          "%2.")
                               .arg(path, systemReason(errno)));
    if (S_ISREG(st.st_mode))
        return notAvailable(noStatusThroughFile());
    if (S_ISDIR(st.st_mode))
        throw RuntimeError(
            errors::FileIsFolder,
            QStringLiteral("%1 is a folder, not a file or printer device.").arg(path));
    if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        throw RuntimeError(errors::FileNotFileOrDevice,
                           QStringLiteral("%1 is not a printer device.").arg(path));

    Descriptor device;
    device.fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (device.fd < 0) {
        const int error = errno;
        refuseLocalLimit(error);
        // One that takes jobs but cannot be read is a one-way link.
        if (const int writeOnly =
                ::open(name.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
            writeOnly >= 0) {
            ::close(writeOnly);
            return noAnswer(QStringLiteral("%1 opens only for writing (%2), so it cannot answer")
                                .arg(path, systemReason(error)));
        }
        throw RuntimeError(errors::StatusOpenFailed,
                           QStringLiteral("Could not open the device %1 to ask for the status: "
                                          "%2.")
                               .arg(path, systemReason(error)));
    }
    DescriptorLink link(device.fd, path);
    return queryStatus(link, bound, sent);
}

} // namespace

PrinterStatus queryPrinterStatus(const ConnectionSettings &target, std::chrono::milliseconds bound,
                                 qint64 *sent) {
    switch (target.kind) {
    case ConnectionSettings::Kind::Spooler:
        return notAvailable(noStatusThroughSpooler());
    case ConnectionSettings::Kind::File:
        return queryDevice(target.path, bound, sent);
    case ConnectionSettings::Kind::Serial: {
        const auto port = serialLibrary().makePort(target.serial, bound);
        port->OpenPort();
        return queryStatus(*port->statusLink(), bound, sent);
    }
    case ConnectionSettings::Kind::Tcp:
        break;
    }
    const auto port = tcpLibrary().makePort(target.host, target.port);
    port->OpenPort();
    return queryStatus(*port->statusLink(), bound, sent);
}

} // namespace krv::comm
