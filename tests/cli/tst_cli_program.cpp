// The built krv520-cli as a technician's script runs it: exit codes, output,
// and real sends to loopback listeners and files.
#include "CliTestSupport.h"
#include "ConnectionSettings.h"
#include "HelpTopics.h"

#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// A printer on 127.0.0.1: keeps every connection's bytes and closes its end
// once the sender has finished, as a printer does.
class LoopbackPrinter : public QObject {
public:
    LoopbackPrinter() {
        if (!mServer.listen(QHostAddress::LocalHost))
            qFatal("cannot listen on 127.0.0.1");
        connect(&mServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = mServer.nextPendingConnection()) {
                const qsizetype slot = jobs.size();
                jobs.append(QByteArray());
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket, slot] { jobs[slot] += socket->readAll(); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    [[nodiscard]] quint16 port() const { return mServer.serverPort(); }
    [[nodiscard]] QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    QList<QByteArray> jobs;

private:
    QTcpServer mServer;
};

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class TestCliProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exitCodes_data();
    void exitCodes();
    void helpDocumentsEveryCommandAndExitCode();
    void helpTopicStartsWithTitle_data();
    void helpTopicStartsWithTitle();
    void dryRunPrintsEachCommand();
    void sendsBatchToLoopbackPrinter();
    void sendsToSeveralPrintersOneFailing();
    void targetsFileMixesConnections();
    void fileHoldsExactlyTheBatch();
    void testPrintSendsThePage();
    void storedConnectionIsTheDefault();
    void profileTemplateFilledAndDownloaded();
    void checkReportsRefusedAndGood();
    void listShowsEveryEntry();

private:
    Run run(const QStringList &arguments);
    QString path(const QString &name) const { return mDir.filePath(name); }

    QTemporaryDir mDir;
    QTemporaryDir mConfig;
    QTemporaryDir mRuntime;
};

void TestCliProgram::initTestCase() {
    QVERIFY(mDir.isValid() && mConfig.isValid() && mRuntime.isValid());
    // This process reads and writes the same store the program does.
    qputenv("XDG_CONFIG_HOME", mConfig.path().toLocal8Bit());
}

// Runs the program with the event loop turning, so that listeners in this
// process can take its connections.
Run TestCliProgram::run(const QStringList &arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", mConfig.path());
    environment.insert("XDG_RUNTIME_DIR", mRuntime.path());
    process.setProcessEnvironment(environment);
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(KRV_CLI_PATH), arguments);
    if (!process.waitForStarted(10000))
        qFatal("krv520-cli did not start");
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    // Let listeners take what is still in flight.
    QCoreApplication::processEvents();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void TestCliProgram::exitCodes_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrSays");

    QTest::newRow("nothing") << QStringList{} << 1 << "Usage:";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "";
    QTest::newRow("unknown command") << QStringList{"upload"} << 1 << "\"upload\" is not a command";
    QTest::newRow("unknown option") << QStringList{"list", "--all"} << 1 << "--all";
    QTest::newRow("unknown setting")
        << QStringList{"download", "--set", "Print Sped=1", "--dry-run"} << 1
        << "\"Print Speed:\" (cmbSpeed)";
    QTest::newRow("unknown entry")
        << QStringList{"download", "--set", "Zero Style=Slashd", "--dry-run"} << 1
        << "2 \"Slashed\"";
    QTest::newRow("no equals sign")
        << QStringList{"download", "--set", "cmbSpeed", "--dry-run"} << 1 << "SETTING=ENTRY";
    QTest::newRow("unknown help topic") << QStringList{"help", "Colour"} << 1 << "Closest";
    QTest::newRow("missing profile")
        << QStringList{"download", "--profile", "/nonexistent/p", "--dry-run"} << 2 << "error 1110";
    QTest::newRow("missing targets file")
        << QStringList{"download", "--targets", "/nonexistent/t"} << 2 << "error 1110";
    QTest::newRow("refused") << QStringList{"download", "--tcp",
                                            QStringLiteral("127.0.0.1:%1").arg(closedPort())}
                             << 2 << "";
    QTest::newRow("device missing")
        << QStringList{"test-print", "--file", "/nonexistent/dir/lp0"} << 2 << "";
    QTest::newRow("dry run") << QStringList{"download", "--set", "cmbSpeed=1", "--dry-run"} << 0
                             << "";
}

