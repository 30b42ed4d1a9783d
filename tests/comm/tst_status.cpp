// The printer status read back: a python peer on 127.0.0.1 that answers
// from the bit table (tests/comm/status_peer.py), peers that answer nothing,
// garbage, too late or after unrelated bytes, and the other kinds of
// connection (a pseudo-terminal as the device, a null device, a file, the
// spooler).
#include "CommErrors.h"
#include "RuntimeError.h"
#include "StatusQuery.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

using krv::comm::ConnectionSettings;
using krv::comm::PrinterStatus;
using C = PrinterStatus::Condition;

namespace {

constexpr std::chrono::milliseconds Bound{300};

struct Row {
    const char *name;
    const char *mode; // of status_peer.py
    const char *answers;
    bool mayAnswer; // false: only "no status answer" is right
    unsigned conditions;
};

// From the table: n=1 bit 3 offline; n=2 bit 2 cover open, bit 3 feed
// button, bit 5 stopped for paper, bit 6 error; n=3 bit 2 cutter, bit 3
// unrecoverable, bit 5 auto-recoverable; n=4 bits 2/3 near end, 5/6 end.
// 0x12 is a byte with only its fixed bits.
const Row Rows[] = {
    {"ready", "answer", "12121212", true, 0u},
    {"n=1 bit 2 is not in the table", "answer", "16121212", true, 0u},
    {"offline", "answer", "1a121212", true, C::Offline},
    {"cover open", "answer", "1a161212", true, C::Offline | C::CoverOpen},
    {"feed button", "answer", "1a1a1212", true, C::Offline | C::FedByButton},
    {"stopped for paper", "answer", "1a321212", true, C::Offline | C::PaperOutStop},
    {"error", "answer", "1a521212", true, C::Offline | C::ErrorOccurred},
    {"cutter", "answer", "1a521612", true, C::Offline | C::ErrorOccurred | C::AutoCutterError},
    {"unrecoverable", "answer", "1a521a12", true,
     C::Offline | C::ErrorOccurred | C::UnrecoverableError},
    {"auto-recoverable", "answer", "1a523212", true,
     C::Offline | C::ErrorOccurred | C::AutoRecoverableError},
    {"near end, bit 2", "answer", "12121216", true, C::PaperNearEnd},
    {"near end, bit 3", "answer", "1212121a", true, C::PaperNearEnd},
    {"end, bit 5", "answer", "12121232", true, C::PaperEnd},
    {"end, bit 6", "answer", "12121252", true, C::PaperEnd},
    {"every bit", "answer", "1a7e3e7e", true, (1u << PrinterStatus::ConditionCount) - 1},
};

const Row Mistakes[] = {
    {"bit 0 set", "answer", "13121212", false, 0u},
    {"bit 7 set", "answer", "12921212", false, 0u},
    {"bit 1 clear", "answer", "12121012", false, 0u},
    {"bit 4 clear", "answer", "12121202", false, 0u},
    {"silent", "silent", "12121212", false, 0u},
    {"late", "late", "12121212", false, 0u},
    {"two bytes an answer", "double", "1a161212", false, 0u},
    {"unrelated bytes first", "unrelated", "1a161212", true, C::Offline | C::CoverOpen},
    {"lookalike bytes first", "lookalike", "1212121e", true, C::PaperNearEnd},
};

QString peerPlan(const char *mode, const char *answers) {
    return QStringLiteral("%1:%2").arg(QLatin1String(mode), QLatin1String(answers));
}

ConnectionSettings tcpTarget(quint16 port) {
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::Tcp;
    s.host = "127.0.0.1";
    s.port = port;
    return s;
}

ConnectionSettings fileTarget(const QString &path) {
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::File;
    s.path = path;
    return s;
}

void addRows(const Row *begin, const Row *end) {
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("mayAnswer");
    QTest::addColumn<unsigned>("conditions");
    for (const Row *r = begin; r != end; ++r)
        QTest::newRow(r->name) << peerPlan(r->mode, r->answers) << r->mayAnswer << r->conditions;
}

} // namespace

class TestStatus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void decodesEachRow_data() { addRows(std::begin(Rows), std::end(Rows)); }
    void decodesEachRow();
    void neverReadyByMistake_data() { addRows(std::begin(Mistakes), std::end(Mistakes)); }
    void neverReadyByMistake();
    void deviceAnswersThroughPseudoTerminal_data();
    void deviceAnswersThroughPseudoTerminal();
    void otherKindsOfTarget_data();
    void otherKindsOfTarget();

private:
    // One python process serves every row, each on a port of its own: a
    // start per row would cost more than the rows.
    QProcess mPeers;
    QHash<QString, quint16> mPorts;
};

void TestStatus::initTestCase() {
    QStringList plans{peerPlan("close", "")};
    for (const Row &r : Rows)
        plans << peerPlan(r.mode, r.answers);
    for (const Row &r : Mistakes)
        plans << peerPlan(r.mode, r.answers);
    plans.removeDuplicates();
    // Gone with the test, even when it crashes.
    mPeers.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    mPeers.start("python3", QStringList{KRV_STATUS_PEER} + plans);
    for (const QString &s : plans) {
        while (!mPeers.canReadLine())
            QVERIFY2(mPeers.waitForReadyRead(20000), mPeers.readAllStandardError().constData());
        mPorts[s] = quint16(mPeers.readLine().trimmed().toUInt());
        QVERIFY(mPorts[s] != 0);
    }
}

