#include "StatusCommand.h"

#include "FleetReport.h"
#include "RuntimeError.h"
#include "Targets.h"

#include <QJsonDocument>
#include <QJsonObject>

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

QString statusWord(const StatusResult &result) {
    if (result.failed)
        return QStringLiteral("failed");
    switch (statusExitCode(result)) {
    case ExitStatusReady:
        return QStringLiteral("ready");
    case ExitStatusNearEnd:
        return QStringLiteral("near-end");
    case ExitStatusPaperEnd:
        return QStringLiteral("paper-end");
    case ExitStatusCoverOpen:
        return QStringLiteral("cover-open");
    case ExitStatusNotReady:
        return QStringLiteral("not-ready");
    default:
        return result.status.outcome == PrinterStatus::Outcome::NotAvailable
                   ? QStringLiteral("unavailable")
                   : QStringLiteral("no-answer");
    }
}

Attempt statusAttempt(const comm::ConnectionSettings &target) {
    const StatusResult result = queryStatusOf(target);
    Attempt attempt;
    attempt.ok = !result.failed;
    attempt.errorNumber = result.errorNumber;
    attempt.description = result.description;
    attempt.verdict = statusWord(result);
    attempt.exitCode = statusExitCode(result);
    if (!result.failed)
        attempt.detail = comm::describeStatus(result.status);
    return attempt;
}

QString statusLine(const FleetResult &result) {
    if (!result.last.ok)
        return resultLine(result);
    return QStringLiteral("%1\t%2\t%3%4")
        .arg(result.last.verdict, describeTarget(*result.target), result.last.detail,
             triesNote(result));
}

QByteArray statusJson(const FleetResult &result) {
    QJsonObject object = resultObject(result);
    object.insert(QStringLiteral("status"),
                  result.last.ok ? result.last.verdict : QStringLiteral("failed"));
    object.insert(QStringLiteral("code"), statusCodeOf(result));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int statusCodeOf(const FleetResult &result) {
    return result.last.ok ? result.last.exitCode
                          : std::max(result.last.exitCode, ExitStatusFailure);
}

} // namespace krv::cli
