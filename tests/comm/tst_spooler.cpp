// Print spooler connections against a private CUPS scheduler started here:
// its own folders in a temporary folder, listening on 127.0.0.1 only, with
// raw queues whose device is a listener of this test.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "PrivateScheduler.h"
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

class TestSpooler : public QObject {
    Q_OBJECT
    krv::test::PrivateScheduler mScheduler;
    std::unique_ptr<TcpPeer> mPrinter;

    bool lpadmin(const QStringList &arguments) { return mScheduler.lpadmin(arguments); }
    bool addRawQueue(const QString &name) { return mScheduler.addRawQueue(name, mPrinter->port()); }

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
        const QString failure = mScheduler.start();
        if (!failure.isEmpty())
            QFAIL(qPrintable(failure));
        // The library under test finds the scheduler the way an operator's
        // would point it elsewhere: through CUPS_SERVER.
        qputenv("CUPS_SERVER", mScheduler.server().toLatin1());
        cupsSetServer(nullptr);

        mPrinter = std::make_unique<TcpPeer>(TcpPeer::Mode::ReadAll);
        QVERIFY(addRawQueue(QStringLiteral("krvtest")));
    }

    void cleanupTestCase() { mPrinter.reset(); }

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
