#pragma once

#include "CommandLine.h"
#include "StatusCommand.h"

#include <QString>

class QTextStream;

namespace krv::cli {

// What one poll found: a state word of "watch" (ready, near-end, paper-end,
// cover-open, offline, no-answer, unreachable, busy, unavailable) and why.
struct PollOutcome {
    QString state;
    QString detail;
};

// The watch's word for a status query's result. A printer that took the
// connection and let it go without answering (or whose serial line another
// program holds) is busy; one that could not be connected to is unreachable.
[[nodiscard]] PollOutcome pollOutcome(const StatusResult &result);

// Whether a state is a failure to reach the printer, which must persist
// longer than a state the printer reports before it is reported.
[[nodiscard]] bool isFailureState(QStringView state);

// Polls the command's printers until SIGINT or SIGTERM, printing a line for
// each printer at the start and whenever its state changes; SIGHUP reads the
// targets files again. Needs a QCoreApplication. Returns the exit code.
int runWatch(const Command &command, QTextStream &out, QTextStream &err);

} // namespace krv::cli
