#include "Watch.h"

#include "CliErrors.h"
#include "CommErrors.h"
#include "Digits.h"
#include "HeldLines.h"
#include "Quote.h"
#include "Runner.h"
#include "RuntimeError.h"
#include "Targets.h"
#include "WatchOptions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSocketNotifier>
#include <QTextStream>
#include <QThreadPool>
#include <QTimer>

#include <array>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>
#include <vector>

namespace krv::cli {

using namespace krv::profile;

namespace {

[[noreturn]] void usageError(const QString &text) {
    throw RuntimeError(errors::BadArgument, text);
}

// Every state a line may name, in the order the metrics list them.
constexpr std::array<QLatin1StringView, 9> States{{
    QLatin1StringView("ready"),
    QLatin1StringView("near-end"),
    QLatin1StringView("paper-end"),
    QLatin1StringView("cover-open"),
    QLatin1StringView("offline"),
    QLatin1StringView("no-answer"),
    QLatin1StringView("unreachable"),
    QLatin1StringView("busy"),
    QLatin1StringView("unavailable"),
}};

// A refusal or a printer between two jobs lasts a moment: a failed poll is
// tried once more after this before it counts.
constexpr int RetryAfterFailureMs = 300;
// How often due polls are looked for; polls start within this of their time.
constexpr int TickMs = 100;
// A hook that hangs is ended after this, so it cannot hold its slot forever.
constexpr int ExecLimitMs = 60000;
// After SIGINT or SIGTERM, polls under way may finish within this; the
// rest are cut by the exit, which closes their connections.
constexpr int StopGraceMs = 700;

QString isoNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// Prometheus' text format: backslash, double quote and line feed escaped.
QString labelValue(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'"')
            out += QStringLiteral("\\\"");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

// One printer's fixed-size record: what was reported, and the state that
// would replace it once it has held long enough.
struct Printer {
    comm::ConnectionSettings target;
    QString name;     // as lines show it
    QString identity; // never two polls of one printer at once
    QString reported; // empty until the first line
    QString detail;
    QString candidate;
    int candidateCount = 0;
    qint64 dueMs = 0;       // on the watch's clock: the next poll, a retry included
    qint64 scheduledMs = 0; // the next regular poll
    qint64 changedAtMs = 0; // since the epoch, of the last line
    qint64 pollDurationMs = 0;
    bool inFlight = false;
    bool retrying = false; // the poll under way tries again after a failure
    bool firstPollDone = false;
};

struct Change {
    QString target;
    QString kind;
    QString previous;
    QString state;
    QString detail;
    QString time;
};

class Watcher : public QObject {
public:
    Watcher(const Command &command, QTextStream &out, QTextStream &err)
        : mCommand(command), mOptions(command.watch), mOut(out), mErr(err) {
        mPool.setMaxThreadCount(command.fleet.jobs);
        // Workers that come and go would each leave memory behind; a watch
        // keeps its few for good.
        mPool.setExpiryTimeout(-1);
        mClock.start();
    }

    ~Watcher() override {
        for (QProcess *process : mRunning) {
            process->disconnect();
            process->kill();
            process->waitForFinished(100);
        }
    }

    // Reads the targets and starts the watch; throws what resolveTargets
    // throws, and when the metrics address cannot be served.
    void start() {
        setTargets(resolveTargets(mCommand.targets));
        if (!mOptions.metricsAddress.isEmpty())
            startMetrics();
        connect(&mTicker, &QTimer::timeout, this, &Watcher::tick);
        mTicker.start(TickMs);
        tick();
    }

    void reload() {
        try {
            setTargets(resolveTargets(mCommand.targets));
            mErr << "krv520-cli: watching " << mPrinters.size() << " printers after SIGHUP\n";
        } catch (const RuntimeError &e) {
            mErr << "krv520-cli: the targets could not be read again (error " << e.number() << ": "
                 << shownText(e.description()) << "); still watching the " << mPrinters.size()
                 << " printers as before\n";
        }
        mErr.flush();
    }

    // Stops starting polls and hooks; the caller waits for those under way.
    void stop() {
        mTicker.stop();
        mStopping = true;
    }

