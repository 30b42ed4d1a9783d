#pragma once

#include "ConnectionSettings.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace krv::cli {

inline constexpr int DefaultJobs = 32;
inline constexpr int MaxJobs = 1024;
inline constexpr int MaxRetries = 100;
inline constexpr std::chrono::milliseconds DefaultRetryWait{1000};
inline constexpr std::chrono::milliseconds MaxRetryWait{3600 * 1000};

struct FleetOptions {
    int jobs = DefaultJobs; // printers served at once
    int retry = 0;          // further tries after a connection that was never made
    std::chrono::milliseconds retryWait = DefaultRetryWait; // before the first retry; doubles
};

// One try at one printer, as the command's own work reports it.
struct Attempt {
    bool ok = false;
    int errorNumber = 0;
    QString description;
    // Bytes handed to the connection: the whole job once sent, 0 when the
    // connection was never made, -1 when some went out but how many is unknown.
    qint64 bytes = 0;
    QString detail; // anything else the command has to say about this printer
    // A command's own word and exit code for this printer (status: "ready",
    // "paper-end", ...); empty and 0 for a send.
    QString verdict;
    int exitCode = 0;
};

struct FleetResult {
    std::size_t index = 0; // in the list of targets
    const comm::ConnectionSettings *target = nullptr;
    Attempt last; // the last try's outcome
    int tries = 0;
    qint64 milliseconds = 0; // from the first try to the end of the last, waits included
};

struct FleetSummary {
    std::size_t ok = 0;
    std::size_t failed = 0;
};

// Whether a failed try may be made again: only when the printer never took
// the connection (refused, no answer to it, or a serial port another program
// holds), so no byte can have reached it.
[[nodiscard]] bool mayRetry(const Attempt &attempt);

// What makes two targets the same printer, which is never served twice at
// once: the host's address however it is spelled (a host name as written,
// in any letter case) and port; the device or
// file after resolving links; the queue name (in any letter case).
[[nodiscard]] QString printerIdentity(const comm::ConnectionSettings &target);

// Runs `perTarget` once for each target, and again after a wait while it
// fails in a way mayRetry allows, on up to options.jobs threads; never two
// targets of the same printer at once. `onResult` is called on the caller's
// thread for each target in list order, each as soon as it and every
// earlier one are done; only a bounded window of finished results is held,
// so a long list needs no more memory than a short one. `onRetry` (may be
// empty) is called on a worker thread before each wait. When `onResult`
// throws, no new target is started; the running ones end and the exception
// is passed on. An exception perTarget lets out is that printer's failure
// (error 1131 unless it is a krv::RuntimeError), never tried again.
FleetSummary
runFleet(const std::vector<comm::ConnectionSettings> &targets, const FleetOptions &options,
         const std::function<Attempt(const comm::ConnectionSettings &)> &perTarget,
         const std::function<void(const FleetResult &)> &onResult,
         const std::function<void(const FleetResult &, std::chrono::milliseconds)> &onRetry = {});

} // namespace krv::cli
