// The krv520-sim program as a peer on 127.0.0.1 and on a pseudo-terminal:
// jobs over TCP and serial, a dropped connection, flow control, receipts,
// state, decoding files and a clean stop.
#include "TestPage.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 20000;

QByteArray framed(const QByteArray &token) {
    return "\x1b\x1d" + token + '\n' + '\0';
}

const QByteArray WorkedBatch =
    framed("#-20030") + framed("#+20020") + framed("#+10010") + framed("#W00000");

QByteArray everyByteValue() {
    QByteArray bytes;
    for (int c = 0; c < 256; ++c)
        bytes += char(c);
    return bytes;
}

// A sender at the simulator's terminal end, opened as a serial printer port
// would be; closing it ends the job.
struct TerminalSender {
    int fd;
    TerminalSender(const QString &path, bool xonXoff)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios t{};
        if (xonXoff && ::tcgetattr(fd, &t) == 0) {
            t.c_iflag |= IXON;
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~TerminalSender() { ::close(fd); }
    // A pseudo-terminal takes these small writes whole, unless an XOFF holds it.
    [[nodiscard]] bool write(const QByteArray &bytes) const {
        return ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    }
    [[nodiscard]] bool writable(int ms) const {
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, ms) == 1;
    }
};

// The simulator as a child process whose output lines the test follows. It
// is always stopped when the test ends.
class Simulator {
public:
    explicit Simulator(const QString &runtimeDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        mProcess.setProcessEnvironment(env);
        mProcess.setProcessChannelMode(QProcess::SeparateChannels);
    }
    ~Simulator() {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.terminate();
            if (!mProcess.waitForFinished(WaitMs))
                mProcess.kill();
            mProcess.waitForFinished(WaitMs);
        }
    }

    // Starts serving on a free port; false unless it reports where it listens.
    bool start(const QStringList &args) {
        mProcess.start(KRV_SIM_PROGRAM, QStringList{"--port", "0"} + args);
        if (!waitFor("listening on "))
            return false;
        static const QRegularExpression where(R"(^listening on 127\.0\.0\.1:(\d+)$)");
        const auto match = where.match(mLines.first());
        mPort = quint16(match.captured(1).toUInt());
        return match.hasMatch() && mPort != 0;
    }

    // Starts on a pseudo-terminal; false unless it reports its terminal end.
    bool startSerial(const QStringList &args) {
        mProcess.start(KRV_SIM_PROGRAM, QStringList{"--serial"} + args);
        if (!waitFor("listening on "))
            return false;
        static const QRegularExpression where(R"(^listening on (/dev/pts/\d+)$)");
        const auto match = where.match(mLines.first());
        mTerminal = match.captured(1);
        return match.hasMatch();
    }

    // Waits until a line from the last one found on starts with `prefix`.
    bool waitFor(const QString &prefix) {
        QDeadlineTimer deadline(WaitMs);
        for (;;) {
            for (; mNext < mLines.size(); ++mNext) {
                if (mLines[mNext].startsWith(prefix)) {
                    ++mNext;
                    return true;
                }
            }
            if (mProcess.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            mProcess.waitForReadyRead(100);
            readLines();
        }
    }

    bool finish(int *exitCode) {
        if (!mProcess.waitForFinished(WaitMs))
            return false;
        readLines();
        *exitCode = mProcess.exitStatus() == QProcess::NormalExit ? mProcess.exitCode() : -1;
        return true;
    }

    void send(const QByteArray &bytes, bool reset = false) const {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, mPort);
        QVERIFY(socket.waitForConnected(WaitMs));
        socket.write(bytes);
        while (socket.bytesToWrite() > 0)
            QVERIFY(socket.waitForBytesWritten(WaitMs));
        if (reset) {
            // Linger 0: the close becomes a reset, as when a host dies.
            const linger noLinger{1, 0};
            ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                         sizeof noLinger);
            socket.abort();
            return;
        }
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            socket.waitForDisconnected(WaitMs);
    }

    [[nodiscard]] const QStringList &lines() const { return mLines; }
    [[nodiscard]] QProcess &process() { return mProcess; }
    [[nodiscard]] quint16 port() const { return mPort; }
    [[nodiscard]] const QString &terminal() const { return mTerminal; }

