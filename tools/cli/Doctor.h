#pragma once

#include "ConnectionSettings.h"
#include "StatusQuery.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <vector>

namespace krv::cli {

// What can stand between the companion and a printer.
enum class Problem {
    IncompleteSettings, // no host, no path
    HostNotFound,
    ConnectionRefused,
    ConnectTimeout,
    ConnectFailed,
    PathMissing,
    PathIsFolder,
    FolderMissing, // a file that does not exist yet, in a folder that does not either
    NotWritable,
    NotInOwnerGroup,    // the device's group would let the user write, but they are not in it
    GroupNeedsNewLogin, // added to that group, but this login predates it
    SpoolerUnavailable,
    NoDefaultQueue,
    QueueMissing,
    QueuePaused,
    QueueRejecting,
    QueueNotRaw,
    NotFileOrDevice,   // a FIFO, socket or the like
    DeviceRefusesData, // the kernel's full device
    SerialMissing,
    SerialNotTerminal,
    SerialBusy, // held by another program
    SerialRefusesSettings,
    SerialOpenFailed,
    // What the printer's status says, once the connection opens.
    StatusFailed, // the connection failed while asking
    CoverOpen,
    PaperOut,       // paper end, or printing stopped for lack of paper
    PrinterOffline, // offline for a reason the printer does not give, or feeding
    PrinterError,   // auto-cutter, unrecoverable, auto-recoverable or other error
};

struct Finding {
    Problem problem;
    QString what; // what is wrong, in plain words
    QString fix;  // what to do about it
};

struct CheckReport {
    QStringList passed; // each step that went well, in order
    std::vector<Finding> problems;
    // Facts that are no fault: no status answer, paper near its end.
    QStringList notes;
    [[nodiscard]] bool ok() const { return problems.empty(); }
    [[nodiscard]] bool has(Problem problem) const;
};

struct CheckOptions {
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds statusBound = comm::DefaultStatusBound;
};

// Tries the connection without sending anything the printer would print:
// TCP connects, asks for the printer's status and closes; a file is only
// looked at, and a device that passes is asked for its status; a queue is
// only asked about its state.
[[nodiscard]] CheckReport checkConnection(const comm::ConnectionSettings &target,
                                          const CheckOptions &options = {});

// Opens the line and closes it again without sending anything.
[[nodiscard]] CheckReport checkSerial(const comm::SerialSettings &serial);

[[nodiscard]] CheckReport checkTcp(const QString &host, quint16 port,
                                   const CheckOptions &options = {});

// What the system says about a file or device path, gathered apart from its
// judgement so that the judgement can be tried on situations a test cannot
// set up (running as root, say).
struct PathFacts {
    bool exists = false;
    bool isFolder = false;
    bool isDevice = false;
    bool isOther = false;      // neither file, folder nor device: a FIFO, a socket
    QString kind;              // what it is, in words ("a FIFO (named pipe)")
    bool isFullDevice = false; // the kernel's full device, which refuses every write
    bool writable = false;     // access(W_OK) on the path, or on its folder if it is new
    bool folderExists = false; // for a path that does not exist yet
    // For an existing regular file: the job is written beside it and renamed
    // over it, so its folder must take a new file.
    bool folderWritable = false;
    QString ownerGroup; // the group that owns the device
    bool groupCanWrite = false;
    bool inGroupNow = false;    // this process has the group
    bool inGroupListed = false; // the group database lists the user in it
    QString user;
};

[[nodiscard]] PathFacts gatherPathFacts(const QString &path);
[[nodiscard]] CheckReport diagnosePath(const QString &path, const PathFacts &facts);

struct QueueFacts {
    bool schedulerReachable = false;
    QString scheduler; // where the spooler was looked for
    QString requested; // empty for the default queue
    QString queue;     // the queue in question, the default resolved
    bool exists = false;
    int state = 3;        // printer-state: 3 idle, 4 printing, 5 stopped
    QString stateReasons; // printer-state-reasons
    bool accepting = true;
    QString makeAndModel; // "Local Raw Printer" for a queue without a driver
    QStringList queues;   // every queue, to suggest one
};

[[nodiscard]] QueueFacts gatherQueueFacts(const QString &queue);
[[nodiscard]] CheckReport diagnoseQueue(const QueueFacts &facts);

// Adds what the printer's status says: ready, a problem with its fix for
// each condition, or a note (no answer, paper near its end).
void reportStatus(CheckReport &report, const comm::PrinterStatus &status);

// The report as plain lines: "ok: ...", "problem: ...", "fix: ...", "note: ...".
[[nodiscard]] QString formatReport(const CheckReport &report);

} // namespace krv::cli
