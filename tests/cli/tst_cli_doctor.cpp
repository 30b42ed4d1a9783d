// The connection doctor: its verdicts on what the system reports, and real
// tries against loopback listeners.
#include "Doctor.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace krv::cli;

Q_DECLARE_METATYPE(PathFacts)
Q_DECLARE_METATYPE(QueueFacts)
Q_DECLARE_METATYPE(Problem)

namespace {

PathFacts device(bool writable, bool groupCanWrite, bool inGroupNow, bool inGroupListed) {
    PathFacts f;
    f.exists = true;
    f.isDevice = true;
    f.writable = writable;
    f.ownerGroup = "lp";
    f.groupCanWrite = groupCanWrite;
    f.inGroupNow = inGroupNow;
    f.inGroupListed = inGroupListed;
    f.user = "tech";
    return f;
}

QueueFacts queue(int state, bool accepting, const QString &model) {
    QueueFacts f;
    f.schedulerReachable = true;
    f.scheduler = "localhost";
    f.requested = "KRV520";
    f.queue = "KRV520";
    f.exists = true;
    f.state = state;
    f.accepting = accepting;
    f.makeAndModel = model;
    f.queues = {"KRV520", "Office"};
    return f;
}

// A port with nothing listening on it.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

} // namespace

class TestCliDoctor : public QObject {
    Q_OBJECT
private slots:
    void pathVerdicts_data();
    void pathVerdicts();
    void queueVerdicts_data();
    void queueVerdicts();
    void pathFactsOfRealFiles();
    void tcpListenerGetsOnlyStatusRequest();
    void tcpRefused();
    void tcpNoAnswer();
    void tcpBadHostName();
    void tcpIncomplete();
    void reportSaysWhatAndHow();
};

void TestCliDoctor::pathVerdicts_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<PathFacts>("facts");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<QString>("advice"); // a phrase the fix must contain

    PathFacts missing;
    QTest::newRow("device missing")
        << "/dev/usb/lp0" << missing << false << Problem::PathMissing << "ls /dev/usb/lp*";
    QTest::newRow("no path") << "" << missing << false << Problem::IncompleteSettings << "--file";
    PathFacts newFile;
    newFile.folderExists = true;
    newFile.writable = true;
    QTest::newRow("new file") << "/tmp/job.bin" << newFile << true << Problem::PathMissing << "";
    PathFacts noFolder;
    QTest::newRow("folder missing")
        << "/nowhere/job.bin" << noFolder << false << Problem::FolderMissing << "folder";
    PathFacts readOnlyFolder;
    readOnlyFolder.folderExists = true;
    QTest::newRow("folder not writable")
        << "/srv/job.bin" << readOnlyFolder << false << Problem::NotWritable << "";
    PathFacts folder;
    folder.exists = true;
    folder.isFolder = true;
    QTest::newRow("folder") << "/dev/usb" << folder << false << Problem::PathIsFolder << "";
    QTest::newRow("writable device")
        << "/dev/usb/lp0" << device(true, true, true, true) << true << Problem::PathMissing << "";
    QTest::newRow("not in the group")
        << "/dev/usb/lp0" << device(false, true, false, false) << false << Problem::NotInOwnerGroup
        << "sudo usermod -aG lp tech";
    QTest::newRow("added but not logged in again")
        << "/dev/usb/lp0" << device(false, true, false, true) << false
        << Problem::GroupNeedsNewLogin << "Log out and in again";
    QTest::newRow("group may not write either")
        << "/dev/usb/lp0" << device(false, false, false, false) << false << Problem::NotWritable
        << "";
    QTest::newRow("in the group, still not writable")
        << "/dev/usb/lp0" << device(false, true, true, true) << false << Problem::NotWritable << "";
}

void TestCliDoctor::pathVerdicts() {
    QFETCH(QString, path);
    QFETCH(PathFacts, facts);
    QFETCH(bool, ok);
    QFETCH(Problem, problem);
    QFETCH(QString, advice);
    const CheckReport report = diagnosePath(path, facts);
    QCOMPARE(report.ok(), ok);
    if (ok) {
        QVERIFY(!report.passed.isEmpty());
        return;
    }
    QCOMPARE(report.problems.size(), std::size_t(1));
    QCOMPARE(report.problems[0].problem, problem);
    QVERIFY2(report.problems[0].fix.contains(advice), qPrintable(report.problems[0].fix));
}

void TestCliDoctor::queueVerdicts_data() {
    QTest::addColumn<QueueFacts>("facts");
    QTest::addColumn<QList<Problem>>("problems");
    QTest::addColumn<QString>("advice");

    QTest::newRow("raw and idle") << queue(3, true, "Local Raw Printer") << QList<Problem>{} << "";
    QTest::newRow("printing") << queue(4, true, "Local Raw Printer") << QList<Problem>{} << "";
    QTest::newRow("no driver named") << queue(3, true, "") << QList<Problem>{} << "";
    QTest::newRow("paused") << queue(5, true, "Local Raw Printer")
                            << QList<Problem>{Problem::QueuePaused} << "cupsenable KRV520";
    QTest::newRow("rejecting") << queue(3, false, "Local Raw Printer")
                               << QList<Problem>{Problem::QueueRejecting} << "cupsaccept KRV520";
    QTest::newRow("driver") << queue(3, true, "Generic Text-Only Printer")
                            << QList<Problem>{Problem::QueueNotRaw} << "lpadmin -p KRV520 -E -v";
    QTest::newRow("paused, rejecting, driver")
        << queue(5, false, "Test Driver Printer")
        << QList<Problem>{Problem::QueuePaused, Problem::QueueRejecting, Problem::QueueNotRaw}
        << "cupsenable";

    QueueFacts missing = queue(3, true, "");
    missing.exists = false;
    QTest::newRow("missing") << missing << QList<Problem>{Problem::QueueMissing} << "lpstat -p";
    missing.requested.clear();
    QTest::newRow("no default") << missing << QList<Problem>{Problem::NoDefaultQueue}
                                << "lpoptions -d";
    QueueFacts down;
    QTest::newRow("no spooler") << down << QList<Problem>{Problem::SpoolerUnavailable}
                                << "systemctl start cups";
}