private:
    void readLines() {
        mPartial += mProcess.readAllStandardOutput();
        qsizetype end;
        while ((end = mPartial.indexOf('\n')) >= 0) {
            mLines << QString::fromUtf8(mPartial.left(end));
            mPartial.remove(0, end + 1);
        }
    }

    QProcess mProcess;
    QStringList mLines;
    QByteArray mPartial;
    qsizetype mNext = 0;
    quint16 mPort = 0;
    QString mTerminal;
};

} // namespace

class TestSimServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void servesBatchAndStoresSwitches();
    void answersStatusMidJob();
    void droppedConnectionIsReportedAndServingGoesOn_data();
    void droppedConnectionIsReportedAndServingGoesOn();
    void servesOneConnectionAtATime();
    void drawsTestPageReceipt();
    void capturesRawBytesOfEachJob_data();
    void capturesRawBytesOfEachJob();
    void stopsCleanlyOnSigterm();
    void exitsAfterRequestedJobs();
    void badStateFileStopsStart();
    void decodeExitStatus_data();
    void decodeExitStatus();
    void serialJobEndsWhenSenderCloses();
    void serialXoffHoldsSenderUntilXon();

private:
    std::unique_ptr<QTemporaryDir> mDir;
};

void TestSimServer::init() {
    mDir = std::make_unique<QTemporaryDir>();
}

void TestSimServer::servesBatchAndStoresSwitches() {
    Simulator sim(mDir->path());
    const QString state = mDir->filePath("state");
    QVERIFY(sim.start({"--state", state, "--log", mDir->filePath("log")}));
    sim.send(WorkedBatch);
    QVERIFY(sim.waitFor("job 1: connection from 127.0.0.1:"));
    QVERIFY(sim.waitFor("0033: switch command #W00000"));
    QVERIFY(sim.waitFor("Zero Style: Slashed (switch 1 0000 -> 0010)"));
    QVERIFY(sim.waitFor("Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)"));
    QVERIFY(sim.waitFor("job 1: 44 bytes, 4 switch command(s), 0 problem(s)"));

    QFile file(state);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("1 0010\n2 0020\n"));

    QFile log(mDir->filePath("log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)\n"));
}

// A request split across writes, in the middle of a batch: answered at
// once, while the connection is open, and the batch is still stored whole.
void TestSimServer::answersStatusMidJob() {
    Simulator sim(mDir->path());
    QVERIFY(sim.start({"--status", "near-end"}));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(socket.waitForConnected(WaitMs));
    socket.write(WorkedBatch.left(22) + "\x10");
    QVERIFY(socket.waitForBytesWritten(WaitMs));
    QTest::qWait(50); // so that the two halves arrive apart
    socket.write("\x04\x04" + WorkedBatch.mid(22));
    QVERIFY(socket.waitForBytesWritten(WaitMs));
    QVERIFY(socket.bytesAvailable() > 0 || socket.waitForReadyRead(WaitMs));
    // Request 4, paper sensors: fixed bits 0x12 and both near-end bits 0x0C.
    QCOMPARE(socket.readAll(), QByteArray("\x1e"));
    socket.disconnectFromHost();
    QVERIFY(sim.waitFor("0022: DLE EOT 4 (status request)"));
    QVERIFY(sim.waitFor("job 1: 47 bytes, 4 switch command(s), 0 problem(s)"));
}

void TestSimServer::droppedConnectionIsReportedAndServingGoesOn_data() {
    QTest::addColumn<bool>("reset");
    QTest::newRow("closed") << false;
    QTest::newRow("reset") << true;
}

