// "krv520-cli status" and the doctor against the virtual printer, one
// krv520-sim per --status state: each state's exit code and line, several
// printers at once, and the fix the doctor names.
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>
#include <memory>

namespace {

const QStringList States{"ready", "near-end", "paper-end", "cover-open", "offline", "silent"};

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QStringList &arguments) {
    QProcess process;
    process.start(KRV_CLI_PATH, arguments);
    Run r;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.exitCode = process.exitCode();
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

} // namespace

class TestCliStatus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exitCodeOfEachState_data();
    void exitCodeOfEachState();
    void mostSevereWins_data();
    void mostSevereWins();
    void doctorNamesTheFix_data();
    void doctorNamesTheFix();
    void jsonLinesInTargetOrder();
    void jobsCarryTheStatus_data();
    void jobsCarryTheStatus();

private:
    QString address(const QString &state) const {
        return QStringLiteral("127.0.0.1:%1").arg(mPorts.value(state));
    }
    std::vector<std::unique_ptr<QProcess>> mSims;
    QHash<QString, quint16> mPorts;
};

void TestCliStatus::initTestCase() {
    for (const QString &state : States) {
        auto sim = std::make_unique<QProcess>();
        // Gone with the test, even when it crashes.
        sim->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        sim->start(KRV_SIM_PROGRAM, {"--port", "0", "--status", state});
        QVERIFY(sim->waitForReadyRead(20000));
        static const QRegularExpression where(R"(^listening on 127\.0\.0\.1:(\d+)$)");
        const auto match = where.match(QString::fromUtf8(sim->readLine().trimmed()));
        QVERIFY(match.hasMatch());
        mPorts[state] = quint16(match.captured(1).toUInt());
        mSims.push_back(std::move(sim));
    }
}

void TestCliStatus::cleanupTestCase() {
    for (const auto &sim : mSims) {
        sim->kill();
        sim->waitForFinished(5000);
    }
}

void TestCliStatus::exitCodeOfEachState_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("word");
    QTest::newRow("ready") << "ready" << 0 << "ready";
    QTest::newRow("near-end") << "near-end" << 3 << "near-end";
    QTest::newRow("paper-end") << "paper-end" << 4 << "paper-end";
    QTest::newRow("cover-open") << "cover-open" << 5 << "cover-open";
    QTest::newRow("offline") << "offline" << 6 << "not-ready";
    QTest::newRow("silent") << "silent" << 7 << "no-answer";
}

void TestCliStatus::exitCodeOfEachState() {
    QFETCH(QString, state);
    QFETCH(int, exitCode);
    QFETCH(QString, word);
    const Run r = run({"status", "--tcp", address(state)});
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.out.startsWith(QStringLiteral("%1\ttcp %2\t").arg(word, address(state))),
             qPrintable(r.out));
    QCOMPARE(r.out.count('\n'), 1);
}

void TestCliStatus::mostSevereWins_data() {
    QTest::addColumn<QStringList>("targets"); // states, "down" or "queue"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("count"); // the count on standard error
    QTest::newRow("ready, near-end") << QStringList{"ready", "near-end"} << 3 << "2 ok, 0 failed";
    QTest::newRow("cover-open, paper-end")
        << QStringList{"cover-open", "paper-end"} << 5 << "2 ok, 0 failed";
    QTest::newRow("ready, down") << QStringList{"ready", "down"} << 2 << "1 ok, 1 failed";
    QTest::newRow("near-end hides no down printer")
        << QStringList{"near-end", "down"} << 2 << "1 ok, 1 failed";
    QTest::newRow("offline hides no down printer")
        << QStringList{"down", "offline"} << 2 << "1 ok, 1 failed";
    QTest::newRow("paper-end before no answer")
        << QStringList{"silent", "paper-end"} << 4 << "2 ok, 0 failed";
    QTest::newRow("no answer before near-end")
        << QStringList{"near-end", "silent"} << 7 << "2 ok, 0 failed";
    QTest::newRow("silent, offline, ready")
        << QStringList{"silent", "offline", "ready"} << 6 << "3 ok, 0 failed";
    QTest::newRow("spooler queue hides no ready printer")
        << QStringList{"ready", "queue"} << 0 << "2 ok, 0 failed";
    QTest::newRow("spooler queue alone") << QStringList{"queue"} << 7 << "1 ok, 0 failed";
}

