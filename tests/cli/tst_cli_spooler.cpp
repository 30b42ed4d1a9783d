// The doctor and the companion against a private CUPS scheduler on
// 127.0.0.1 with raw, paused, rejecting and driver queues.
#include "CliTestSupport.h"
#include "Doctor.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace krv::cli;

Q_DECLARE_METATYPE(Problem)

namespace {

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// lpstat -r exits 0 whether or not the scheduler runs; only its answer tells.
bool schedulerRuns() {
    QProcess process;
    process.start(QStringLiteral("lpstat"), {QStringLiteral("-r")});
    return process.waitForFinished(20000) &&
           process.readAllStandardOutput().contains("scheduler is running");
}

bool runTool(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

const char *MinimalPpd = R"ppd(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "DRIVER.PPD"
*Manufacturer: "Test"
*Product: "(Test)"
*ModelName: "Test Driver Printer"
*ShortNickName: "Test Driver Printer"
*NickName: "Test Driver Printer"
*PSVersion: "(3010.000) 0"
*ColorDevice: False
*DefaultColorSpace: Gray
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*OpenUI *PageSize: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
)ppd";

} // namespace

class TestCliSpooler : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void queueVerdicts_data();
    void queueVerdicts();
    void downloadThroughRawQueue();
    void queueNamesComplete_data();
    void queueNamesComplete();

private:
    void writeFile(const QString &name, const QByteArray &text);

    QTemporaryDir mDir;
    QProcess mScheduler;
    QTcpServer mPrinter; // the raw queue's device
    QByteArray mReceived;
};

