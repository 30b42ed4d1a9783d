// The serial connection against real pseudo-terminals: the test holds the
// master end, the port under test opens the terminal end by its path.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "PtyPeer.h"
#include "SendJob.h"
#include "SerialPort.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <memory>

// The kernel's own termios, which holds any speed exactly (glibc's holds
// only the listed ones); TCGETS2 reads it.
struct termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

using namespace krv::comm;
using namespace std::chrono_literals;
using Flow = SerialSettings::Flow;
using krv::test::Pty;

namespace {

constexpr char Xon = 0x11;

ConnectionSettings serialLine(const QString &device, qint32 speed = 9600, Flow flow = Flow::None) {
    ConnectionSettings c;
    c.kind = ConnectionSettings::Kind::Serial;
    c.serial.device = device;
    c.serial.speed = speed;
    c.serial.flow = flow;
    return c;
}

// The error of sending on an open port, number 0 when it succeeds. Not
// SendToPrinter: opening the port again would set the line up afresh, and
// that lets output stopped by an XOFF go on.
krv::RuntimeError sendOnOpenPort(SerialPort &port, const QByteArray &data) {
    try {
        port.SendData(data);
        port.ClosePort();
    } catch (const krv::RuntimeError &e) {
        return e;
    }
    return krv::RuntimeError(0, QString());
}

SendOutcome outcomeOf(QSignalSpy &finished) {
    if (finished.isEmpty() && !finished.wait(10000))
        return {};
    return finished.first().first().value<SendOutcome>();
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void everyByteValueArrives_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("flow");
        QTest::newRow("9600, no flow control") << 9600 << int(Flow::None);
        QTest::newRow("115200, rts/cts") << 115200 << int(Flow::RtsCts);
        // XON and XOFF among the data go out as they are; only incoming ones steer.
        QTest::newRow("38400, xon/xoff") << 38400 << int(Flow::XonXoff);
        QTest::newRow("250000, off the usual list") << 250000 << int(Flow::None);
    }
    void everyByteValueArrives() {
        QFETCH(int, speed);
        QFETCH(int, flow);
        const Pty pty;
        SerialPort port(serialLine(pty.path(), speed, Flow(flow)).serial);
        port.OpenPort();
        termios2 t{}; // the line as the system holds it while the port is open
        QVERIFY(::ioctl(pty.slave(), TCGETS2, &t) == 0);
        QCOMPARE(int(t.c_ospeed), speed);
        QCOMPARE((t.c_iflag & IXON) != 0, Flow(flow) == Flow::XonXoff);
        QCOMPARE((t.c_cflag & CRTSCTS) != 0, Flow(flow) == Flow::RtsCts);
        const QByteArray job = krv::test::everyByteValue().repeated(4);
        port.SendData(job);
        port.ClosePort();
        QCOMPARE(pty.read(job.size(), 5s), job);
    }

    void sendJobDeliversThroughStoredKind() {
        const Pty pty;
        SendJob job(makePort(serialLine(pty.path(), 19200)), krv::test::everyByteValue());
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        const SendOutcome outcome = outcomeOf(finished);
        QVERIFY2(outcome.result == SendOutcome::Result::Sent, qPrintable(outcome.description));
        // The job, then the question how the printer is, which this line
        // leaves unanswered.
        QCOMPARE(pty.read(259, 5s), krv::test::everyByteValue() + "\x10\x04\x01");
        QVERIFY(outcome.status && !outcome.status->answered());
    }

    void xoffHoldsTheJobUntilXon() {
        const Pty pty;
        SerialPort port(serialLine(pty.path(), 9600, Flow::XonXoff).serial);
        port.OpenPort();
        pty.hold(); // the byte after the XOFF must not end the hold: only XON does
        const QByteArray job = krv::test::everyByteValue().repeated(8);
        krv::RuntimeError error(-1, QString());
        std::unique_ptr<QThread> sender(
            QThread::create([&] { error = sendOnOpenPort(port, job); }));
        sender->start();
        QCOMPARE(pty.read(1, 700ms), QByteArray()); // nothing while held
        QVERIFY(!sender->isFinished());
        pty.send(Xon);
        QCOMPARE(pty.read(job.size(), 5s), job);
        QVERIFY(sender->wait(5000));
        QVERIFY2(error.number() == 0, qPrintable(error.description()));
    }