void TestSimServer::droppedConnectionIsReportedAndServingGoesOn() {
    QFETCH(bool, reset);
    Simulator sim(mDir->path());
    QVERIFY(sim.start({"--state", mDir->filePath("state")}));
    // Two whole commands and three bytes of the third.
    sim.send(WorkedBatch.left(25), reset);
    QVERIFY(sim.waitFor("job 1: "));
    if (!reset) {
        QVERIFY(sim.waitFor("problem at offset 25: job ended inside a command: 3 byte(s) of the "
                            "command arrived (command at offset 22 skipped)"));
        QVERIFY(sim.waitFor("switch changes received but not stored"));
        QVERIFY(sim.waitFor("job 1: 25 bytes, 2 switch command(s), 1 problem(s)"));
    } else {
        QVERIFY(sim.waitFor("job 1: "));
    }
    QVERIFY(!QFile::exists(mDir->filePath("state")));

    sim.send(WorkedBatch);
    QVERIFY(sim.waitFor("job 2: connection from"));
    QVERIFY(sim.waitFor("Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)"));
    QVERIFY(sim.waitFor("job 2: 44 bytes, 4 switch command(s), 0 problem(s)"));
    QVERIFY(QFile::exists(mDir->filePath("state")));
}

void TestSimServer::servesOneConnectionAtATime() {
    Simulator sim(mDir->path());
    QVERIFY(sim.start({}));
    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(first.waitForConnected(WaitMs));
    first.write("first\r\n");
    QVERIFY(first.waitForBytesWritten(WaitMs));
    QVERIFY(sim.waitFor("0000: text \"first\""));

    // The second job waits in the queue until the first connection ends.
    sim.send("second\r\n");
    QTest::qWait(200);
    first.write(" more");
    QVERIFY(first.waitForBytesWritten(WaitMs));
    first.disconnectFromHost();
    // Lines are searched in order: job 1 ends before job 2 begins.
    QVERIFY(sim.waitFor("job 1: 12 bytes"));
    QVERIFY(sim.waitFor("job 2: connection from"));
    QVERIFY(sim.waitFor("0000: text \"second\""));
    QVERIFY(sim.waitFor("job 2: 8 bytes"));
}

void TestSimServer::drawsTestPageReceipt() {
    Simulator sim(mDir->path());
    QVERIFY(sim.start({"--png", mDir->filePath("receipt-%1.png")}));
    sim.send(krv::testprint::makeTestPage());
    QVERIFY(sim.waitFor("job 1: 992 bytes, 0 switch command(s), 0 problem(s)"));
    QVERIFY(sim.waitFor("receipt " + mDir->filePath("receipt-1.png")));
    const QImage image(mDir->filePath("receipt-1.png"));
    QCOMPARE(image.width(), 576);
    QVERIFY(image.height() > 576);

    // A settings batch prints nothing and so draws nothing.
    sim.send(WorkedBatch);
    QVERIFY(sim.waitFor("job 2: 44 bytes"));
    QVERIFY(!QFile::exists(mDir->filePath("receipt-2.png")));
}

void TestSimServer::capturesRawBytesOfEachJob_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QByteArray everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += char(c);
    QTest::newRow("batch, then text") << WorkedBatch << QByteArray("second\r\n");
    QTest::newRow("every byte value, then a cut command") << everyByte << WorkedBatch.left(25);
    QTest::newRow("empty job, then the batch") << QByteArray() << WorkedBatch;
}

void TestSimServer::capturesRawBytesOfEachJob() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    Simulator sim(mDir->path());
    const QString pattern = mDir->filePath("job-%1.bin");
    QVERIFY(sim.start({"--capture", pattern}));
    sim.send(first);
    QVERIFY(sim.waitFor(QStringLiteral("capture %1 (%2 bytes)")
                            .arg(mDir->filePath("job-1.bin"))
                            .arg(first.size())));
    sim.send(second);
    QVERIFY(sim.waitFor(QStringLiteral("capture %1 (%2 bytes)")
                            .arg(mDir->filePath("job-2.bin"))
                            .arg(second.size())));
    for (const auto &[name, bytes] : {std::pair{"job-1.bin", first}, {"job-2.bin", second}}) {
        QFile file(mDir->filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), name);
        QCOMPARE(file.readAll(), bytes);
    }
}

