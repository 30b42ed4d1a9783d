// Send jobs and the spooler's queue lookup off the caller's thread: how they
// end, what they say, and that cancel closes the connection at once.
#include "CommErrors.h"
#include "FilePort.h"
#include "QueueLookup.h"
#include "SendJob.h"
#include "SpoolerPort.h"
#include "TcpPort.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <pty.h>
#include <unistd.h>

using namespace krv::comm;
using krv::test::TcpPeer;
using Result = SendOutcome::Result;

Q_DECLARE_METATYPE(krv::comm::SendOutcome)
Q_DECLARE_METATYPE(krv::comm::SendPhase)
Q_DECLARE_METATYPE(krv::comm::QueueListing)

namespace {

// A scheduler that takes connections and never answers: connections sit in
// the listen queue, nobody reads them.
struct SilentScheduler {
    QTcpServer server;
    SilentScheduler() {
        server.listen(QHostAddress::LocalHost, 0);
        qputenv("CUPS_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server.serverPort()));
    }
    ~SilentScheduler() { qunsetenv("CUPS_SERVER"); }
};

SendOutcome waitForOutcome(QSignalSpy &finished) {
    if (finished.isEmpty() && !finished.wait(30000))
        return {};
    return finished.first().first().value<SendOutcome>();
}

} // namespace

class TestSendJob : public QObject {
    Q_OBJECT
private slots:
    void sentJobGoesThroughEveryStep() {
        TcpPeer printer(TcpPeer::Mode::ReadAll);
        SendJob job(std::make_unique<TcpPort>(QStringLiteral("127.0.0.1"), printer.port()),
                    krv::test::everyByteValue());
        QSignalSpy phases(&job, &SendJob::phaseChanged);
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        const SendOutcome outcome = waitForOutcome(finished);
        QCOMPARE(int(outcome.result), int(Result::Sent));
        QCOMPARE(outcome.bytes, 256);
        QCOMPARE(outcome.handedOver, 256);
        QVERIFY(outcome.endedAt.isValid());
        QList<SendPhase> seen;
        for (const QList<QVariant> &args : phases)
            seen << args.first().value<SendPhase>();
        QCOMPARE(seen, (QList<SendPhase>{SendPhase::Opening, SendPhase::Sending, SendPhase::Asking,
                                         SendPhase::Closing, SendPhase::Ended}));
        QVERIFY(outcome.status && outcome.status->ready());
        QVERIFY(printer.waitForJobs(1));
        QCOMPARE(printer.jobs().first(), krv::test::everyByteValue());
    }

    void failedJobCarriesTheError() {
        SendJob job(std::make_unique<TcpPort>(QStringLiteral("127.0.0.1"), krv::test::closedPort()),
                    "x");
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        const SendOutcome outcome = waitForOutcome(finished);
        QCOMPARE(int(outcome.result), int(Result::Failed));
        QCOMPARE(outcome.error, errors::TcpConnectionRefused);
        QCOMPARE(outcome.handedOver, 0);
    }

    // Each row blocks the job in another step on a real peer that never
    // reads or answers; the ports' own bounds are 5 to 10 s there.
    void cancelEndsABlockedJobAndClosesItsConnection_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<SendPhase>("blockedIn");
        QTest::addColumn<qint64>("handedOver");
        QTest::newRow("tcp, printer never confirms")
            << 0 << 992 << SendPhase::Closing << qint64(992);
        QTest::newRow("tcp, printer stops taking data")
            << 0 << 32 * 1024 * 1024 << SendPhase::Sending << qint64(-1);
        QTest::newRow("spooler that never answers") << 1 << 44 << SendPhase::Opening << qint64(0);
        QTest::newRow("device that stops taking data")
            << 2 << 1024 * 1024 << SendPhase::Sending << qint64(-1);
    }
    void cancelEndsABlockedJobAndClosesItsConnection() {
        QFETCH(int, kind);
        QFETCH(int, size);
        QFETCH(SendPhase, blockedIn);
        QFETCH(qint64, handedOver);
        TcpPeer printer(TcpPeer::Mode::NeverRead);
        SilentScheduler scheduler;
        // A device stand-in: a terminal whose other end is never read.
        int master = -1;
        int terminal = -1;
        char device[128] = {};
        QCOMPARE(::openpty(&master, &terminal, device, nullptr, nullptr), 0);
        const auto closePty = qScopeGuard([master, terminal] {
            ::close(terminal);
            ::close(master);
        });
        const int fdsBefore = krv::test::openFileDescriptors();
        std::unique_ptr<PrinterPort> port;
        if (kind == 0)
            port = std::make_unique<TcpPort>(QStringLiteral("127.0.0.1"), printer.port());
        else if (kind == 1)
            port = std::make_unique<SpoolerPort>(QString());
        else
            port = std::make_unique<FilePort>(QFile::decodeName(device));
        auto job = std::make_unique<SendJob>(std::move(port), QByteArray(size, 'x'));
        QSignalSpy phases(job.get(), &SendJob::phaseChanged);
        QSignalSpy finished(job.get(), &SendJob::finished);
        job->start();
        QTRY_VERIFY(!phases.isEmpty() && phases.last().first().value<SendPhase>() == blockedIn);
        QTest::qWait(300); // well inside the blocking wait
        QVERIFY(finished.isEmpty());

        QElapsedTimer clock;
        clock.start();
        job->cancel();
        const SendOutcome outcome = waitForOutcome(finished);
        const qint64 took = clock.elapsed();
        QCOMPARE(int(outcome.result), int(Result::Cancelled));
        QCOMPARE(outcome.phase, blockedIn);
        QCOMPARE(outcome.handedOver, handedOver);
        // Generous beside the 250 ms target, far below the ports' own bounds.
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        job.reset();
        // Only the peer's own end of the connection is left.
        QCOMPARE(krv::test::openFileDescriptors(), fdsBefore + printer.connections());
    }

    void silentSchedulerIsNamedWithinTheBound() {
        using namespace std::chrono_literals;
        SilentScheduler scheduler;
        QueueLookup lookup(nullptr, 400ms);
        QSignalSpy finished(&lookup, &QueueLookup::finished);
        QElapsedTimer clock;
        clock.start();
        lookup.start();
        QVERIFY(lookup.pending());
        QVERIFY(finished.wait(5000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!lookup.pending());
        const auto listing = finished.first().first().value<QueueListing>();
        QCOMPARE(listing.error, errors::SpoolerNoAnswer);
        QCOMPARE(listing.description,
                 QStringLiteral("The print spooler at 127.0.0.1:%1 did not answer within 0.4 s.")
                     .arg(scheduler.server.serverPort()));
    }
};

QTEST_MAIN(TestSendJob)
#include "tst_sendjob.moc"