    bool waitForPolls(int ms) { return mPool.waitForDone(ms); }
    [[nodiscard]] bool outputFailed() const { return mOutputFailed; }

private:
    void setTargets(const std::vector<comm::ConnectionSettings> &targets) {
        // A printer that stays in the list keeps what it has reported, so a
        // reload prints nothing for it.
        QHash<QString, Printer> old;
        for (Printer &p : mPrinters)
            old.insert(p.name, std::move(p));
        std::vector<Printer> next;
        next.reserve(targets.size());
        QHash<QString, std::size_t> index;
        for (const comm::ConnectionSettings &target : targets) {
            const QString name = describeTarget(target);
            if (index.contains(name))
                continue; // the same connection twice is watched once
            Printer p;
            if (auto found = old.find(name); found != old.end()) {
                p = std::move(*found);
            } else {
                p.target = target;
                p.name = name;
                p.identity = printerIdentity(target);
                p.dueMs = p.scheduledMs = mClock.elapsed();
            }
            index.insert(name, next.size());
            next.push_back(std::move(p));
        }
        mPrinters = std::move(next);
        mIndex = std::move(index);
        mInFlightIdentities.clear();
        for (const Printer &p : mPrinters)
            if (p.inFlight)
                mInFlightIdentities.insert(p.identity);
    }

    void tick() {
        if (mStopping)
            return;
        const qint64 now = mClock.elapsed();
        for (Printer &p : mPrinters) {
            if (mRunningPolls >= mCommand.fleet.jobs)
                break;
            if (p.inFlight || p.dueMs > now || mInFlightIdentities.contains(p.identity))
                continue;
            startPoll(p);
        }
    }

    void startPoll(Printer &p) {
        p.inFlight = true;
        mInFlightIdentities.insert(p.identity);
        ++mRunningPolls;
        const comm::ConnectionSettings target = p.target;
        const QString name = p.name;
        QPointer<Watcher> self(this);
        mPool.start([self, target, name] {
            QElapsedTimer took;
            took.start();
            const PollOutcome outcome = pollOutcome(queryStatusOf(target));
            const qint64 ms = took.elapsed();
            QMetaObject::invokeMethod(
                self,
                [self, name, outcome, ms] {
                    if (self)
                        self->onPolled(name, outcome, ms);
                },
                Qt::QueuedConnection);
        });
    }

    void onPolled(const QString &name, const PollOutcome &outcome, qint64 ms) {
        --mRunningPolls;
        const auto found = mIndex.constFind(name);
        if (found == mIndex.constEnd()) {
            tick();
            return; // dropped from the targets by a reload meanwhile
        }
        Printer &p = mPrinters[*found];
        p.inFlight = false;
        mInFlightIdentities.remove(p.identity);
        const qint64 now = mClock.elapsed();
        // The retry waits on the schedule, not on a worker, so refused
        // printers do not take the slots of the others.
        if (isFailureState(outcome.state) && !p.retrying) {
            p.retrying = true;
            p.pollDurationMs = ms;
            p.dueMs = now + RetryAfterFailureMs;
            tick();
            return;
        }
        p.pollDurationMs = p.retrying ? p.pollDurationMs + ms : ms;
        p.retrying = false;
        ++mPolls;
        if (isFailureState(outcome.state))
            ++mFailures;
        const qint64 period = qint64(mOptions.intervalSeconds) * 1000;
        if (!p.firstPollDone) {
            // A random place in the first quarter of the interval, kept from
            // then on, so a fleet is not polled in one burst.
            p.firstPollDone = true;
            p.scheduledMs = now + period + QRandomGenerator::global()->bounded(period / 4 + 1);
        } else {
            p.scheduledMs = std::max(p.scheduledMs + period, now);
        }
        p.dueMs = p.scheduledMs;
        judge(p, outcome);
        tick();
    }

    // The first poll's state is reported at once; a change only once it has
    // held for --confirm polls, and a failure to reach the printer for one
    // more, so that it has lasted over two intervals.
    void judge(Printer &p, const PollOutcome &outcome) {
        if (p.reported.isEmpty()) {
            report(p, outcome);
            return;
        }
        if (outcome.state == p.reported) {
            p.candidate.clear();
            p.candidateCount = 0;
            p.detail = outcome.detail;
            return;
        }
        if (outcome.state != p.candidate) {
            p.candidate = outcome.state;
            p.candidateCount = 0;
        }
        ++p.candidateCount;
        const int needed =
            isFailureState(outcome.state) ? std::max(mOptions.confirm + 1, 3) : mOptions.confirm;
        if (p.candidateCount >= needed)
            report(p, outcome);
    }