    void xoffPastTimeoutNamesBytesLeft() {
        const Pty pty;
        SerialPort port(serialLine(pty.path(), 9600, Flow::XonXoff).serial,
                        SerialPort::Timeouts{1000ms});
        port.OpenPort();
        pty.hold();
        const krv::RuntimeError error = sendOnOpenPort(port, QByteArray(3000, 'x'));
        QCOMPARE(error.number(), errors::SerialWriteTimeout);
        QVERIFY2(error.description().contains(QLatin1String("3000 of 3000 bytes")),
                 qPrintable(error.description()));
        port.ClosePort(); // what SendToPrinter does after a failure
        QCOMPARE(pty.read(1, 200ms), QByteArray());
        SerialPort again(serialLine(pty.path()).serial); // the failed job let go of the device
        again.OpenPort();
    }

    void cancelEndsAHeldJob() {
        const Pty pty;
        SendJob job(makePort(serialLine(pty.path(), 9600, Flow::XonXoff)), QByteArray(100000, 'x'));
        QSignalSpy phases(&job, &SendJob::phaseChanged);
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        // The port sets XON/XOFF up before it sends; an XOFF before that is plain input.
        QTRY_VERIFY_WITH_TIMEOUT(!phases.isEmpty() &&
                                     phases.last().first().value<SendPhase>() == SendPhase::Sending,
                                 5000);
        pty.hold();
        (void)pty.read(100000, 300ms); // what went out before the XOFF took hold
        QVERIFY(finished.isEmpty());
        job.cancel();
        QVERIFY(finished.wait(3000));
        QCOMPARE(outcomeOf(finished).result, SendOutcome::Result::Cancelled);
    }

    void deviceThatCannotBeUsed_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("number");
        QTest::newRow("missing") << "missing" << errors::SerialMissing;
        QTest::newRow("regular file") << "file" << errors::SerialNotTerminal;
        QTest::newRow("null device, not a terminal") << "null" << errors::SerialNotTerminal;
        QTest::newRow("another serial program's lock file") << "lock file" << errors::SerialBusy;
        QTest::newRow("exclusive mode set by another opener") << "exclusive" << errors::SerialBusy;
        QTest::newRow("flock held by another program") << "flock" << errors::SerialBusy;
    }
    void deviceThatCannotBeUsed() {
        QFETCH(QString, situation);
        QFETCH(int, number);
        const Pty pty;
        QTemporaryDir dir;
        QString device = pty.path();
        SerialPort first(serialLine(pty.path()).serial);
        QProcess flock;
        if (situation == QLatin1String("missing")) {
            device = dir.filePath(QStringLiteral("ttyUSB9"));
        } else if (situation == QLatin1String("file")) {
            device = dir.filePath(QStringLiteral("file"));
            QVERIFY(QFile(device).open(QIODevice::WriteOnly));
        } else if (situation == QLatin1String("null")) {
            device = dir.filePath(QStringLiteral("null"));
            if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)))
                QSKIP("mknod needs root");
        } else if (situation == QLatin1String("lock file")) {
            first.OpenPort();
        } else if (situation == QLatin1String("exclusive")) {
            QVERIFY(::ioctl(pty.slave(), TIOCEXCL) == 0);
        } else {
            // Without forking, so that killing the process ends the holder itself.
            flock.start(QStringLiteral("flock"),
                        {QStringLiteral("--no-fork"), QStringLiteral("-x"), pty.path(),
                         QStringLiteral("-c"), QStringLiteral("echo held; exec sleep 30")});
            QVERIFY2(flock.waitForReadyRead(5000), "flock (util-linux) did not take the lock");
        }
        SerialPort port(serialLine(device).serial);
        try {
            port.OpenPort();
            QFAIL("opened");
        } catch (const krv::RuntimeError &e) {
            QCOMPARE(e.number(), number);
            QVERIFY2(e.description().contains(device), qPrintable(e.description()));
        }
        flock.kill();
        flock.waitForFinished(5000);
    }

    void readsWhatThePrinterSends() {
        const Pty pty;
        SerialPort port(serialLine(pty.path()).serial);
        port.OpenPort();
        QCOMPARE(port.readAvailable(100ms), QByteArray());
        pty.send('\x10');
        pty.send('\xff');
        QByteArray got = port.readAvailable(2s); // the bytes may come in one by one
        if (got.size() < 2)
            got += port.readAvailable(2s);
        QCOMPARE(got, QByteArray("\x10\xff"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
