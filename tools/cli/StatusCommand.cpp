#include "StatusCommand.h"

#include "CliErrors.h"
#include "RuntimeError.h"
#include "Targets.h"

#include <QIODevice>
#include <QTextStream>

#include <algorithm>

namespace krv::cli {

namespace {

using comm::PrinterStatus;
using C = PrinterStatus::Condition;

// What the printer's own reasons leave of "offline" and "an error occurred":
// an open cover or the end of the paper takes a printer offline too.
constexpr unsigned Explained = C::CoverOpen | C::PaperOutStop | C::PaperEnd;

} // namespace

StatusResult queryStatusOf(const comm::ConnectionSettings &target,
                           std::chrono::milliseconds bound) {
    StatusResult result;
    result.target = target;
    try {
        result.status = comm::queryPrinterStatus(target, bound);
    } catch (const RuntimeError &e) {
        result.failed = true;
        result.errorNumber = e.number();
        result.description = e.description();
    }
    return result;
}

int statusExitCode(const StatusResult &result) {
    if (result.failed)
        return ExitStatusFailure;
    const PrinterStatus &s = result.status;
    if (!s.answered())
        return ExitStatusNoAnswer;
    const unsigned other = s.conditions & ~(Explained | C::PaperNearEnd | C::Offline);
    int code = ExitStatusReady;
    if (s.has(C::PaperNearEnd))
        code = ExitStatusNearEnd;
    if (s.has(C::PaperEnd) || s.has(C::PaperOutStop))
        code = ExitStatusPaperEnd;
    if (s.has(C::CoverOpen))
        code = ExitStatusCoverOpen;
    if (other != 0 || (s.has(C::Offline) && (s.conditions & Explained) == 0))
        code = ExitStatusNotReady;
    return code;
}

QString formatStatus(const StatusResult &result) {
    const QString where = describeTarget(result.target);
    if (result.failed)
        return QStringLiteral("failed\t%1\terror %2: %3")
            .arg(where)
            .arg(result.errorNumber)
            .arg(result.description);
    QString word;
    switch (statusExitCode(result)) {
    case ExitStatusReady:
        word = QStringLiteral("ready");
        break;
    case ExitStatusNearEnd:
        word = QStringLiteral("near-end");
        break;
    case ExitStatusPaperEnd:
        word = QStringLiteral("paper-end");
        break;
    case ExitStatusCoverOpen:
        word = QStringLiteral("cover-open");
        break;
    case ExitStatusNotReady:
        word = QStringLiteral("not-ready");
        break;
    default:
        word = result.status.outcome == PrinterStatus::Outcome::NotAvailable
                   ? QStringLiteral("unavailable")
                   : QStringLiteral("no-answer");
    }
    return QStringLiteral("%1\t%2\t%3").arg(word, where, comm::describeStatus(result.status));
}

int runStatus(const std::vector<comm::ConnectionSettings> &targets, QTextStream &out) {
    int code = ExitStatusReady;
    for (const comm::ConnectionSettings &target : targets) {
        const StatusResult result = queryStatusOf(target);
        out << formatStatus(result) << '\n';
        // A script must not take a lost line for a printer that was fine.
        out.flush();
        if (out.status() != QTextStream::Ok)
            throw RuntimeError(errors::OutputFailed,
                               QStringLiteral("Cannot write to standard output: %1.")
                                   .arg(out.device() ? out.device()->errorString()
                                                     : QStringLiteral("write failed")));
        code = std::max(code, statusExitCode(result));
    }
    return code;
}

} // namespace krv::cli