void TestCliDoctor::queueVerdicts() {
    QFETCH(QueueFacts, facts);
    QFETCH(QList<Problem>, problems);
    QFETCH(QString, advice);
    const CheckReport report = diagnoseQueue(facts);
    QList<Problem> found;
    QString fixes;
    for (const Finding &f : report.problems) {
        found.append(f.problem);
        fixes += f.fix;
    }
    QCOMPARE(found, problems);
    QVERIFY2(fixes.contains(advice), qPrintable(fixes));
}

void TestCliDoctor::pathFactsOfRealFiles() {
    QTemporaryDir dir;
    const QString file = dir.filePath("job.bin");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    PathFacts facts = gatherPathFacts(file);
    QVERIFY(facts.exists && !facts.isFolder && !facts.isDevice && facts.writable);
    QVERIFY(
        checkConnection({krv::comm::ConnectionSettings::Kind::File, {}, {}, 9100, file, {}}).ok());

    facts = gatherPathFacts(dir.filePath("new.bin"));
    QVERIFY(!facts.exists && facts.folderExists && facts.writable);

    facts = gatherPathFacts(dir.filePath("no/such/new.bin"));
    QVERIFY(!facts.exists && !facts.folderExists);

    facts = gatherPathFacts(dir.path());
    QVERIFY(facts.exists && facts.isFolder);

    facts = gatherPathFacts("/dev/null");
    QVERIFY(facts.exists && facts.isDevice && facts.writable);
    QVERIFY(!facts.ownerGroup.isEmpty());
}

// A listener that never answers gets the first status request and nothing
// it would print; its silence is a note, not a problem.
void TestCliDoctor::tcpListenerGetsOnlyStatusRequest() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    CheckOptions options;
    options.statusBound = std::chrono::milliseconds(200);
    const CheckReport report = checkTcp("127.0.0.1", server.serverPort(), options);
    QVERIFY2(report.ok(), qPrintable(formatReport(report)));
    QVERIFY2(formatReport(report).contains("note: The printer gave no status answer"),
             qPrintable(formatReport(report)));

    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(peer);
    if (peer->state() == QAbstractSocket::ConnectedState)
        peer->waitForDisconnected(5000);
    QCOMPARE(peer->readAll(), QByteArray("\x10\x04\x01"));
}

void TestCliDoctor::tcpRefused() {
    const CheckReport report = checkTcp("127.0.0.1", closedPort());
    QVERIFY(report.has(Problem::ConnectionRefused));
    QVERIFY(report.problems[0].fix.contains("9100"));
}

// A listener whose backlog is full drops new connection attempts, which is
// what a printer behind a dropping firewall looks like.
void TestCliDoctor::tcpNoAnswer() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QVERIFY(::listen(listener, 0) == 0);
    socklen_t length = sizeof address;
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    const quint16 port = ntohs(address.sin_port);

    QList<QTcpSocket *> fillers;
    for (int i = 0; i < 3; ++i) {
        auto *filler = new QTcpSocket(this);
        filler->connectToHost(QHostAddress::LocalHost, port);
        filler->waitForConnected(300);
        fillers.append(filler);
    }
    const CheckReport report = checkTcp("127.0.0.1", port, {std::chrono::milliseconds(500)});
    qDeleteAll(fillers);
    ::close(listener);
    QVERIFY2(report.has(Problem::ConnectTimeout), qPrintable(formatReport(report)));
}

// A name with an empty label is refused before any name server is asked.
void TestCliDoctor::tcpBadHostName() {
    const CheckReport report = checkTcp("printer..invalid", 9100);
    QVERIFY2(report.has(Problem::HostNotFound), qPrintable(formatReport(report)));
    QVERIFY(report.problems[0].what.contains("printer..invalid"));
}

void TestCliDoctor::tcpIncomplete() {
    QVERIFY(checkTcp("", 9100).has(Problem::IncompleteSettings));
    QVERIFY(checkTcp("127.0.0.1", 0).has(Problem::IncompleteSettings));
}

void TestCliDoctor::reportSaysWhatAndHow() {
    CheckReport report;
    report.passed = {"The device /dev/usb/lp0 exists."};
    report.problems.push_back({Problem::NotWritable, "Cannot write.", "Ask."});
    QCOMPARE(formatReport(report), QString("  ok: The device /dev/usb/lp0 exists.\n"
                                           "  problem: Cannot write.\n"
                                           "  fix: Ask.\n"));
}

QTEST_GUILESS_MAIN(TestCliDoctor)
#include "tst_cli_doctor.moc"
