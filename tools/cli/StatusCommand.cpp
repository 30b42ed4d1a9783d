#include "StatusCommand.h"

#include "FleetReport.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "Targets.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace krv::cli {

using namespace krv::profile;

namespace {

using comm::PrinterStatus;
using C = PrinterStatus::Condition;

// What the printer's own reasons leave of "offline" and "an error occurred":
// an open cover or the end of the paper takes a printer offline too.
constexpr unsigned Explained = C::CoverOpen | C::PaperOutStop | C::PaperEnd;

struct Verdict {
    QLatin1StringView word;
    int code;
};

// Most severe first. A printer we could not reach comes before any that
// answered; what stops printing before what only may; "unavailable" last,
// as it says nothing about the printer (spooler, file) and must not hide
// one that did say something.
constexpr std::array<Verdict, 8> Verdicts{{
    {QLatin1StringView("failed"), ExitStatusFailure},
    {QLatin1StringView("not-ready"), ExitStatusNotReady},
    {QLatin1StringView("cover-open"), ExitStatusCoverOpen},
    {QLatin1StringView("paper-end"), ExitStatusPaperEnd},
    {QLatin1StringView("no-answer"), ExitStatusNoAnswer},
    {QLatin1StringView("near-end"), ExitStatusNearEnd},
    {QLatin1StringView("ready"), ExitStatusReady},
    {QLatin1StringView("unavailable"), ExitStatusNoAnswer},
}};

} // namespace

StatusResult queryStatusOf(const comm::ConnectionSettings &target,
                           std::chrono::milliseconds bound) {
    StatusResult result;
    result.target = target;
    try {
        result.status = comm::queryPrinterStatus(target, bound, &result.requestBytes);
    } catch (const RuntimeError &e) {
        result.failed = true;
        result.errorNumber = e.number();
        result.description = e.description();
    }
    return result;
}

QString statusWord(const StatusResult &result) {
    return result.failed ? QStringLiteral("failed") : statusWord(result.status);
}

QString statusWord(const PrinterStatus &s) {
    if (!s.answered())
        return s.outcome == PrinterStatus::Outcome::NotAvailable ? QStringLiteral("unavailable")
                                                                 : QStringLiteral("no-answer");
    const unsigned other = s.conditions & ~(Explained | C::PaperNearEnd | C::Offline);
    if (other != 0 || (s.has(C::Offline) && (s.conditions & Explained) == 0))
        return QStringLiteral("not-ready");
    if (s.has(C::CoverOpen))
        return QStringLiteral("cover-open");
    if (s.has(C::PaperEnd) || s.has(C::PaperOutStop))
        return QStringLiteral("paper-end");
    if (s.has(C::PaperNearEnd))
        return QStringLiteral("near-end");
    return QStringLiteral("ready");
}

int statusSeverity(QStringView word) {
    const auto found = std::find_if(Verdicts.begin(), Verdicts.end(),
                                    [word](const Verdict &v) { return v.word == word; });
    return found == Verdicts.end() ? 0 : int(found - Verdicts.begin());
}

int leastSevereStatus() {
    return int(Verdicts.size()) - 1;
}

int statusCodeOfSeverity(int severity) {
    return Verdicts[std::size_t(std::clamp(severity, 0, leastSevereStatus()))].code;
}

void noteStatus(Attempt &attempt, const PrinterStatus &status) {
    attempt.verdict = statusWord(status);
    attempt.exitCode = statusCodeOfSeverity(statusSeverity(attempt.verdict));
    attempt.detail = comm::describeStatus(status);
}

Attempt statusAttempt(const comm::ConnectionSettings &target) {
    const StatusResult result = queryStatusOf(target);
    Attempt attempt;
    attempt.ok = !result.failed;
    attempt.errorNumber = result.errorNumber;
    attempt.description = result.description;
    attempt.bytes = result.requestBytes;
    if (result.failed) {
        attempt.verdict = statusWord(result);
        attempt.exitCode = ExitStatusFailure;
    } else {
        noteStatus(attempt, result.status);
    }
    return attempt;
}

QString statusLine(const FleetResult &result) {
    if (!result.last.ok)
        return resultLine(result);
    return QStringLiteral("%1\t%2\t%3%4")
        .arg(result.last.verdict, shownText(describeTarget(*result.target)),
             shownText(result.last.detail), triesNote(result));
}

QByteArray statusJson(const FleetResult &result) {
    QJsonObject object = resultObject(result);
    object.insert(QStringLiteral("status"),
                  result.last.ok ? result.last.verdict : QStringLiteral("failed"));
    object.insert(QStringLiteral("code"), statusCodeOf(result));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int statusCodeOf(const FleetResult &result) {
    return result.last.ok ? result.last.exitCode : ExitStatusFailure;
}

int statusSeverityOf(const FleetResult &result) {
    return statusSeverity(result.last.ok ? result.last.verdict : QStringLiteral("failed"));
}

} // namespace krv::cli