void TestStatus::cleanupTestCase() {
    mPeers.kill();
    mPeers.waitForFinished(5000);
}

void TestStatus::decodesEachRow() {
    QFETCH(QString, peer);
    QFETCH(unsigned, conditions);
    const PrinterStatus status = krv::comm::queryPrinterStatus(tcpTarget(mPorts[peer]), Bound);
    QVERIFY2(status.answered(), qPrintable(krv::comm::describeStatus(status)));
    QCOMPARE(status.conditions, conditions);
    QCOMPARE(status.ready(), conditions == 0);
}

void TestStatus::neverReadyByMistake() {
    QFETCH(QString, peer);
    QFETCH(bool, mayAnswer);
    QFETCH(unsigned, conditions);
    QElapsedTimer timer;
    timer.start();
    const PrinterStatus status = krv::comm::queryPrinterStatus(tcpTarget(mPorts[peer]), Bound);
    QVERIFY2(timer.elapsed() < 5 * Bound.count(), qPrintable(QString::number(timer.elapsed())));
    const QString said = krv::comm::describeStatus(status);
    QVERIFY2(!status.ready(), qPrintable(said));
    if (status.answered()) {
        QVERIFY2(mayAnswer, qPrintable(said));
        QCOMPARE(status.conditions, conditions);
    } else {
        QCOMPARE(status.outcome, PrinterStatus::Outcome::NoAnswer);
        // Bytes that are plainly not answers are skipped, whenever they come.
        QVERIFY2(!peer.startsWith("unrelated"), qPrintable(said));
    }
}

// A device node that reads and writes, and a serial line: the terminal end
// of a pseudo-terminal (raw), with the answers coming from its master end.
void TestStatus::deviceAnswersThroughPseudoTerminal_data() {
    QTest::addColumn<bool>("serial");
    QTest::newRow("device node") << false;
    QTest::newRow("serial line") << true;
}

void TestStatus::deviceAnswersThroughPseudoTerminal() {
    QFETCH(bool, serial);
    int master = -1, terminal = -1;
    char name[64];
    termios raw{};
    cfmakeraw(&raw);
    QVERIFY(::openpty(&master, &terminal, name, &raw, nullptr) == 0);
    std::atomic<bool> stop = false;
    std::thread printer([&] {
        const char cover[4] = {0x1a, 0x16, 0x12, 0x12};
        QByteArray pending;
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            char buffer[16];
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (pending.append(buffer, n); pending.size() >= 3; pending.remove(0, 3))
                if (pending[0] == 0x10 && pending[1] == 0x04 && pending[2] >= 1 && pending[2] <= 4)
                    (void)!::write(master, &cover[pending[2] - 1], 1);
        }
    });
    ConnectionSettings target = fileTarget(name);
    if (serial) {
        target.kind = ConnectionSettings::Kind::Serial;
        target.serial.device = name;
    }
    const auto status = krv::comm::queryPrinterStatus(target, Bound);
    stop = true;
    printer.join();
    ::close(terminal);
    ::close(master);
    QVERIFY2(status.answered(), qPrintable(krv::comm::describeStatus(status)));
    QCOMPARE(status.conditions, C::Offline | C::CoverOpen);
}

void TestStatus::otherKindsOfTarget_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("outcome"); // -1: an error, number in `error`
    QTest::addColumn<int>("error");
    QTest::newRow("regular file") << "file" << int(PrinterStatus::Outcome::NotAvailable) << 0;
    QTest::newRow("spooler") << "spooler" << int(PrinterStatus::Outcome::NotAvailable) << 0;
    QTest::newRow("null device") << "null" << int(PrinterStatus::Outcome::NoAnswer) << 0;
    QTest::newRow("folder") << "folder" << -1 << krv::comm::errors::FileIsFolder;
    QTest::newRow("missing device") << "missing" << -1 << krv::comm::errors::StatusOpenFailed;
    QTest::newRow("refused") << "refused" << -1 << krv::comm::errors::TcpConnectionRefused;
    // Seen as its end when we read, or as a reset when we write.
    QTest::newRow("closed when asked") << "close" << -1 << krv::comm::errors::StatusReadFailed;
}

void TestStatus::otherKindsOfTarget() {
    QFETCH(QString, kind);
    QFETCH(int, outcome);
    QFETCH(int, error);
    QTemporaryDir dir;
    ConnectionSettings target = fileTarget(dir.filePath(kind));
    if (kind == "file") {
        QFile file(target.path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == "spooler") {
        target.kind = ConnectionSettings::Kind::Spooler;
    } else if (kind == "null") {
        QVERIFY2(
            ::mknod(QFile::encodeName(target.path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0,
            "mknod needs root");
    } else if (kind == "folder") {
        target.path = dir.path();
    } else if (kind == "refused") {
        QTcpServer gone; // closed again at the end of this block
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        target = tcpTarget(gone.serverPort());
    } else if (kind == "close") {
        target = tcpTarget(mPorts[peerPlan("close", "")]);
    }
    try {
        const PrinterStatus status = krv::comm::queryPrinterStatus(target, Bound);
        QCOMPARE(int(status.outcome), outcome);
    } catch (const krv::RuntimeError &e) {
        QVERIFY2(outcome == -1, qPrintable(e.description()));
        if (kind == "close" && e.number() == krv::comm::errors::StatusWriteFailed)
            return;
        QCOMPARE(e.number(), error);
    }
}

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
