// The serial connection against real pseudo-terminals: the test holds the
// master end, the port under test opens the terminal end by its path.
#include "CommErrors.h"
#include "ConnectionSettings.h"
#include "PtyPeer.h"
#include "SendJob.h"
#include "SerialPort.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace krv::comm;
using namespace std::chrono_literals;
using Flow = SerialSettings::Flow;

Q_DECLARE_METATYPE(Flow)

using krv::test::Pty;

// The kernel's own termios, which holds any speed exactly (glibc's holds
// only the listed ones); TCGETS2 reads it.
struct termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
using KernelTermios = termios2;

namespace {

constexpr char Xoff = 0x13;
constexpr char Xon = 0x11;

SerialSettings line(const QString &device, qint32 speed = 9600, Flow flow = Flow::None) {
    SerialSettings s;
    s.device = device;
    s.speed = speed;
    s.flow = flow;
    return s;
}

// Lets the terminal's line discipline act on a flow control byte the test
// just wrote to the master; it does so in the kernel's own time.
void settle() {
    QThread::msleep(200);
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void everyByteValueArrives_data() {
        QTest::addColumn<qint32>("speed");
        QTest::addColumn<Flow>("flow");
        QTest::newRow("9600, no flow control") << 9600 << Flow::None;
        QTest::newRow("115200, rts/cts") << 115200 << Flow::RtsCts;
        // XON and XOFF among the data go out as they are; only incoming ones steer.
        QTest::newRow("38400, xon/xoff") << 38400 << Flow::XonXoff;
        QTest::newRow("250000, a speed off the usual list") << 250000 << Flow::None;
    }
    void everyByteValueArrives() {
        QFETCH(qint32, speed);
        QFETCH(Flow, flow);
        const Pty pty;
        SerialPort port(line(pty.path(), speed, flow));
        port.OpenPort();
        // The line as the system holds it while the port is open.
        KernelTermios t{};
        QVERIFY(::ioctl(pty.slave(), TCGETS2, &t) == 0);
        QCOMPARE(qint32(t.c_ospeed), speed);
        QCOMPARE((t.c_iflag & IXON) != 0, flow == Flow::XonXoff);
        QCOMPARE((t.c_cflag & CRTSCTS) != 0, flow == Flow::RtsCts);
        const QByteArray job = krv::test::everyByteValue().repeated(4);
        port.SendData(job);
        port.ClosePort();
        QCOMPARE(pty.read(job.size(), 5s), job);
    }

    void sendJobDeliversThroughStoredKind() {
        const Pty pty;
        ConnectionSettings connection;
        connection.kind = ConnectionSettings::Kind::Serial;
        connection.serial = line(pty.path(), 19200);
        SendJob job(makePort(connection), krv::test::everyByteValue());
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        QVERIFY(finished.wait(10000));
        const auto outcome = finished.first().first().value<SendOutcome>();
        QVERIFY2(outcome.result == SendOutcome::Result::Sent, qPrintable(outcome.description));
        QCOMPARE(pty.read(256, 5s), krv::test::everyByteValue());
    }

    void xoffHoldsTheJobUntilXon() {
        const Pty pty;
        SerialPort port(line(pty.path(), 9600, Flow::XonXoff));
        port.OpenPort();
        pty.send(Xoff);
        settle();
        const QByteArray job = krv::test::everyByteValue().repeated(8);
        krv::RuntimeError error(-1, QString());
        std::unique_ptr<QThread> sender(QThread::create([&] {
            try {
                port.SendData(job);
                port.ClosePort();
                error = krv::RuntimeError(0, QString());
            } catch (const krv::RuntimeError &e) {
                error = e;
            }
        }));
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
        SerialPort port(line(pty.path(), 9600, Flow::XonXoff), SerialPort::Timeouts{1000ms});
        port.OpenPort();
        pty.send(Xoff);
        settle();
        QElapsedTimer clock;
        clock.start();
        try {
            port.SendData(QByteArray(3000, 'x'));
            QFAIL("a job held back by XOFF was reported sent");
        } catch (const krv::RuntimeError &e) {
            QCOMPARE(e.number(), errors::SerialWriteTimeout);
            QVERIFY2(e.description().contains(QLatin1String("3000 of 3000 bytes")),
                     qPrintable(e.description()));
        }
        QVERIFY(clock.elapsed() < 5000); // the generous bound of a 1 s time-out
        port.ClosePort();
        QCOMPARE(pty.read(1, 200ms), QByteArray());
        // The failed job let go of the device.
        SerialPort again(line(pty.path()));
        again.OpenPort();
        again.ClosePort();
    }

    void cancelEndsAHeldJob() {
        const Pty pty;
        ConnectionSettings connection;
        connection.kind = ConnectionSettings::Kind::Serial;
        connection.serial = line(pty.path(), 9600, Flow::XonXoff);
        SendJob job(makePort(connection), QByteArray(100000, 'x'));
        QSignalSpy phases(&job, &SendJob::phaseChanged);
        QSignalSpy finished(&job, &SendJob::finished);
        job.start();
        // The port sets XON/XOFF up before it sends; an XOFF before that is plain input.
        QTRY_VERIFY_WITH_TIMEOUT(!phases.isEmpty() &&
                                     phases.last().first().value<SendPhase>() == SendPhase::Sending,
                                 5000);
        pty.send(Xoff);
        settle();
        (void)pty.read(100000, 300ms); // what went out before the XOFF took hold
        QVERIFY(finished.isEmpty());
        job.cancel();
        QVERIFY(finished.wait(3000));
        const auto outcome = finished.first().first().value<SendOutcome>();
        QCOMPARE(outcome.result, SendOutcome::Result::Cancelled);
    }

    void deviceThatCannotBeUsed_data() {
        QTest::addColumn<QString>("device"); // relative to a temporary folder
        QTest::addColumn<int>("number");
        QTest::newRow("missing") << QStringLiteral("ttyUSB9") << errors::SerialMissing;
        QTest::newRow("regular file") << QStringLiteral("file") << errors::SerialNotTerminal;
        QTest::newRow("folder") << QStringLiteral("folder") << errors::SerialNotTerminal;
        QTest::newRow("null device, not a terminal")
            << QStringLiteral("null") << errors::SerialNotTerminal;
    }
    void deviceThatCannotBeUsed() {
        QFETCH(QString, device);
        QFETCH(int, number);
        QTemporaryDir dir;
        QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        QDir(dir.path()).mkdir(QStringLiteral("folder"));
        if (device == QLatin1String("null") &&
            ::mknod(QFile::encodeName(dir.filePath(device)).constData(), S_IFCHR | 0666,
                    makedev(1, 3)) != 0)
            QSKIP("mknod needs root");
        SerialPort port(line(dir.filePath(device)));
        try {
            port.OpenPort();
            QFAIL("opened");
        } catch (const krv::RuntimeError &e) {
            QCOMPARE(e.number(), number);
            QVERIFY2(e.description().contains(dir.filePath(device)), qPrintable(e.description()));
        }
    }

    void deviceHeldElsewhereIsBusy_data() {
        QTest::addColumn<QString>("holder");
        QTest::newRow("another serial program's lock file") << QStringLiteral("lock file");
        QTest::newRow("exclusive mode set by another opener") << QStringLiteral("exclusive");
        QTest::newRow("flock held by another program") << QStringLiteral("flock");
    }
    void deviceHeldElsewhereIsBusy() {
        QFETCH(QString, holder);
        const Pty pty;
        SerialPort first(line(pty.path()));
        QProcess flock;
        if (holder == QLatin1String("lock file")) {
            first.OpenPort();
        } else if (holder == QLatin1String("exclusive")) {
            QVERIFY(::ioctl(pty.slave(), TIOCEXCL) == 0);
        } else {
            if (QStandardPaths::findExecutable(QStringLiteral("flock")).isEmpty())
                QSKIP("flock (util-linux) is not installed");
            flock.start(QStringLiteral("flock"),
                        {QStringLiteral("-x"), pty.path(), QStringLiteral("-c"),
                         QStringLiteral("echo held; exec sleep 30")});
            QVERIFY(flock.waitForReadyRead(5000));
        }
        SerialPort second(line(pty.path()));
        try {
            second.OpenPort();
            QFAIL("a device held by another program was opened");
        } catch (const krv::RuntimeError &e) {
            QCOMPARE(e.number(), errors::SerialBusy);
            QVERIFY2(e.description().contains(pty.path()), qPrintable(e.description()));
        }
        flock.kill();
        flock.waitForFinished(5000);
    }

    // As user nobody: the device is a node of the pseudo-terminal, mode 0660
    // in the group dialout, in a folder of the test's own.
    void deviceOfAnotherGroupNamesGroupAndFix() {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("needs root and setpriv to act as another user");
        const Pty pty;
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther));
        struct stat st {};
        QVERIFY(::fstat(pty.slave(), &st) == 0);
        const QString node = dir.filePath(QStringLiteral("ttyS7"));
        const QByteArray nodeName = QFile::encodeName(node);
        QVERIFY(::mknod(nodeName.constData(), S_IFCHR | 0660, st.st_rdev) == 0);
        QVERIFY(::chown(nodeName.constData(), 0, 20) == 0); // dialout on Debian
        QVERIFY(::chmod(nodeName.constData(), 0660) == 0);
        QProcess child;
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                     QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                     QStringLiteral("--open"), node});
        QVERIFY(child.waitForFinished(10000));
        const QString answer = QString::fromLocal8Bit(child.readAllStandardOutput());
        QVERIFY2(answer.startsWith(QString::number(errors::SerialNotPermitted)),
                 qPrintable(answer + QString::fromLocal8Bit(child.readAllStandardError())));
        QVERIFY2(answer.contains(QLatin1String("group dialout")) &&
                     answer.contains(QLatin1String("sudo usermod -aG dialout $USER")),
                 qPrintable(answer));
    }

    void readsWhatThePrinterSends() {
        const Pty pty;
        SerialPort port(line(pty.path()));
        port.OpenPort();
        QCOMPARE(port.readAvailable(100ms), QByteArray());
        pty.send('\x10');
        pty.send('\xff');
        QCOMPARE(port.readAvailable(2s), QByteArray("\x10\xff"));
        port.ClosePort();
    }
};

// "--open DEVICE": opens the device as whoever runs it and prints the error
// number and description (0 when it opened), for the permission case.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--open") == 0) {
        SerialPort port(line(QString::fromLocal8Bit(argv[2])));
        try {
            port.OpenPort();
            std::printf("0\n");
        } catch (const krv::RuntimeError &e) {
            std::printf("%d %s\n", e.number(), qPrintable(e.description()));
        }
        return 0;
    }
    TestSerialPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serialport.moc"