void TestCliProgram::exitCodes() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrSays);
    const Run r = run(arguments);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(stderrSays), qPrintable(r.err));
}

void TestCliProgram::helpDocumentsEveryCommandAndExitCode() {
    const Run r = run({"--help"});
    QCOMPARE(r.exitCode, 0);
    for (const char *word : {"list", "help SETTING", "download", "profile", "test-print", "check",
                             "status", "--set", "--profile", "--dry-run", "--tcp", "--queue",
                             "--file", "--targets", "--force", "KRV520Config", "Exit status:"})
        QVERIFY2(r.out.contains(QLatin1String(word)), word);
    QVERIFY(r.out.contains(QRegularExpression("\\n  0  ")));
    QVERIFY(r.out.contains(QRegularExpression("\\n  1  usage")));
    QVERIFY(r.out.contains(QRegularExpression("\\n  2  connection or I/O")));
}

void TestCliProgram::helpTopicStartsWithTitle_data() {
    QTest::addColumn<QStringList>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");
    QTest::newRow("label") << QStringList{"Action on Form Feed:"} << "Action on Form Feed"
                           << "Feed and Partial Cut";
    QTest::newRow("words unquoted") << QStringList{"Zero", "Style"} << "Zero Style"
                                    << "Slashed";
    QTest::newRow("list name") << QStringList{"cmbSpeed"} << "Print Speed"
                               << "100mm/s";
}

void TestCliProgram::helpTopicStartsWithTitle() {
    QFETCH(QStringList, name);
    QFETCH(QString, title);
    QFETCH(QString, body);
    const Run r = run(QStringList{"help"} + name);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.section('\n', 0, 0), title);
    QVERIFY2(r.out.contains(body), qPrintable(r.out));
    QVERIFY(!r.out.contains('\\')); // no RTF left over
    QVERIFY(!r.out.contains('{'));
}

void TestCliProgram::dryRunPrintsEachCommand() {
    const Run r =
        run({"download", "--set", "Print Speed=Low (50mm/s)", "--set", "cmbZStyle=2", "--dry-run"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QString("1B 1D 23 2D 32 30 30 33 30 0A 00  #-20030  switch 2: clear bits 0030  "
                            "Print Speed: Low (50mm/s)\n"
                            "1B 1D 23 2B 32 30 30 32 30 0A 00  #+20020  switch 2: set bits 0020  "
                            "Print Speed: Low (50mm/s)\n"
                            "1B 1D 23 2B 31 30 30 31 30 0A 00  #+10010  switch 1: set bits 0010  "
                            "Zero Style: Slashed\n"
                            "1B 1D 23 57 30 30 30 30 30 0A 00  #W00000  closing command\n"));
}

void TestCliProgram::sendsBatchToLoopbackPrinter() {
    LoopbackPrinter printer;
    const Run r = run({"download", "--no-status", "--set", "cmbIntCSet=USA", "--set",
                       "Character Code Page:=1252 (Windows Latin-1)", "--tcp", printer.address()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("ok\ttcp %1\tsent 55 bytes\n").arg(printer.address()));
    QCOMPARE(printer.jobs.size(), 1);
    QCOMPARE(printer.jobs[0], framed({"#-1000F", "#+10000", "#-3FF00", "#+32000", "#W00000"}));
}

void TestCliProgram::sendsToSeveralPrintersOneFailing() {
    LoopbackPrinter first;
    LoopbackPrinter third;
    const QString dead = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    const Run r = run({"download", "--no-status", "--set", "cmbPWidth=50.8mm", "--tcp",
                       first.address(), "--tcp", dead, "--tcp", third.address()});
    QCOMPARE(r.exitCode, 2);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("ok\ttcp %1\tsent 22 bytes").arg(first.address()));
    QVERIFY2(lines[1].startsWith(QStringLiteral("failed\ttcp %1\terror 1011: ").arg(dead)),
             qPrintable(lines[1]));
    QCOMPARE(lines[2], QStringLiteral("ok\ttcp %1\tsent 22 bytes").arg(third.address()));
    const QByteArray batch = framed({"#+40003"}) + ClosingCommand;
    QCOMPARE(first.jobs, QList<QByteArray>{batch});
    QCOMPARE(third.jobs, QList<QByteArray>{batch});
}

void TestCliProgram::targetsFileMixesConnections() {
    LoopbackPrinter printer;
    QFile targets(path("targets.txt"));
    QVERIFY(targets.open(QIODevice::WriteOnly));
    targets.write(QStringLiteral("# shop 12\ntcp %1\nfile %2\n")
                      .arg(printer.address(), path("targets-out.bin"))
                      .toUtf8());
    targets.close();
    const Run r = run(
        {"download", "--no-status", "--set", "cmbCRCode=Ignore", "--targets", path("targets.txt")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count('\n'), 2);
    const QByteArray batch = framed({"#-30002"}) + ClosingCommand;
    QCOMPARE(printer.jobs, QList<QByteArray>{batch});
    QFile out(path("targets-out.bin"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), batch);
}

void TestCliProgram::fileHoldsExactlyTheBatch() {
    const QString file = path("batch.bin");
    QFile old(file);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(500, 'x')); // a longer earlier job must not shine through
    old.close();
    const Run r = run({"download", "--set", "Print Density=Standard", "--set", "cmbEPSpacing=3 dot",
                       "--file", file});
    QCOMPARE(r.exitCode, 0);
    QFile out(file);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), framed({"#-20007", "#+300C0", "#W00000"}));
}

