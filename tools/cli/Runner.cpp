#include "Runner.h"

#include "CliErrors.h"
#include "Commands.h"
#include "Completion.h"
#include "Discover.h"
#include "Doctor.h"
#include "DryRun.h"
#include "Fleet.h"
#include "FleetReport.h"
#include "HelpTopics.h"
#include "Names.h"
#include "Profile.h"
#include "Quote.h"
#include "RtfReader.h"
#include "RuntimeError.h"
#include "SettingsBatch.h"
#include "StatusCommand.h"
#include "Targets.h"
#include "TestPage.h"
#include "Watch.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QTextDocument>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <mutex>

namespace krv::cli {

using namespace krv::profile;

namespace {

// A script reading our output must not take a cut-short list or a lost
// result line for the whole answer; so a failed write ends the command.
void requireWritten(QTextStream &out) {
    out.flush();
    if (out.status() == QTextStream::Ok)
        return;
    const QString reason = out.device() ? out.device()->errorString() : QString();
    throw RuntimeError(errors::OutputFailed,
                       QStringLiteral("Cannot write to standard output: %1.")
                           .arg(reason.isEmpty() ? QStringLiteral("write failed") : reason));
}

// The exit code once both streams are flushed: a failure to write either
// is a failure of the command.
int finish(int code, QTextStream &out, QTextStream &err) {
    out.flush();
    err.flush();
    if (out.status() != QTextStream::Ok || err.status() != QTextStream::Ok)
        return ExitFailure;
    return code;
}

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void list(QTextStream &out) {
    for (const settings::Setting &s : settings::catalogue()) {
        out << comboName(s) << "\t\"" << caption(s) << "\"\t"
            << fromView(settings::pageTitle(s.page)) << '\n';
        for (std::size_t i = 0; i < s.entries.size(); ++i)
            out << '\t' << i << "\t\"" << entryText(s, i) << "\"\n";
    }
}

int topicHelp(const Command &command, QTextStream &out, QTextStream &err) {
    const settings::Setting &setting = resolveSetting(command.topic);
    const help::RtfResult result = help::readRtf(help::helpDocument(setting.helpTopic));
    for (const QString &problem : result.problems)
        err << "krv520-cli: warning: help topic " << setting.helpTopic << ": " << problem << '\n';
    QString text = result.document->toPlainText();
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    out << text << '\n';
    return ExitOk;
}

// The note on standard error before a printer is tried again; the workers
// call it, so it takes its turn at the stream.
class RetryNotes {
public:
    explicit RetryNotes(QTextStream &err) : mErr(err) {}
    void operator()(const FleetResult &result, std::chrono::milliseconds wait) {
        const std::lock_guard lock(mLock);
        mErr << "krv520-cli: " << shownText(describeTarget(*result.target)) << ": try "
             << result.tries << " failed with error " << result.last.errorNumber
             << "; trying again in " << QString::number(double(wait.count()) / 1000.0, 'g', 6)
             << " s\n";
        mErr.flush();
    }

private:
    QTextStream &mErr;
    std::mutex mLock;
};

// Runs `perTarget` over the command's printers and prints what `print`
// makes of each result, in the order of the targets, then the count.
FleetSummary serveTargets(const Command &command,
                          const std::function<Attempt(const comm::ConnectionSettings &)> &perTarget,
                          const std::function<QString(const FleetResult &)> &print,
                          QTextStream &out, QTextStream &err) {
    const std::vector<comm::ConnectionSettings> targets = resolveTargets(command.targets);
    QElapsedTimer clock;
    clock.start();
    RetryNotes notes(err);
    const FleetSummary summary = runFleet(
        targets, command.fleet, perTarget,
        [&](const FleetResult &result) {
            out << print(result) << '\n';
            requireWritten(out);
        },
        std::ref(notes));
    // Standard output keeps one line per printer for the scripts that read
    // it; the count is for the person watching.
    if (command.json)
        out << summaryJson(summary, clock.elapsed()) << '\n';
    else
        err << summaryLine(summary) << '\n';
    return summary;
}

// A delivered job is a success, whatever the printer then said, unless
// the operator requires a ready printer: then the most severe printer's
// status code, as "status" gives it.
int send(const Command &command, const QByteArray &data, QTextStream &out, QTextStream &err) {
    const comm::AskStatus ask = command.askStatus ? comm::AskStatus::Yes : comm::AskStatus::No;
    int worst = leastSevereStatus();
    const FleetSummary summary = serveTargets(
        command,
        [&data, ask](const comm::ConnectionSettings &target) {
            return sendAttempt(target, data, ask);
        },
        [&](const FleetResult &result) {
            worst = std::min(worst, statusSeverityOf(result));
            return command.json ? QString::fromUtf8(resultJson(result)) : resultLine(result);
        },
        out, err);
    if (command.requireReady)
        return statusCodeOfSeverity(worst);
    return summary.failed == 0 ? ExitOk : ExitFailure;
}

// The most severe printer's code, so that a printer that could not be
// reached is never hidden behind one that answered.
int status(const Command &command, QTextStream &out, QTextStream &err) {
    int worst = leastSevereStatus();
    serveTargets(
        command, statusAttempt,
        [&](const FleetResult &result) {
            worst = std::min(worst, statusSeverityOf(result));
            return command.json ? QString::fromUtf8(statusJson(result)) : statusLine(result);
        },
        out, err);
    return statusCodeOfSeverity(worst);
}

int check(const Command &command, QTextStream &out) {
    bool allOk = true;
    for (const comm::ConnectionSettings &target : resolveTargets(command.targets)) {
        out << "check " << shownText(describeTarget(target)) << '\n';
        requireWritten(out);
        const CheckReport report = checkConnection(target);
        out << formatReport(report) << (report.ok() ? "result: ok\n" : "result: problem\n");
        requireWritten(out);
        allOk = allOk && report.ok();
    }
    return allOk ? ExitOk : ExitFailure;
}

int profile(const Command &command, QTextStream &out) {
    if (command.outputPath.isEmpty() || command.outputPath == QLatin1String("-")) {
        out << profileTemplate();
        return ExitOk;
    }
    writeProfileTemplate(command.outputPath, command.force);
    out << "Wrote a profile template to " << shownText(command.outputPath) << ".\n";
    return ExitOk;
}

int dispatch(const Command &command, QTextStream &out, QTextStream &err) {
    switch (command.action) {
    case Action::Usage:
        if (const CommandInfo *c = findCommand(command.usageOf))
            out << commandHelpText(*c);
        else
            out << usageText();
        return ExitOk;
    case Action::Version:
        out << "krv520-cli " << KRV_VERSION << '\n';
        return ExitOk;
    case Action::List:
        list(out);
        return ExitOk;
    case Action::TopicHelp:
        return topicHelp(command, out, err);
    case Action::Profile:
        return profile(command, out);
    case Action::Download: {
        const QByteArray batch = batchFor(command);
        if (command.dryRun) {
            out << describeBatch(batch);
            return ExitOk;
        }
        return send(command, batch, out, err);
    }
    case Action::TestPrint: {
        const QByteArray page = testprint::makeTestPage();
        if (command.dryRun) {
            out << hexDump(page);
            return ExitOk;
        }
        return send(command, page, out, err);
    }
    case Action::Check:
        return check(command, out);
    case Action::Status:
        return status(command, out, err);
    case Action::Completion:
        out << completionScript(command.shell);
        return ExitOk;
    case Action::Complete:
        return runComplete(command.words, out);
    case Action::Discover:
        return runDiscover(command.discover, out, err);
    case Action::Watch:
        return runWatch(command, out, err);
    }
    return ExitUsage;
}

} // namespace

std::vector<comm::ConnectionSettings> resolveTargets(const std::vector<TargetSource> &sources) {
    std::vector<comm::ConnectionSettings> targets;
    for (const TargetSource &source : sources) {
        if (source.kind == TargetSource::Kind::Connection) {
            targets.push_back(source.connection);
            continue;
        }
        const auto listed = readTargetsFile(source.targetsFile);
        if (listed.empty())
            throw RuntimeError(errors::TargetsSyntax,
                               QStringLiteral("%1 lists no connection.").arg(source.targetsFile));
        targets.insert(targets.end(), listed.begin(), listed.end());
    }
    if (targets.empty())
        targets.push_back(comm::readConnectionSettings(QString::fromLatin1(StoredConnectionKey)));
    return targets;
}

QByteArray batchFor(const Command &command) {
    std::vector<Assignment> fromProfile;
    if (!command.profilePath.isEmpty())
        fromProfile = readProfile(command.profilePath);
    std::vector<Assignment> fromCommandLine;
    for (const QString &text : command.assignments)
        fromCommandLine.push_back(parseAssignment(text, QStringLiteral("--set ") + quoted(text)));
    return settings::makeSettingsBatch(resolveAssignments(fromProfile, fromCommandLine));
}

int runCommand(const Command &command, QTextStream &out, QTextStream &err) {
    try {
        const int code = dispatch(command, out, err);
        requireWritten(out);
        return finish(code, out, err);
    } catch (const RuntimeError &e) {
        out.flush();
        if (errors::isUsageError(e.number())) {
            err << "krv520-cli: " << shownText(e.description()) << '\n';
            return finish(ExitUsage, out, err);
        }
        err << "krv520-cli: error " << e.number() << ": " << shownText(e.description()) << '\n';
        return finish(ExitFailure, out, err);
    }
}

int runProgram(const QStringList &arguments, QTextStream &out, QTextStream &err) {
    if (arguments.isEmpty()) {
        err << usageText();
        return finish(ExitUsage, out, err);
    }
    Command command;
    try {
        command = parseCommandLine(arguments);
    } catch (const RuntimeError &e) {
        err << "krv520-cli: " << shownText(e.description()) << "\nSee \"krv520-cli --help\".\n";
        return finish(ExitUsage, out, err);
    }
    return runCommand(command, out, err);
}

} // namespace krv::cli