void TestSimServer::stopsCleanlyOnSigterm() {
    Simulator sim(mDir->path());
    QVERIFY(sim.start({}));
    sim.process().terminate();
    int exitCode = -1;
    QVERIFY(sim.finish(&exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(sim.lines().last(), QStringLiteral("stopped"));
}

void TestSimServer::exitsAfterRequestedJobs() {
    Simulator sim(mDir->path());
    QVERIFY(sim.start({"--jobs", "2"}));
    sim.send(WorkedBatch);
    QVERIFY(sim.waitFor("job 1: 44 bytes"));
    QCOMPARE(sim.process().state(), QProcess::Running);
    sim.send(WorkedBatch);
    int exitCode = -1;
    QVERIFY(sim.finish(&exitCode));
    QCOMPARE(exitCode, 0);
    QVERIFY(sim.waitFor("job 2: 44 bytes"));
}

void TestSimServer::badStateFileStopsStart() {
    QFile file(mDir->filePath("state"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not switches\n");
    file.close();
    QProcess process;
    process.start(KRV_SIM_PROGRAM, {"--port", "0", "--state", file.fileName()});
    QVERIFY(process.waitForFinished(WaitMs));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().contains("expected \"X HHHH\""));
}

void TestSimServer::decodeExitStatus_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");
    QTest::newRow("clean batch") << WorkedBatch << true << 0
                                 << "Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)";
    QTest::newRow("lowercase hex")
        << framed("#-3ff00") << true << 1 << "problem at offset 5: lowercase hex";
    QTest::newRow("missing file") << QByteArray() << false << 2 << "cannot read ";
}

void TestSimServer::decodeExitStatus() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(int, status);
    QFETCH(QString, line);
    const QString path = mDir->filePath("job.bin");
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QProcess process;
    process.start(KRV_SIM_PROGRAM, {"--decode", path});
    QVERIFY(process.waitForFinished(WaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(output.contains(line), qPrintable(output));
}

void TestSimServer::serialJobEndsWhenSenderCloses() {
    Simulator sim(mDir->path());
    QVERIFY(sim.startSerial({"--capture", mDir->filePath("job-%1.bin")}));
    const QByteArray everyByte = everyByteValue();
    {
        TerminalSender sender(sim.terminal(), false);
        QVERIFY(sender.write(everyByte.left(100)));
        QVERIFY(sim.waitFor("job 1: data on " + sim.terminal()));
        // A pause with the terminal still open is no end of the job.
        QTest::qWait(300);
        QVERIFY(sender.write(everyByte.mid(100)));
    }
    QVERIFY(sim.waitFor(QStringLiteral("capture %1 (256 bytes)").arg(mDir->filePath("job-1.bin"))));
    QFile file(mDir->filePath("job-1.bin"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), everyByte);

    // The line waits for the next sender, and sees its close too.
    QVERIFY(TerminalSender(sim.terminal(), false).write(WorkedBatch));
    QVERIFY(sim.waitFor("job 2: 44 bytes, 4 switch command(s), 0 problem(s)"));
}

void TestSimServer::serialXoffHoldsSenderUntilXon() {
    Simulator sim(mDir->path());
    // Held long enough for a loaded machine to look while it holds.
    QVERIFY(sim.startSerial(
        {"--capture", mDir->filePath("job-%1.bin"), "--xoff-after", "1", "--hold-ms", "3000"}));
    const QByteArray everyByte = everyByteValue();
    {
        TerminalSender sender(sim.terminal(), true);
        QVERIFY(sender.write(everyByte.left(1)));
        QVERIFY(sim.waitFor("job 1: XOFF after 1 bytes, XON in 3000 ms"));
        QTRY_VERIFY_WITH_TIMEOUT(!sender.writable(0), WaitMs);
        QVERIFY(!sender.write(everyByte.mid(1)));
        // The simulator says so before the XON goes out.
        QVERIFY(sender.writable(WaitMs));
        QVERIFY(sim.waitFor("job 1: XON, 0 bytes came while held"));
        QVERIFY(sender.write(everyByte.mid(1)));
    }
    QVERIFY(sim.waitFor(QStringLiteral("capture %1 (256 bytes)").arg(mDir->filePath("job-1.bin"))));
    QFile file(mDir->filePath("job-1.bin"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), everyByte);
}

QTEST_GUILESS_MAIN(TestSimServer)
#include "tst_sim_server.moc"
