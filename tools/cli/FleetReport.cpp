#include "FleetReport.h"

#include "PrinterPort.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "StatusCommand.h"
#include "Targets.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace krv::cli {

using namespace krv::profile;

namespace {

// Passes each call on, noting how far the job got.
class StepWatch : public comm::PrinterPort {
public:
    explicit StepWatch(comm::PrinterPort &port) : mPort(port) {}
    void OpenPort() override {
        mPort.OpenPort();
        opened = true;
    }
    void SendData(const QByteArray &data) override {
        mPort.SendData(data);
        sent = true;
    }
    void ClosePort() override { mPort.ClosePort(); }
    std::unique_ptr<comm::StatusLink> statusLink() override { return mPort.statusLink(); }
    QString noStatusReason() const override { return mPort.noStatusReason(); }
    bool opened = false;
    bool sent = false;

private:
    comm::PrinterPort &mPort;
};

} // namespace

QString triesNote(const FleetResult &result) {
    return result.tries > 1 ? QStringLiteral(" after %1 tries").arg(result.tries) : QString();
}

Attempt sendAttempt(const comm::ConnectionSettings &target, const QByteArray &data,
                    comm::AskStatus ask) {
    Attempt attempt;
    const auto port = comm::makePort(target);
    StepWatch watch(*port);
    try {
        if (const auto status = comm::talkToPrinter(watch, data, ask))
            noteStatus(attempt, *status);
        attempt.ok = true;
    } catch (const RuntimeError &e) {
        attempt.errorNumber = e.number();
        attempt.description = e.description();
    }
    // A failed send may have handed over any part of the job.
    attempt.bytes = watch.sent ? data.size() : watch.opened ? -1 : 0;
    return attempt;
}

QString resultLine(const FleetResult &result) {
    const QString where = shownText(describeTarget(*result.target));
    if (result.last.ok) {
        const QString line = QStringLiteral("ok\t%1\tsent %2 bytes%3")
                                 .arg(where)
                                 .arg(result.last.bytes)
                                 .arg(triesNote(result));
        // What the printer said after the job, as "status" prints it.
        if (result.last.verdict.isEmpty())
            return line;
        return line +
               QStringLiteral("\t%1\t%2").arg(result.last.verdict, shownText(result.last.detail));
    }
    return QStringLiteral("failed\t%1\terror %2: %3%4")
        .arg(where)
        .arg(result.last.errorNumber)
        .arg(shownText(result.last.description), triesNote(result));
}

QString summaryLine(const FleetSummary &summary) {
    return QStringLiteral("%1 ok, %2 failed").arg(summary.ok).arg(summary.failed);
}

QByteArray resultJson(const FleetResult &result) {
    return QJsonDocument(resultObject(result)).toJson(QJsonDocument::Compact);
}

QJsonObject resultObject(const FleetResult &result) {
    const Attempt &last = result.last;
    const QString where = describeTarget(*result.target);
    QJsonObject object{
        {QStringLiteral("type"), QStringLiteral("result")},
        {QStringLiteral("target"), where},
        {QStringLiteral("kind"), where.section(QLatin1Char(' '), 0, 0)},
        {QStringLiteral("outcome"), last.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
        {QStringLiteral("error"), last.ok ? QJsonValue() : QJsonValue(last.errorNumber)},
        {QStringLiteral("description"), last.ok ? QJsonValue() : QJsonValue(last.description)},
        {QStringLiteral("bytes"), last.bytes < 0 ? QJsonValue() : QJsonValue(last.bytes)},
        {QStringLiteral("ms"), result.milliseconds},
        {QStringLiteral("tries"), result.tries},
    };
    if (!last.detail.isEmpty())
        object.insert(QStringLiteral("detail"), last.detail);
    if (last.ok && !last.verdict.isEmpty()) {
        object.insert(QStringLiteral("status"), last.verdict);
        object.insert(QStringLiteral("code"), last.exitCode);
    }
    return object;
}

QByteArray summaryJson(const FleetSummary &summary, qint64 milliseconds) {
    const QJsonObject object{
        {QStringLiteral("type"), QStringLiteral("summary")},
        {QStringLiteral("ok"), qint64(summary.ok)},
        {QStringLiteral("failed"), qint64(summary.failed)},
        {QStringLiteral("total"), qint64(summary.ok + summary.failed)},
        {QStringLiteral("ms"), milliseconds},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace krv::cli