    void report(Printer &p, const PollOutcome &outcome) {
        Change change{p.name,         p.name.section(QLatin1Char(' '), 0, 0),
                      p.reported,     outcome.state,
                      outcome.detail, isoNow()};
        p.reported = outcome.state;
        p.detail = outcome.detail;
        p.candidate.clear();
        p.candidateCount = 0;
        p.changedAtMs = QDateTime::currentMSecsSinceEpoch();
        if (mCommand.json) {
            const QJsonObject object{
                {QStringLiteral("type"), QStringLiteral("change")},
                {QStringLiteral("time"), change.time},
                {QStringLiteral("target"), change.target},
                {QStringLiteral("kind"), change.kind},
                {QStringLiteral("previous"),
                 change.previous.isEmpty() ? QJsonValue() : QJsonValue(change.previous)},
                {QStringLiteral("state"), change.state},
                {QStringLiteral("detail"), change.detail},
            };
            mOut << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
        } else {
            mOut << change.time << '\t' << shownText(change.target) << '\t'
                 << (change.previous.isEmpty() ? QStringLiteral("-") : change.previous) << '\t'
                 << change.state << '\t' << shownText(change.detail) << '\n';
        }
        mOut.flush();
        if (mOut.status() != QTextStream::Ok && !mOutputFailed) {
            // Nobody reads the lines any more: the watch has no point.
            mOutputFailed = true;
            QCoreApplication::exit(ExitFailure);
        }
        if (!mOptions.exec.isEmpty())
            queueHook(std::move(change));
    }

    void queueHook(Change change) {
        // Each printer has at most a few changes waiting; a fleet that
        // changes all at once waits for free slots rather than forking
        // hundreds of commands.
        if (mHooks.size() >= std::max<std::size_t>(mPrinters.size() * 2, 64)) {
            mErr << "krv520-cli: --exec for " << shownText(change.target)
                 << " skipped: too many commands waiting\n";
            mErr.flush();
            return;
        }
        mHooks.push_back(std::move(change));
        runHooks();
    }

    void runHooks() {
        while (!mStopping && !mHooks.empty() && int(mRunning.size()) < mCommand.fleet.jobs) {
            const Change change = std::move(mHooks.front());
            mHooks.pop_front();
            auto *process = new QProcess(this);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("KRV520_TARGET"), change.target);
            environment.insert(QStringLiteral("KRV520_KIND"), change.kind);
            environment.insert(QStringLiteral("KRV520_STATE"), change.state);
            environment.insert(QStringLiteral("KRV520_PREVIOUS"), change.previous);
            environment.insert(QStringLiteral("KRV520_DETAIL"), change.detail);
            environment.insert(QStringLiteral("KRV520_TIME"), change.time);
            process->setProcessEnvironment(environment);
            process->setProgram(mOptions.exec.constFirst());
            process->setArguments(mOptions.exec.mid(1));
            // The hook's own output goes where the watch's diagnostics go, so
            // it never mixes with the change lines.
            process->setStandardInputFile(QProcess::nullDevice());
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->setStandardOutputFile(QProcess::nullDevice());
            const QString what =
                QStringLiteral("--exec for %1 (%2)").arg(shownText(change.target), change.state);
            auto *limit = new QTimer(process);
            limit->setSingleShot(true);
            connect(limit, &QTimer::timeout, process, [this, process, what] {
                hookFailed(what,
                           QStringLiteral("ran over %1 s and was ended").arg(ExecLimitMs / 1000));
                process->kill();
            });
            connect(process, &QProcess::finished, this,
                    [this, process, what](int code, QProcess::ExitStatus status) {
                        if (status == QProcess::CrashExit)
                            hookFailed(what, QStringLiteral("ended abnormally"));
                        else if (code != 0)
                            hookFailed(what, QStringLiteral("exited with status %1").arg(code));
                        done(process);
                    });
            connect(process, &QProcess::errorOccurred, this,
                    [this, process, what](QProcess::ProcessError error) {
                        if (error != QProcess::FailedToStart)
                            return;
                        hookFailed(what, QStringLiteral("could not start: %1")
                                             .arg(shownText(process->errorString())));
                        done(process);
                    });
            mRunning.insert(process);
            limit->start(ExecLimitMs);
            process->start();
        }
    }

