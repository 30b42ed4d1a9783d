#pragma once

#include "SerialSettings.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace krv::comm {

class PrinterPort;

struct ConnectionSettings {
    enum class Kind { Spooler, Tcp, File, Serial };
    // The spooler works without any address typed in, so it is the first choice.
    Kind kind = Kind::Spooler;
    QString queue; // CUPS destination; empty means the default queue
    QString host;  // TCP host name or address
    quint16 port = 9100;
    QString path;          // file or device node
    SerialSettings serial; // for Kind::Serial
    friend bool operator==(const ConnectionSettings &, const ConnectionSettings &) = default;
};

// The store: an INI file in the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config), one group per key.
[[nodiscard]] QString connectionStorePath();

// Missing key or file gives the defaults; a field that is missing, of the
// wrong kind or out of range gives that field's default, the rest is kept.
// A store that exists but cannot be read throws krv::RuntimeError.
[[nodiscard]] ConnectionSettings readConnectionSettings(const QString &key);
[[nodiscard]] ConnectionSettings readConnectionSettings(const QString &storePath,
                                                        const QString &key);
// Throws krv::RuntimeError when the store cannot be written.
void writeConnectionSettings(const QString &key, const ConnectionSettings &settings);
void writeConnectionSettings(const QString &storePath, const QString &key,
                             const ConnectionSettings &settings);

// A closed port of the chosen kind. The spooler's, TCP/IP's and serial
// lines' come from their connection libraries (ConnectionLibraries.h).
[[nodiscard]] std::unique_ptr<PrinterPort> makePort(const ConnectionSettings &settings);

// In the spooler's library: the CUPS destinations of the scheduler in use
// (CUPS_SERVER is honoured).
// Throws krv::RuntimeError when the scheduler cannot be reached.
[[nodiscard]] QStringList spoolerQueues();
// Empty when there is no default queue or no scheduler.
[[nodiscard]] QString defaultSpoolerQueue();

[[nodiscard]] QString kindName(ConnectionSettings::Kind kind);

} // namespace krv::comm
