#pragma once

#include "ConnectionSettings.h"
#include "StatusQuery.h"

#include <QString>

#include <chrono>
#include <vector>

class QTextStream;

namespace krv::cli {

// Exit codes of "status", one per printer; with several printers the
// highest wins.
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
};

// One printer's status; never throws.
[[nodiscard]] StatusResult
queryStatusOf(const comm::ConnectionSettings &target,
              std::chrono::milliseconds bound = comm::DefaultStatusBound);

[[nodiscard]] int statusExitCode(const StatusResult &result);
// "WORD<TAB>CONNECTION<TAB>DETAIL", WORD one of ready, near-end, paper-end,
// cover-open, not-ready, no-answer, unavailable, failed.
[[nodiscard]] QString formatStatus(const StatusResult &result);

// Each target in turn, one line each; returns the highest exit code.
[[nodiscard]] int runStatus(const std::vector<comm::ConnectionSettings> &targets, QTextStream &out);

} // namespace krv::cli