    void hookFailed(const QString &what, const QString &why) {
        ++mHookFailures;
        mErr << "krv520-cli: " << what << ' ' << why << '\n';
        mErr.flush();
    }

    void done(QProcess *process) {
        if (!mRunning.remove(process))
            return;
        process->deleteLater();
        runHooks();
    }

    void startMetrics() {
        mHttp = new QHttpServer(this);
        mHttp->route(QStringLiteral("/metrics"), [this] {
            return QHttpServerResponse(
                QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                metricsText().toUtf8());
        });
        const quint16 port =
            mHttp->listen(QHostAddress(mOptions.metricsAddress), mOptions.metricsPort);
        if (port == 0)
            throw RuntimeError(errors::BadArgument,
                               QStringLiteral("--metrics cannot listen on %1 port %2.")
                                   .arg(mOptions.metricsAddress)
                                   .arg(mOptions.metricsPort));
        const QHostAddress address(mOptions.metricsAddress);
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(mOptions.metricsAddress)
                                 : mOptions.metricsAddress;
        mErr << "krv520-cli: metrics at http://" << host << ':' << port << "/metrics\n";
        mErr.flush();
    }

    QString metricsText() const {
        QString text;
        const auto family = [&text](const char *name, const char *type, const char *help) {
            text += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                        .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
        };
        family("krv520_printer_up", "gauge",
               "1 when the printer answered its connection at the last report, 0 when it was "
               "busy or unreachable.");
        for (const Printer &p : mPrinters)
            if (!p.reported.isEmpty())
                text += QStringLiteral("krv520_printer_up{target=\"%1\"} %2\n")
                            .arg(labelValue(p.name))
                            .arg(isFailureState(p.reported) ? 0 : 1);
        family("krv520_printer_state", "gauge",
               "1 for the state the printer was last reported in, 0 for the others.");
        for (const Printer &p : mPrinters) {
            if (p.reported.isEmpty())
                continue;
            for (const QLatin1StringView state : States)
                text += QStringLiteral("krv520_printer_state{target=\"%1\",state=\"%2\"} %3\n")
                            .arg(labelValue(p.name), state)
                            .arg(p.reported == state ? 1 : 0);
        }
        family("krv520_printer_last_change_timestamp_seconds", "gauge",
               "When the printer's state was last reported, in seconds since the epoch.");
        for (const Printer &p : mPrinters)
            if (!p.reported.isEmpty())
                text += QStringLiteral(
                            "krv520_printer_last_change_timestamp_seconds{target=\"%1\"} %2\n")
                            .arg(labelValue(p.name))
                            .arg(double(p.changedAtMs) / 1000.0, 0, 'f', 3);
        family("krv520_printer_poll_duration_seconds", "gauge",
               "How long the printer's last poll took, a retry after a failure included.");
        for (const Printer &p : mPrinters)
            if (p.firstPollDone)
                text += QStringLiteral("krv520_printer_poll_duration_seconds{target=\"%1\"} %2\n")
                            .arg(labelValue(p.name))
                            .arg(double(p.pollDurationMs) / 1000.0, 0, 'f', 3);
        family("krv520_watch_polls_total", "counter", "Polls made since the watch started.");
        text += QStringLiteral("krv520_watch_polls_total %1\n").arg(mPolls);
        family("krv520_watch_poll_failures_total", "counter",
               "Polls that found a printer busy or unreachable.");
        text += QStringLiteral("krv520_watch_poll_failures_total %1\n").arg(mFailures);
        family("krv520_watch_exec_failures_total", "counter",
               "--exec commands that failed, could not start or ran too long.");
        text += QStringLiteral("krv520_watch_exec_failures_total %1\n").arg(mHookFailures);
        return text;
    }