void TestCliStatus::mostSevereWins() {
    QFETCH(QStringList, targets);
    QFETCH(int, exitCode);
    QFETCH(QString, count);
    QTcpServer gone;
    QVERIFY(gone.listen(QHostAddress::LocalHost));
    const QString down = QStringLiteral("127.0.0.1:%1").arg(gone.serverPort());
    gone.close();
    QStringList arguments{"status"};
    for (const QString &t : targets)
        arguments << (t == "queue" ? "--queue" : "--tcp")
                  << (t == "down"    ? down
                      : t == "queue" ? "KRV520"
                                     : address(t));
    const Run r = run(arguments);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out.count('\n'), targets.size());
    QCOMPARE(r.err.trimmed(), count);
}

void TestCliStatus::doctorNamesTheFix_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::newRow("ready") << "ready" << 0 << "ok: The printer reports that it is ready.";
    QTest::newRow("near-end") << "near-end" << 0 << "note: The paper is near its end";
    QTest::newRow("paper-end") << "paper-end" << 2 << "fix: Load paper";
    QTest::newRow("cover-open") << "cover-open" << 2 << "fix: Close the cover";
    QTest::newRow("offline") << "offline" << 2 << "fix: Check the printer's panel";
    QTest::newRow("silent") << "silent" << 0 << "note: The printer gave no status answer";
}

void TestCliStatus::doctorNamesTheFix() {
    QFETCH(QString, state);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const Run r = run({"check", "--tcp", address(state)});
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.out.contains(says), qPrintable(r.out));
}

// Every printer at once: the lines still come in the order given, each with
// its own word, code and the bytes of the four requests, and the most
// severe code is the exit status.
void TestCliStatus::jsonLinesInTargetOrder() {
    const QList<std::pair<QString, int>> expected{{"silent", 7},    {"cover-open", 5},
                                                  {"ready", 0},     {"offline", 6},
                                                  {"paper-end", 4}, {"near-end", 3}};
    QStringList arguments{"status", "--json", "--jobs", "6"};
    for (const auto &[state, code] : expected)
        arguments << "--tcp" << address(state);
    const Run r = run(arguments);
    QCOMPARE(r.exitCode, 6);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), expected.size() + 1);
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i].toUtf8()).object();
        QCOMPARE(o.value("target").toString(), "tcp " + address(expected[i].first));
        QCOMPARE(o.value("outcome").toString(), "ok");
        QCOMPARE(o.value("code").toInt(-1), expected[i].second);
        // The silent printer is not asked further after its first request.
        QCOMPARE(o.value("bytes").toInt(-1), expected[i].first == "silent" ? 3 : 12);
        QCOMPARE(o.value("status").toString(), expected[i].first == "offline"  ? "not-ready"
                                               : expected[i].first == "silent" ? "no-answer"
                                                                               : expected[i].first);
    }
    const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
    QCOMPARE(summary.value("type").toString(), "summary");
    QCOMPARE(summary.value("total").toInt(), expected.size());
}

// A job is asked after: the result line and JSON carry the printer's word
// and code, the exit status stays 0 for a delivered job unless a ready
// printer is required.
void TestCliStatus::jobsCarryTheStatus_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("code");
    QTest::newRow("ready, test-print") << "ready"
                                       << "test-print"
                                       << "ready" << 0;
    QTest::newRow("near-end, download") << "near-end"
                                        << "download"
                                        << "near-end" << 3;
    QTest::newRow("paper-end, test-print") << "paper-end"
                                           << "test-print"
                                           << "paper-end" << 4;
    QTest::newRow("cover-open, download") << "cover-open"
                                          << "download"
                                          << "cover-open" << 5;
    QTest::newRow("offline, test-print") << "offline"
                                         << "test-print"
                                         << "not-ready" << 6;
    QTest::newRow("silent, download") << "silent"
                                      << "download"
                                      << "no-answer" << 7;
}

void TestCliStatus::jobsCarryTheStatus() {
    QFETCH(QString, state);
    QFETCH(QString, command);
    QFETCH(QString, word);
    QFETCH(int, code);
    QStringList arguments{command, "--tcp", address(state)};
    if (command == "download")
        arguments << "--set"
                  << "cmbSpeed=1";
    const Run plain = run(arguments);
    QCOMPARE(plain.exitCode, 0);
    QVERIFY2(plain.out.startsWith(QStringLiteral("ok\ttcp %1\tsent ").arg(address(state))),
             qPrintable(plain.out));
    QCOMPARE(plain.out.section('\t', 3, 3), word);
    const Run required = run(arguments + QStringList{"--json", "--require-ready"});
    QCOMPARE(required.exitCode, code);
    const QJsonObject o =
        QJsonDocument::fromJson(required.out.section('\n', 0, 0).toUtf8()).object();
    QCOMPARE(o.value("outcome").toString(), "ok");
    QCOMPARE(o.value("status").toString(), word);
    QCOMPARE(o.value("code").toInt(-1), code);
}

QTEST_GUILESS_MAIN(TestCliStatus)
#include "tst_cli_status.moc"
