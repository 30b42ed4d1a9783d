#include "ConnectionSettings.h"

#include "CommErrors.h"
#include "FilePort.h"
#include "OwnFiles.h"
#include "RuntimeError.h"
#include "SerialPort.h"
#include "SpoolerPort.h"
#include "TcpPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cups/cups.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <utility>

namespace krv::comm {

namespace {

using Kind = ConnectionSettings::Kind;

constexpr std::array<std::pair<Kind, const char *>, 4> KindNames{{
    {Kind::Spooler, "Spooler"},
    {Kind::Tcp, "Tcp"},
    {Kind::File, "File"},
    {Kind::Serial, "Serial"},
}};

const QString KindKey = QStringLiteral("Kind");
const QString QueueKey = QStringLiteral("Queue");
const QString HostKey = QStringLiteral("Host");
const QString PortKey = QStringLiteral("Port");
const QString PathKey = QStringLiteral("Path");
const QString SerialDeviceKey = QStringLiteral("SerialDevice");
const QString SerialSpeedKey = QStringLiteral("SerialSpeed");
const QString SerialFrameKey = QStringLiteral("SerialFrame");
const QString SerialFlowKey = QStringLiteral("SerialFlow");

// Digits only, as everywhere a number is typed: toUInt alone would take
// "+80" for 80.
std::optional<uint> digitsValue(const QString &text) {
    const QString digits = text.trimmed();
    bool ok = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    const uint value = ok ? digits.toUInt(&ok) : 0;
    return ok ? std::optional<uint>(value) : std::nullopt;
}

// INI values come back as strings, or as a list when the text had commas;
// values written earlier in this run come back with the type they had. A list
// or anything else is the wrong kind for all of our fields.
bool readText(const QSettings &store, const QString &name, QString &field) {
    const QVariant value = store.value(name);
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        field = value.toString();
        return true;
    default:
        return false;
    }
}

void checkKey(const QString &key) {
    // A slash would silently nest groups and an empty key would write at the
    // top level, so neither is a key of its own.
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('\\')))
        throw RuntimeError(
            errors::ConfigInvalidKey,
            QStringLiteral("\"%1\" cannot be used as a configuration key.").arg(key));
}

// QSettings parses and writes INI only as files, and remembers per path
// what it read for the rest of the run; a fresh private copy for each use
// keeps that memory from handing back an older store. A file, not a folder:
// removing a folder costs milliseconds on some disks.
class IniScratch {
public:
    IniScratch(const QByteArray &text, int errorNumber)
        : mFile(QDir::tempPath() + QLatin1String("/krv520-store-XXXXXX.conf")),
          mErrorNumber(errorNumber) {
        if (!mFile.open() || mFile.write(text) != text.size() || !mFile.flush())
            throw RuntimeError(errorNumber, QStringLiteral("Cannot write a private copy in %1: "
                                                           "%2.")
                                                .arg(QDir::tempPath(), mFile.errorString()));
        mPath = mFile.fileName();
    }
    [[nodiscard]] QString path() const { return mPath; }
    [[nodiscard]] QByteArray contents() const {
        return readSmallFile(mPath, MaxStoreBytes, mErrorNumber).value_or(QByteArray());
    }

private:
    QTemporaryFile mFile;
    QString mPath;
    int mErrorNumber;
};

// One writer at a time, under the same lock file name QSettings uses, so
// that earlier versions of the programs are kept out too. A lock left by a
// writer that was killed names a process that is gone, and QLockFile takes
// it over.
class StoreLock {
public:
    explicit StoreLock(const QString &storePath) : mLock(storePath + QLatin1String(".lock")) {
        const QString lockPath = storePath + QLatin1String(".lock");
        // QLockFile reads a lock it cannot create; a FIFO there would block.
        struct stat st {};
        if (::lstat(QFile::encodeName(lockPath).constData(), &st) == 0 && !S_ISREG(st.st_mode))
            throw RuntimeError(errors::ConfigWriteFailed,
                               QStringLiteral("%1 is %2 where the store's lock file belongs.")
                                   .arg(lockPath, fileKindName(st.st_mode)));
        if (!mLock.tryLock(2000))
            throw RuntimeError(
                errors::ConfigWriteFailed,
                mLock.error() == QLockFile::LockFailedError
                    ? QStringLiteral("Another program is saving the store (lock file %1).")
                          .arg(lockPath)
                    : QStringLiteral("The lock file %1 cannot be created.").arg(lockPath));
    }

private:
    QLockFile mLock;
};

} // namespace

QString kindName(Kind kind) {
    for (const auto &[k, name] : KindNames)
        if (k == kind)
            return QString::fromLatin1(name);
    return {};
}

QString connectionStorePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vela/krv520-connection.conf");
}

ConnectionSettings readConnectionSettings(const QString &key) {
    return readConnectionSettings(connectionStorePath(), key);
}

