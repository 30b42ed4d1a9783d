// Print spooler connections against a private CUPS scheduler started here:
// its own folders in a temporary folder, listening on 127.0.0.1 only, with
// raw queues whose device is a listener of this test.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "SettingsBatch.h"
#include "SpoolerPort.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

using namespace krv::comm;
using krv::test::sendError;
using krv::test::TcpPeer;

namespace {

bool writeText(const QString &path, const QString &text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

class TestSpooler : public QObject {
    Q_OBJECT
    QTemporaryDir mDir;
    QProcess mCupsd;
    QString mServer; // 127.0.0.1:port
    std::unique_ptr<TcpPeer> mPrinter;

    bool lpadmin(const QStringList &arguments) {
        QProcess tool;
        tool.start(QStringLiteral("lpadmin"),
                   QStringList{QStringLiteral("-h"), mServer} + arguments);
        const bool ok = tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit &&
                        tool.exitCode() == 0;
        if (!ok)
            qWarning("lpadmin %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                     tool.readAllStandardError().constData());
        return ok;
    }

    bool addRawQueue(const QString &name) {
        return lpadmin({QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                        QStringLiteral("socket://127.0.0.1:%1").arg(mPrinter->port())});
    }

    int activeJobs(const QString &queue) {
        http_t *http = connectToSpooler();
        cups_job_t *jobs = nullptr;
        const int count =
            cupsGetJobs2(http, &jobs, queue.toUtf8().constData(), 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(count, jobs);
        httpClose(http);
        return count;
    }

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("the private scheduler runs its device backend as user lp, which needs root");
        const QString cupsd =
            QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin")});
        if (cupsd.isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("lpadmin"), {QStringLiteral("/usr/sbin")})
                .isEmpty())
            QFAIL("cupsd and lpadmin are needed (Debian packages cups and cups-client)");

        // The scheduler drops to user lp, which must reach its folders.
        const QString dir = mDir.path();
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther));
        for (const char *sub : {"spool", "spool/tmp", "cache", "state"})
            QVERIFY(QDir(dir).mkpath(QString::fromLatin1(sub)));

        mServer = QStringLiteral("127.0.0.1:%1").arg(krv::test::closedPort());
        QVERIFY(writeText(dir + QStringLiteral("/cupsd.conf"),
                          QStringLiteral("LogLevel warn\n"
                                         "Listen %1\n"
                                         "Browsing No\n"
                                         "BrowseLocalProtocols none\n"
                                         "DefaultShared No\n"
                                         "WebInterface No\n"
                                         "<Location />\n  Order allow,deny\n  Allow all\n"
                                         "</Location>\n"
                                         "<Policy default>\n  <Limit All>\n    Order allow,deny\n"
                                         "    Allow all\n  </Limit>\n</Policy>\n")
                              .arg(mServer)));
        QVERIFY(writeText(dir + QStringLiteral("/cups-files.conf"),
                          QStringLiteral("ServerRoot %1\n"
                                         "StateDir %1/state\n"
                                         "CacheDir %1/cache\n"
                                         "RequestRoot %1/spool\n"
                                         "TempDir %1/spool/tmp\n"
                                         "AccessLog %1/access_log\n"
                                         "ErrorLog %1/error_log\n"
                                         "PageLog %1/page_log\n"
                                         "Printcap %1/printcap\n"
                                         "ServerBin /usr/lib/cups\n"
                                         "DataDir /usr/share/cups\n"
                                         "User lp\nGroup lp\n"
                                         "SystemGroup root lpadmin\n"
                                         "Sandboxing relaxed\n")
                              .arg(dir)));

        mCupsd.setProcessChannelMode(QProcess::ForwardedChannels);
        mCupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), dir + "/cupsd.conf",
                             QStringLiteral("-s"), dir + "/cups-files.conf"});
        QVERIFY(mCupsd.waitForStarted(10000));

        // The library under test finds the scheduler the way an operator's
        // would point it elsewhere: through CUPS_SERVER.
        qputenv("CUPS_SERVER", mServer.toLatin1());
        cupsSetServer(nullptr);

        bool up = false;
        for (int i = 0; i < 300 && !up && mCupsd.state() == QProcess::Running; ++i) {
            QProcess lpstat;
            lpstat.start(QStringLiteral("lpstat"),
                         {QStringLiteral("-h"), mServer, QStringLiteral("-r")});
            up = lpstat.waitForFinished(5000) && lpstat.exitCode() == 0 &&
                 lpstat.readAllStandardOutput().contains("is running");
            if (!up)
                QThread::msleep(50);
        }
        if (!up) {
            QFile log(dir + QStringLiteral("/error_log"));
            log.open(QIODevice::ReadOnly);
            QFAIL(qPrintable(QStringLiteral("the private scheduler did not start: ") +
                             QString::fromUtf8(log.readAll())));
        }

        mPrinter = std::make_unique<TcpPeer>(TcpPeer::Mode::ReadAll);
        QVERIFY(addRawQueue(QStringLiteral("krvtest")));
    }

    void cleanupTestCase() {
        mPrinter.reset();
        if (mCupsd.state() != QProcess::NotRunning) {
            mCupsd.terminate();
            if (!mCupsd.waitForFinished(15000)) {
                mCupsd.kill();
                mCupsd.waitForFinished(5000);
            }
        }
    }

    void queueIsListed() {
        QVERIFY2(spoolerQueues().contains(QStringLiteral("krvtest")),
                 qPrintable(spoolerQueues().join(QLatin1Char(','))));
    }

    void jobArrivesUnchanged_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("every byte value") << krv::test::everyByteValue();
        krv::settings::Selection selection{};
        selection[1] = 3;  // cmbSpeed: "Low (50mm/s)"
        selection[10] = 2; // cmbZStyle: "Slashed"
        QTest::newRow("settings batch") << krv::settings::makeSettingsBatch(selection);
    }
    void jobArrivesUnchanged() {
        QFETCH(QByteArray, data);
        const int before = int(mPrinter->jobs().size());
        SpoolerPort port(QStringLiteral("krvtest"));
        SendToPrinter(port, data);
        QVERIFY(mPrinter->waitForJobs(before + 1));
        QCOMPARE(mPrinter->jobs().at(before), data);
    }

    void jobIsRawAndTitled() {
        const int before = int(mPrinter->jobs().size());
        SpoolerPort port(QStringLiteral("krvtest"));
        SendToPrinter(port, "titled");
        QVERIFY(mPrinter->waitForJobs(before + 1));
        http_t *http = connectToSpooler();
        cups_job_t *jobs = nullptr;
        const int count = cupsGetJobs2(http, &jobs, "krvtest", 0, CUPS_WHICHJOBS_ALL);
        QVERIFY(count > 0);
        const cups_job_t *newest =
            std::max_element(jobs, jobs + count,
                             [](const cups_job_t &a, const cups_job_t &b) { return a.id < b.id; });
        const QString title = QString::fromUtf8(newest->title);
        const QString format = QString::fromUtf8(newest->format);
        cupsFreeJobs(count, jobs);
        httpClose(http);
        QCOMPARE(title, QStringLiteral("KRV520 Configuration Utility"));
        QCOMPARE(format, QStringLiteral("application/vnd.cups-raw"));
    }

    void defaultQueueIsUsedWhenNoneIsChosen() {
        QVERIFY(lpadmin({QStringLiteral("-d"), QStringLiteral("krvtest")}));
        QCOMPARE(defaultSpoolerQueue(), QStringLiteral("krvtest"));
        const int before = int(mPrinter->jobs().size());
        SpoolerPort port{QString()};
        SendToPrinter(port, "default queue job");
        QVERIFY(mPrinter->waitForJobs(before + 1));
        QCOMPARE(mPrinter->jobs().at(before), QByteArray("default queue job"));
    }

    void missingQueueIsNamed() {
        SpoolerPort port(QStringLiteral("no_such_queue"));
        const krv::RuntimeError error = sendError(port, "x");
        QCOMPARE(error.number(), errors::SpoolerQueueMissing);
        QVERIFY2(error.description().contains(QStringLiteral("\"no_such_queue\"")),
                 qPrintable(error.description()));
    }

    void queueDeletedAfterListingIsAnError() {
        QVERIFY(addRawQueue(QStringLiteral("krvgone")));
        QVERIFY(spoolerQueues().contains(QStringLiteral("krvgone")));
        QVERIFY(lpadmin({QStringLiteral("-x"), QStringLiteral("krvgone")}));
        SpoolerPort port(QStringLiteral("krvgone"));
        const krv::RuntimeError error = sendError(port, "x");
        QCOMPARE(error.number(), errors::SpoolerQueueMissing);
        QVERIFY2(error.description().contains(QStringLiteral("krvgone")),
                 qPrintable(error.description()));
    }

    void queueDeletedDuringJobIsAnError() {
        QVERIFY(addRawQueue(QStringLiteral("krvshort")));
        SpoolerPort port(QStringLiteral("krvshort"));
        port.OpenPort();
        QVERIFY(lpadmin({QStringLiteral("-x"), QStringLiteral("krvshort")}));
        int number = 0;
        try {
            port.SendData("x");
            port.ClosePort();
        } catch (const krv::RuntimeError &e) {
            number = e.number();
            port.ClosePort();
        }
        QVERIFY2(number == errors::SpoolerJobFailed || number == errors::SpoolerWriteFailed ||
                     number == errors::SpoolerFinishFailed,
                 qPrintable(QString::number(number)));
    }

    void closeWithoutDataLeavesNoJob() {
        const int before = int(mPrinter->jobs().size());
        SpoolerPort port(QStringLiteral("krvtest"));
        port.OpenPort();
        port.ClosePort();
        QCOMPARE(activeJobs(QStringLiteral("krvtest")), 0);
        // A later job is the next thing the printer sees.
        SendToPrinter(port, "after");
        QVERIFY(mPrinter->waitForJobs(before + 1));
        QCOMPARE(mPrinter->jobs().at(before), QByteArray("after"));
    }

    void unreachableSchedulerIsNamed() {
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(krv::test::closedPort());
        cupsSetServer(closed.toLatin1().constData());
        SpoolerPort port(QStringLiteral("krvtest"));
        const krv::RuntimeError error = sendError(port, "x");
        QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, (void)spoolerQueues());
        cupsSetServer(nullptr);
        QCOMPARE(error.number(), errors::SpoolerUnavailable);
        QVERIFY2(error.description().contains(closed), qPrintable(error.description()));
    }

    void repeatedSendsLeakNothing() {
        SpoolerPort good(QStringLiteral("krvtest"));
        SpoolerPort missing(QStringLiteral("no_such_queue"));
        const int before = int(mPrinter->jobs().size());
        (void)sendError(good, "warm-up");
        (void)sendError(missing, "warm-up");
        // The stand-in printer lives in this process: count once it is idle.
        QVERIFY(mPrinter->waitForJobs(before + 1));
        const int fds = krv::test::openFileDescriptors();
        int failed = 0;
        for (int i = 0; i < 20; ++i)
            failed += sendError(i % 2 ? missing : good, "j").number() != 0 ? 1 : 0;
        QCOMPARE(failed, 10);
        QVERIFY(mPrinter->waitForJobs(before + 11));
        QCOMPARE(krv::test::openFileDescriptors(), fds);
    }
};

QTEST_GUILESS_MAIN(TestSpooler)
#include "tst_spooler.moc"