void TestCliProgram::testPrintSendsThePage() {
    LoopbackPrinter printer;
    const Run r = run({"test-print", "--no-status", "--tcp", printer.address()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(printer.jobs.size(), 1);
    const QByteArray page = printer.jobs[0];
    QCOMPARE(page.size(), 992);
    QVERIFY(page.startsWith("\x1b@\x1bi12Vela KRV520\x1bi00\r\n"));
    QVERIFY(page.endsWith("\x1b"
                          "d3"));
}

void TestCliProgram::storedConnectionIsTheDefault() {
    LoopbackPrinter printer;
    krv::comm::ConnectionSettings stored;
    stored.kind = krv::comm::ConnectionSettings::Kind::Tcp;
    stored.host = "127.0.0.1";
    stored.port = printer.port();
    krv::comm::writeConnectionSettings("KRV520Config", stored);

    const Run r = run({"download", "--no-status", "--set", "cmbFFAction=2"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(printer.jobs, QList<QByteArray>{framed({"#+00004", "#W00000"})});
}

void TestCliProgram::profileTemplateFilledAndDownloaded() {
    const QString profile = path("shop.profile");
    Run r = run({"profile", profile});
    QCOMPARE(r.exitCode, 0);
    r = run({"profile", profile});
    QCOMPARE(r.exitCode, 1); // would replace it
    QVERIFY(r.err.contains("--force"));

    QFile file(profile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace("\nLine Spacing=No Change\n", "\nLine Spacing=1\n");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();

    // The command line wins over the profile for the same setting.
    r = run({"download", "--profile", profile, "--set", "cmbLSpacing=2", "--set", "cmbBuffer=1",
             "--file", path("profile.bin")});
    QCOMPARE(r.exitCode, 0);
    QFile out(path("profile.bin"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), framed({"#-B0100", "#+30001", "#W00000"}));
}

void TestCliProgram::checkReportsRefusedAndGood() {
    LoopbackPrinter printer;
    const QString dead = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    Run r = run({"check", "--tcp", printer.address()});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.startsWith(QStringLiteral("check tcp %1\n").arg(printer.address())));
    QVERIFY(r.out.endsWith("result: ok\n"));
    r = run({"check", "--tcp", printer.address(), "--tcp", dead});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.contains("refused"));
    QVERIFY(r.out.endsWith("result: problem\n"));
    // Nothing it would print: this printer does not answer the first status
    // request, so that request is all it gets.
    for (const QByteArray &job : printer.jobs)
        QCOMPARE(job, QByteArray("\x10\x04\x01"));
}

void TestCliProgram::listShowsEveryEntry() {
    const Run r = run({"list"});
    QCOMPARE(r.exitCode, 0);
    for (const EntryRow &row : entryTable())
        QVERIFY2(r.out.contains(QStringLiteral("\t%1\t\"%2\"\n").arg(row.index).arg(row.text)),
                 qPrintable(row.text));
    QVERIFY(r.out.startsWith("cmbFFAction\t\"Action on Form Feed:\"\tGeneral\n"));
}

QTEST_GUILESS_MAIN(TestCliProgram)
#include "tst_cli_program.moc"