    const Command &mCommand;
    const WatchOptions &mOptions;
    QTextStream &mOut;
    QTextStream &mErr;
    QThreadPool mPool;
    QElapsedTimer mClock;
    QTimer mTicker;
    std::vector<Printer> mPrinters;
    QHash<QString, std::size_t> mIndex;
    QSet<QString> mInFlightIdentities;
    std::deque<Change> mHooks;
    QSet<QProcess *> mRunning;
    QHttpServer *mHttp = nullptr;
    int mRunningPolls = 0;
    quint64 mPolls = 0;
    quint64 mFailures = 0;
    quint64 mHookFailures = 0;
    bool mStopping = false;
    bool mOutputFailed = false;
};

int gHangupPipe[2] = {-1, -1};

void onHangup(int) {
    const int saved = errno;
    const char byte = SIGHUP;
    (void)!::write(gHangupPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool applyWatchOption(WatchOptions &options, const QString &name, const QString &value) {
    if (name == QLatin1String("interval")) {
        options.intervalSeconds =
            wholeNumber(QStringLiteral("--interval"), value, 1, MaxWatchInterval);
    } else if (name == QLatin1String("confirm")) {
        options.confirm = wholeNumber(QStringLiteral("--confirm"), value, 1, MaxConfirm);
    } else if (name == QLatin1String("exec")) {
        options.exec = QProcess::splitCommand(value);
        if (options.exec.isEmpty())
            usageError(QStringLiteral("--exec needs a command."));
    } else if (name == QLatin1String("metrics")) {
        // A numeric address only: a name would need a look-up at every start.
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        QString host = value.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        const std::optional<qint64> port =
            colon < 0 ? std::nullopt : digitsValue(QStringView(value).mid(colon + 1), 65535);
        QHostAddress address;
        if (!port || !address.setAddress(host))
            usageError(QStringLiteral("--metrics needs ADDRESS:PORT with a numeric address, such "
                                      "as 127.0.0.1:9520, not %1.")
                           .arg(quoted(value)));
        options.metricsAddress = host;
        options.metricsPort = quint16(*port);
    } else {
        return false;
    }
    return true;
}

PollOutcome pollOutcome(const StatusResult &result) {
    if (result.failed) {
        const bool busy = result.errorNumber == comm::errors::StatusReadFailed ||
                          result.errorNumber == comm::errors::StatusWriteFailed ||
                          result.errorNumber == comm::errors::SerialBusy;
        return {busy ? QStringLiteral("busy") : QStringLiteral("unreachable"),
                QStringLiteral("error %1: %2").arg(result.errorNumber).arg(result.description)};
    }
    QString word = statusWord(result.status);
    if (word == QLatin1String("not-ready"))
        word = QStringLiteral("offline");
    return {word, comm::describeStatus(result.status)};
}

bool isFailureState(QStringView state) {
    return state == QLatin1String("busy") || state == QLatin1String("unreachable");
}

int runWatch(const Command &command, QTextStream &out, QTextStream &err) {
    // Each worker that allocates would get a malloc arena of its own, and
    // the arenas fill over a watch's first minutes, which looks like growth;
    // one keeps a long watch's memory flat, and the workers mostly wait on
    // printers, not on malloc. Set before any worker starts.
    ::mallopt(M_ARENA_MAX, 1);
    // SIGINT and SIGTERM come through the held lines' watcher, which lets go
    // of serial lines first; SIGHUP comes straight here.
    int stopPipe[2] = {-1, -1};
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
        ::pipe2(gHangupPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw RuntimeError(errors::NoWorkerThreads,
                           QStringLiteral("The watch could not set up its signal handling."));
    comm::held_lines::stopThrough(stopPipe[1]);
    struct sigaction action {};
    action.sa_handler = onHangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);

    Watcher watcher(command, out, err);
    QSocketNotifier stopNotifier(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &watcher,
                     [] { QCoreApplication::exit(ExitOk); });
    QSocketNotifier hangupNotifier(gHangupPipe[0], QSocketNotifier::Read);
    QObject::connect(&hangupNotifier, &QSocketNotifier::activated, &watcher, [&watcher] {
        char bytes[16];
        while (::read(gHangupPipe[0], bytes, sizeof bytes) > 0) {
        }
        watcher.reload();
    });
    watcher.start();
    err << "krv520-cli: watching every " << command.watch.intervalSeconds << " s\n";
    err.flush();
    const int code = QCoreApplication::exec();
    watcher.stop();
    if (!watcher.waitForPolls(StopGraceMs)) {
        // A connection still being made would hold the end past a second;
        // the exit closes it.
        out.flush();
        err.flush();
        std::fflush(nullptr);
        ::_exit(code);
    }
    return watcher.outputFailed() ? ExitFailure : code;
}

} // namespace krv::cli
