#pragma once

#include "QueueListing.h"
#include "RuntimeError.h"
#include "SerialSettings.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace krv::comm {

class PrinterPort;

// The connections that need large system libraries of their own: the print
// spooler (the CUPS client and its TLS, Kerberos and DNS-SD chain), TCP/IP
// (Qt Network) and serial lines (Qt Serial Port). The rest of this library
// reaches them only through these tables. The command-line programs link
// them in (krv_comm); the window loads each as a module the first time a
// connection of that kind is used (krv_comm_loaded), so a window that never
// uses the spooler never maps its client.
//
// Both sides of a table are built from the same tree: ConnectionLibraryAbi
// only guards against a module left over from another build.
inline constexpr int ConnectionLibraryAbi = 1;

struct SpoolerLibrary {
    int abi;
    std::unique_ptr<PrinterPort> (*makePort)(const QString &queue);
    // Blocks for up to about twice `bound`.
    QueueListing (*listQueues)(std::chrono::milliseconds bound);
    // The failure of a scheduler that took the connection and did not answer.
    RuntimeError (*noAnswer)(double seconds);
    QStringList (*queues)();   // throws RuntimeError
    QString (*defaultQueue)(); // empty when there is none
};

struct TcpLibrary {
    int abi;
    std::unique_ptr<PrinterPort> (*makePort)(const QString &host, quint16 port);
};

struct SerialLibrary {
    int abi;
    // `writeBound`: how long the line may take no data (SerialPort::Timeouts).
    std::unique_ptr<PrinterPort> (*makePort)(const SerialSettings &settings,
                                             std::chrono::milliseconds writeBound);
    // The system's serial lines, by device path.
    QStringList (*availablePorts)();
};

// The tables of the program's connection libraries, from whichever of
// krv_comm and krv_comm_loaded the program links. Each throws RuntimeError
// (errors::ConnectionLibraryMissing) when its library cannot be loaded.
[[nodiscard]] const SpoolerLibrary &spoolerLibrary();
[[nodiscard]] const TcpLibrary &tcpLibrary();
[[nodiscard]] const SerialLibrary &serialLibrary();

} // namespace krv::comm
