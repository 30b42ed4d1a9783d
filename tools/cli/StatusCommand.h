#pragma once

#include "ConnectionSettings.h"
#include "Fleet.h"
#include "StatusQuery.h"

#include <QString>

#include <chrono>

namespace krv::cli {

// Exit codes of "status", one per printer; with several printers the most
// severe printer's, by the order statusSeverity gives.
inline constexpr int ExitStatusReady = 0;
inline constexpr int ExitStatusFailure = 2; // connection or I/O failure
inline constexpr int ExitStatusNearEnd = 3; // paper near its end, otherwise ready
inline constexpr int ExitStatusPaperEnd = 4;
inline constexpr int ExitStatusCoverOpen = 5;
inline constexpr int ExitStatusNotReady = 6; // offline or an error for another reason
inline constexpr int ExitStatusNoAnswer = 7; // also where status is not available

struct StatusResult {
    comm::ConnectionSettings target;
    bool failed = false; // the connection failed; errorNumber and description say how
    int errorNumber = 0;
    QString description;
    comm::PrinterStatus status;
    qint64 requestBytes = 0; // the status requests that went out
};

// One printer's status; never throws.
[[nodiscard]] StatusResult
queryStatusOf(const comm::ConnectionSettings &target,
              std::chrono::milliseconds bound = comm::DefaultStatusBound);

[[nodiscard]] int statusExitCode(const StatusResult &result);
// One of ready, near-end, paper-end, cover-open, not-ready, no-answer,
// unavailable, failed.
[[nodiscard]] QString statusWord(const StatusResult &result);

// A word's place in the order of severity, 0 the most severe: failed,
// not-ready, cover-open, paper-end, no-answer, near-end, ready, unavailable.
[[nodiscard]] int statusSeverity(QStringView word);
[[nodiscard]] int leastSevereStatus();
[[nodiscard]] int statusCodeOfSeverity(int severity);

// One printer's status as a try of the fleet runner: ok when the printer
// was reached, its word and exit code as the verdict, what it said as the
// detail. Asking sends nothing the printer prints, so a connection never
// made may be tried again like a job.
[[nodiscard]] Attempt statusAttempt(const comm::ConnectionSettings &target);
// "WORD<TAB>CONNECTION<TAB>DETAIL", with the tries it took; a failure's
// line as for sending.
[[nodiscard]] QString statusLine(const FleetResult &result);
// The result's JSON object with "status" (the word) and "code" (its exit code).
[[nodiscard]] QByteArray statusJson(const FleetResult &result);
// The exit code a result adds: its own, or a failure's.
[[nodiscard]] int statusCodeOf(const FleetResult &result);
// Its word's place in the order of severity; a failure's when it failed.
[[nodiscard]] int statusSeverityOf(const FleetResult &result);

} // namespace krv::cli
