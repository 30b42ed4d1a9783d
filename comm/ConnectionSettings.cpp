#include "ConnectionSettings.h"

#include "CommErrors.h"
#include "ConnectionLibraries.h"
#include "FilePort.h"
#include "OwnFiles.h"
#include "PlainIni.h"
#include "RuntimeError.h"
#include "SerialPort.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
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

// The stored fields as QSettings reads them. A store in the plain form the
// writer leaves is read without QSettings, which the window would otherwise
// load at start-up and again at every close for this alone; anything else
// goes through QSettings on a private copy.
class StoredText {
public:
    StoredText(const QByteArray &text, int errorNumber) : mPlain(readPlainIni(text)) {
        if (mPlain)
            return;
        mScratch.emplace(text, errorNumber);
        mSettings = std::make_unique<QSettings>(mScratch->path(), QSettings::IniFormat);
    }
    bool text(const QString &name, QString &field) const {
        if (!mPlain)
            return readText(*mSettings, name, field);
        const auto found = mPlain->values.find(name);
        if (found == mPlain->values.end())
            return false;
        field = found->second;
        return true;
    }
    [[nodiscard]] bool wellFormed() const {
        return mPlain ? !mPlain->formatError : mSettings->status() == QSettings::NoError;
    }

private:
    std::optional<PlainIni> mPlain;
    std::optional<IniScratch> mScratch;
    std::unique_ptr<QSettings> mSettings;
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

// Every field as the store holds it, in the order it is written.
std::array<std::pair<QString, QVariant>, 9> storedValues(const ConnectionSettings &settings) {
    return {{
        {KindKey, kindName(settings.kind)},
        {QueueKey, settings.queue},
        {HostKey, settings.host},
        {PortKey, int(settings.port)},
        {PathKey, settings.path},
        {SerialDeviceKey, settings.serial.device},
        {SerialSpeedKey, int(settings.serial.speed)},
        {SerialFrameKey, frameText(settings.serial)},
        {SerialFlowKey, flowName(settings.serial.flow)},
    }};
}

// Whether the store already holds every field as it would be written. The
// window stores its connection at every close, mostly unchanged; such a
// store is left alone, which spares it the lock file and the syncs to the
// disk of a replacement. Anything unusual is left to the writer to judge.
bool alreadyStored(const QString &storePath, const QString &key,
                   const ConnectionSettings &settings) {
    try {
        const std::optional<QByteArray> text =
            readSmallFile(storePath, MaxStoreBytes, errors::ConfigWriteFailed);
        if (!text)
            return false;
        const StoredText store(*text, errors::ConfigWriteFailed);
        const QString group = key + QLatin1Char('/');
        for (const auto &[name, value] : storedValues(settings))
            if (QString stored; !store.text(group + name, stored) || stored != value.toString())
                return false;
        return store.wellFormed();
    } catch (const RuntimeError &) {
        return false;
    }
}

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
    // Whatever could be parsed from a damaged file is kept, so every field
    // is judged on its own.
    const StoredText store(*text, errors::ConfigReadFailed);
    const QString group = key + QLatin1Char('/');

    QString value;
    if (store.text(group + KindKey, value)) {
        for (const auto &[kind, name] : KindNames)
            if (value.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                settings.kind = kind;
    }
    if (QString queue; store.text(group + QueueKey, queue))
        settings.queue = queue;
    if (QString host; store.text(group + HostKey, host))
        settings.host = host;
    if (QString path; store.text(group + PathKey, path))
        settings.path = path;
    if (store.text(group + PortKey, value)) {
        const std::optional<uint> port = digitsValue(value);
        if (port && *port >= 1 && *port <= 65535)
            settings.port = quint16(*port);
    }
    if (QString device; store.text(group + SerialDeviceKey, device))
        settings.serial.device = device;
    if (store.text(group + SerialSpeedKey, value)) {
        const std::optional<uint> speed = digitsValue(value);
        if (speed && *speed >= 1 && *speed <= uint(std::numeric_limits<qint32>::max()))
            settings.serial.speed = qint32(*speed);
    }
    if (store.text(group + SerialFrameKey, value))
        (void)parseFrame(value, settings.serial); // changes nothing when damaged
    if (store.text(group + SerialFlowKey, value))
        settings.serial.flow = parseFlow(value).value_or(settings.serial.flow);
    return settings;
}

void writeConnectionSettings(const QString &key, const ConnectionSettings &settings) {
    writeConnectionSettings(connectionStorePath(), key, settings);
}

void writeConnectionSettings(const QString &storePath, const QString &key,
                             const ConnectionSettings &settings) {
    checkKey(key);
    if (alreadyStored(storePath, key, settings))
        return;
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
            for (const auto &[name, value] : storedValues(settings))
                store.setValue(name, value);
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
        return tcpLibrary().makePort(settings.host, settings.port);
    case Kind::File:
        return std::make_unique<FilePort>(settings.path);
    case Kind::Serial:
        return serialLibrary().makePort(settings.serial, SerialPort::Timeouts{}.write);
    case Kind::Spooler:
        break;
    }
    return spoolerLibrary().makePort(settings.queue);
}

} // namespace krv::comm