void TestCliSpooler::writeFile(const QString &name, const QByteArray &text) {
    QFile file(mDir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void TestCliSpooler::initTestCase() {
    QVERIFY(mDir.isValid());
    // The scheduler runs its helpers as user lp, which must reach the folder.
    QFile::setPermissions(mDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    const QString d = mDir.path();
    for (const char *sub : {"spool", "cache", "state", "tmp", "log"}) {
        QVERIFY(QDir(d).mkdir(sub));
        QFile::setPermissions(d + '/' + sub, QFile::permissions(d));
    }
    const quint16 port = freePort();
    writeFile("cupsd.conf", QStringLiteral("Listen 127.0.0.1:%1\nBrowsing No\n"
                                           "BrowseLocalProtocols none\nDefaultShared No\n"
                                           "WebInterface No\n<Location />\nOrder allow,deny\n"
                                           "Allow all\n</Location>\n<Policy default>\n"
                                           "<Limit All>\nOrder allow,deny\nAllow all\n"
                                           "</Limit>\n</Policy>\n")
                                .arg(port)
                                .toUtf8());
    writeFile("cups-files.conf",
              QStringLiteral("ServerRoot %1\nStateDir %1/state\nCacheDir %1/cache\n"
                             "RequestRoot %1/spool\nTempDir %1/tmp\nAccessLog %1/log/access_log\n"
                             "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\n"
                             "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                             "Printcap %1/printcap\nUser lp\nGroup lp\n"
                             "SystemGroup root lpadmin\nSandboxing relaxed\n")
                  .arg(d)
                  .toUtf8());
    writeFile("driver.ppd", MinimalPpd);

    const QByteArray server = QStringLiteral("127.0.0.1:%1").arg(port).toUtf8();
    qputenv("CUPS_SERVER", server);
    mScheduler.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mScheduler.start("cupsd", {"-f", "-c", d + "/cupsd.conf", "-s", d + "/cups-files.conf"});
    QVERIFY(mScheduler.waitForStarted());
    const QDeadlineTimer deadline(20000);
    while (!schedulerRuns()) {
        QVERIFY2(!deadline.hasExpired(), "the private scheduler did not start");
        QTest::qWait(100);
    }

    QVERIFY(mPrinter.listen(QHostAddress::LocalHost));
    connect(&mPrinter, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = mPrinter.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket] { mReceived += socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(mPrinter.serverPort());
    for (const char *queue : {"raw", "paused", "rejecting"})
        QVERIFY(runTool("lpadmin", {"-p", queue, "-E", "-v", device}));
    QVERIFY(runTool("lpadmin", {"-p", "driver", "-E", "-v", device, "-P", d + "/driver.ppd"}));
    QVERIFY(runTool("cupsdisable", {"paused"}));
    QVERIFY(runTool("cupsreject", {"rejecting"}));
}

void TestCliSpooler::cleanupTestCase() {
    if (mScheduler.state() != QProcess::NotRunning) {
        mScheduler.terminate();
        if (!mScheduler.waitForFinished(10000))
            mScheduler.kill();
        mScheduler.waitForFinished();
    }
}

void TestCliSpooler::queueVerdicts_data() {
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QList<Problem>>("problems");
    QTest::newRow("raw") << "raw" << QList<Problem>{};
    QTest::newRow("paused") << "paused" << QList<Problem>{Problem::QueuePaused};
    QTest::newRow("rejecting") << "rejecting" << QList<Problem>{Problem::QueueRejecting};
    QTest::newRow("driver") << "driver" << QList<Problem>{Problem::QueueNotRaw};
    QTest::newRow("missing") << "KRV520" << QList<Problem>{Problem::QueueMissing};
    QTest::newRow("no default") << "" << QList<Problem>{Problem::NoDefaultQueue};
}

void TestCliSpooler::queueVerdicts() {
    QFETCH(QString, queue);
    QFETCH(QList<Problem>, problems);
    const CheckReport report =
        checkConnection({krv::comm::ConnectionSettings::Kind::Spooler, queue, {}, 9100, {}, {}});
    QList<Problem> found;
    for (const Finding &f : report.problems)
        found.append(f.problem);
    QVERIFY2(found == problems, qPrintable(formatReport(report)));
    QVERIFY(mReceived.isEmpty()); // looking at a queue prints nothing
}

void TestCliSpooler::downloadThroughRawQueue() {
    QProcess process;
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(KRV_CLI_PATH),
                  {"download", "--set", "cmbSpeed=Medium (75mm/s)", "--queue", "raw"});
    QVERIFY(process.waitForStarted());
    loop.exec();
    QCOMPARE(process.exitCode(), 0);
    // The spooler carries no answer back: said in the words "status" uses.
    QCOMPARE(process.readAllStandardOutput(),
             QByteArray("ok\tqueue raw\tsent 33 bytes\tunavailable\tstatus is not available "
                        "through the print spooler\n"));
    const QByteArray batch = framed({"#-20030", "#+20010", "#W00000"});
    QTRY_COMPARE_WITH_TIMEOUT(mReceived, batch, 20000);
}

void TestCliSpooler::queueNamesComplete_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("schedulerUp");
    QTest::addColumn<QStringList>("replies");
    QTest::newRow("every queue") << "krv520-cli check --queue " << true
                                 << QStringList{"driver", "paused", "raw", "rejecting"};
    QTest::newRow("prefix") << "krv520-cli download --queue=r" << true
                            << QStringList{"raw", "rejecting"};
    QTest::newRow("scheduler down") << "krv520-cli check --queue " << false << QStringList{};
}

// What the completion script is told after --queue, asked of the scheduler
// at the time of asking.
void TestCliSpooler::queueNamesComplete() {
    QFETCH(QString, line);
    QFETCH(bool, schedulerUp);
    QFETCH(QStringList, replies);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!schedulerUp)
        environment.insert("CUPS_SERVER", QStringLiteral("127.0.0.1:%1").arg(freePort()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KRV_CLI_PATH),
                  {"__complete", "bash", line, QString::number(line.size())});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
    QCOMPARE(lines.takeFirst(), QString("words"));
    lines.removeAll(QString());
    lines.sort();
    QCOMPARE(lines, replies);
}

QTEST_GUILESS_MAIN(TestCliSpooler)
#include "tst_cli_spooler.moc"