ConnectionSettings readConnectionSettings(const QString &storePath, const QString &key) {
    checkKey(key);
    ConnectionSettings settings;
    // Nothing stored is no failure, but a store that is there and cannot be
    // read is: QSettings would quietly hand back the defaults.
    std::optional<QByteArray> text;
    try {
        text = readSmallFile(storePath, MaxStoreBytes, errors::ConfigReadFailed);
    } catch (const RuntimeError &e) {
        throw RuntimeError(e.number(),
                           QStringLiteral("The stored connection settings could not be read. %1")
                               .arg(e.description()));
    }
    if (!text)
        return settings;
    const IniScratch scratch(*text, errors::ConfigReadFailed);
    // QSettings keeps whatever it could parse from a damaged file, so every
    // field is judged on its own.
    const QSettings store(scratch.path(), QSettings::IniFormat);
    const QString group = key + QLatin1Char('/');

    QString value;
    if (readText(store, group + KindKey, value)) {
        for (const auto &[kind, name] : KindNames)
            if (value.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                settings.kind = kind;
    }
    if (QString queue; readText(store, group + QueueKey, queue))
        settings.queue = queue;
    if (QString host; readText(store, group + HostKey, host))
        settings.host = host;
    if (QString path; readText(store, group + PathKey, path))
        settings.path = path;
    if (readText(store, group + PortKey, value)) {
        const std::optional<uint> port = digitsValue(value);
        if (port && *port >= 1 && *port <= 65535)
            settings.port = quint16(*port);
    }
    if (QString device; readText(store, group + SerialDeviceKey, device))
        settings.serial.device = device;
    if (readText(store, group + SerialSpeedKey, value)) {
        const std::optional<uint> speed = digitsValue(value);
        if (speed && *speed >= 1 && *speed <= uint(std::numeric_limits<qint32>::max()))
            settings.serial.speed = qint32(*speed);
    }
    if (readText(store, group + SerialFrameKey, value))
        (void)parseFrame(value, settings.serial); // changes nothing when damaged
    if (readText(store, group + SerialFlowKey, value))
        settings.serial.flow = parseFlow(value).value_or(settings.serial.flow);
    return settings;
}

void writeConnectionSettings(const QString &key, const ConnectionSettings &settings) {
    writeConnectionSettings(connectionStorePath(), key, settings);
}

void writeConnectionSettings(const QString &storePath, const QString &key,
                             const ConnectionSettings &settings) {
    checkKey(key);
    const QFileInfo info(storePath);
    // On a first run the folder is not there yet.
    if (!QDir().mkpath(info.absolutePath()))
        throw RuntimeError(errors::ConfigWriteFailed,
                           QStringLiteral("Could not create the configuration folder %1.")
                               .arg(info.absolutePath()));
    try {
        const QString target = checkedWriteTarget(storePath, errors::ConfigWriteFailed);
        const StoreLock lock(storePath);
        // Other keys' groups are kept as they are.
        const std::optional<QByteArray> before =
            readSmallFile(target, MaxStoreBytes, errors::ConfigWriteFailed);
        const IniScratch scratch(before.value_or(QByteArray()), errors::ConfigWriteFailed);
        {
            QSettings store(scratch.path(), QSettings::IniFormat);
            store.beginGroup(key);
            store.setValue(KindKey, kindName(settings.kind));
            store.setValue(QueueKey, settings.queue);
            store.setValue(HostKey, settings.host);
            store.setValue(PortKey, int(settings.port));
            store.setValue(PathKey, settings.path);
            store.setValue(SerialDeviceKey, settings.serial.device);
            store.setValue(SerialSpeedKey, int(settings.serial.speed));
            store.setValue(SerialFrameKey, frameText(settings.serial));
            store.setValue(SerialFlowKey, flowName(settings.serial.flow));
            store.endGroup();
            store.sync();
            if (store.status() != QSettings::NoError)
                throw RuntimeError(errors::ConfigWriteFailed,
                                   QStringLiteral("The new settings could not be prepared in %1.")
                                       .arg(scratch.path()));
        }
        writeLockedSmallFile(target, scratch.contents(), errors::ConfigWriteFailed);
    } catch (const RuntimeError &e) {
        throw RuntimeError(
            e.number(),
            QStringLiteral("Could not save the printer connection. %1").arg(e.description()));
    }
}

std::unique_ptr<PrinterPort> makePort(const ConnectionSettings &settings) {
    switch (settings.kind) {
    case Kind::Tcp:
        return std::make_unique<TcpPort>(settings.host, settings.port);
    case Kind::File:
        return std::make_unique<FilePort>(settings.path);
    case Kind::Serial:
        return std::make_unique<SerialPort>(settings.serial);
    case Kind::Spooler:
        break;
    }
    return std::make_unique<SpoolerPort>(settings.queue);
}

QStringList spoolerQueues() {
    http_t *http = connectToSpooler();
    const QStringList names = queueNames(http);
    httpClose(http);
    return names;
}

QString defaultSpoolerQueue() {
    try {
        http_t *http = connectToSpooler();
        QString name;
        if (cups_dest_t *dest = cupsGetNamedDest(http, nullptr, nullptr)) {
            name = QString::fromUtf8(dest->name);
            cupsFreeDests(1, dest);
        }
        httpClose(http);
        return name;
    } catch (const RuntimeError &) {
        return {};
    }
}

} // namespace krv::comm
