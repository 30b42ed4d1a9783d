#include "ConnectionSettings.h"

#include "CommErrors.h"
#include "FilePort.h"
#include "RuntimeError.h"
#include "SpoolerPort.h"
#include "TcpPort.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cups/cups.h>

#include <array>
#include <utility>

namespace krv::comm {

namespace {

using Kind = ConnectionSettings::Kind;

constexpr std::array<std::pair<Kind, const char *>, 3> KindNames{{
    {Kind::Spooler, "Spooler"},
    {Kind::Tcp, "Tcp"},
    {Kind::File, "File"},
}};

const QString KindKey = QStringLiteral("Kind");
const QString QueueKey = QStringLiteral("Queue");
const QString HostKey = QStringLiteral("Host");
const QString PortKey = QStringLiteral("Port");
const QString PathKey = QStringLiteral("Path");

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

const QStringList &fieldKeys() {
    static const QStringList keys{KindKey, QueueKey, HostKey, PortKey, PathKey};
    return keys;
}

void checkKey(const QString &key) {
    // A slash would silently nest groups and an empty key would write at the
    // top level, so neither is a key of its own.
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || key.contains(QLatin1Char('\\')))
        throw RuntimeError(
            errors::ConfigInvalidKey,
            QStringLiteral("\"%1\" cannot be used as a configuration key.").arg(key));
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
    // Nothing stored is no failure, but a store that is there and cannot be
    // read is: QSettings would quietly hand back the defaults.
    const QFileInfo file(storePath);
    if (file.exists() && (!file.isFile() || !file.isReadable()))
        throw RuntimeError(errors::ConfigReadFailed,
                           QStringLiteral("The stored connection settings in %1 could not be read: "
                                          "it is not a readable file.")
                               .arg(storePath));
    ConnectionSettings settings;
    // QSettings keeps whatever it could parse from a damaged file, so every
    // field is judged on its own.
    const QSettings store(storePath, QSettings::IniFormat);
    const QString group = key + QLatin1Char('/');

    QString text;
    if (readText(store, group + KindKey, text)) {
        for (const auto &[kind, name] : KindNames)
            if (text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                settings.kind = kind;
    }
    if (QString queue; readText(store, group + QueueKey, queue))
        settings.queue = queue;
    if (QString host; readText(store, group + HostKey, host))
        settings.host = host;
    if (QString path; readText(store, group + PathKey, path))
        settings.path = path;
    if (readText(store, group + PortKey, text)) {
        bool ok = false;
        const uint port = text.trimmed().toUInt(&ok);
        if (ok && port >= 1 && port <= 65535)
            settings.port = quint16(port);
    }
    return settings;
}

void writeConnectionSettings(const QString &key, const ConnectionSettings &settings) {
    writeConnectionSettings(connectionStorePath(), key, settings);
}

void writeConnectionSettings(const QString &storePath, const QString &key,
                             const ConnectionSettings &settings) {
    checkKey(key);
    const QFileInfo info(storePath);
    // QSettings would quietly keep the values in memory if the folder is
    // missing and cannot be made; the operator must hear about it.
    if (!QDir().mkpath(info.absolutePath()))
        throw RuntimeError(errors::ConfigWriteFailed,
                           QStringLiteral("Could not create the configuration folder %1.")
                               .arg(info.absolutePath()));
    QSettings store(storePath, QSettings::IniFormat);
    store.beginGroup(key);
    QVariantList before;
    for (const QString &field : fieldKeys())
        before.append(store.value(field));
    store.setValue(KindKey, kindName(settings.kind));
    store.setValue(QueueKey, settings.queue);
    store.setValue(HostKey, settings.host);
    store.setValue(PortKey, int(settings.port));
    store.setValue(PathKey, settings.path);
    store.sync();
    if (store.status() != QSettings::NoError) {
        // Qt keeps unsaved values for every later reader in this process;
        // put back what is on disk so nobody reads a choice that was not stored.
        for (qsizetype i = 0; i < fieldKeys().size(); ++i) {
            if (before[i].isValid())
                store.setValue(fieldKeys()[i], before[i]);
            else
                store.remove(fieldKeys()[i]);
        }
        throw RuntimeError(errors::ConfigWriteFailed,
                           QStringLiteral("Could not save the printer connection to %1%2.")
                               .arg(storePath, store.status() == QSettings::AccessError
                                                   ? QStringLiteral(": access denied or disk "
                                                                    "full")
                                                   : QString()));
    }
}

std::unique_ptr<PrinterPort> makePort(const ConnectionSettings &settings) {
    switch (settings.kind) {
    case Kind::Tcp:
        return std::make_unique<TcpPort>(settings.host, settings.port);
    case Kind::File:
        return std::make_unique<FilePort>(settings.path);
    case Kind::Spooler:
        break;
    }
    return std::make_unique<SpoolerPort>(settings.queue);
}

QStringList spoolerQueues() {
    http_t *http = connectToSpooler();
    cups_dest_t *dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    QStringList names;
    for (int i = 0; i < count; ++i)
        if (!dests[i].instance && !names.contains(QString::fromUtf8(dests[i].name)))
            names.append(QString::fromUtf8(dests[i].name));
    cupsFreeDests(count, dests);
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
