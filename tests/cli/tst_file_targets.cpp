// The file connection as the built krv520-cli uses it: what "check --file"
// says agrees with what a send then does, for every kind of path, as root
// and as an unprivileged user; and a file name that cannot be represented
// exactly is refused rather than written under another name.
#include "FileKinds.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace krv::test;

namespace {

const QString Cli = QStringLiteral(KRV_CLI_PATH);
constexpr int TestPageBytes = 992;

QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

} // namespace

class TestFileTargets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("runs as root, as CI does: it makes device nodes, mounts and uses setpriv");
    }
    void doctorAgreesWithSend_data();
    void doctorAgreesWithSend();
    void inexactFileNamesAreRefused_data();
    void inexactFileNamesAreRefused();
};

void TestFileTargets::doctorAgreesWithSend_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("asNobody");
    QTest::addColumn<bool>("ok"); // both say it works, or both say it does not
    QTest::newRow("missing folder") << "missing folder" << false << false;
    QTest::newRow("12 read-only folder") << "read-only folder" << true << false;
    QTest::newRow("4 read-only file") << "read-only file" << true << false;
    QTest::newRow("12 FIFO without a reader") << "fifo" << false << false;
    QTest::newRow("FIFO with a reader") << "fifo with reader" << false << false;
    QTest::newRow("device node") << "device" << false << true;
    QTest::newRow("folder") << "folder" << false << false;
    QTest::newRow("12 full device") << "full device" << false << false;
    QTest::newRow("writable file") << "file" << true << true;
    QTest::newRow("new file") << "new file" << true << true;
}

void TestFileTargets::doctorAgreesWithSend() {
    QFETCH(QString, kind);
    QFETCH(bool, asNobody);
    QFETCH(bool, ok);
    QTemporaryDir dir;
    // nobody may look into the folder, and create files in it (0777) unless
    // it is the read-only one (0555).
    QVERIFY(::chmod(fsName(dir.path()).constData(), 0777) == 0);
    QString path = dir.filePath("job.prn");
    int reader = -1;
    if (kind == QLatin1String("missing folder")) {
        path = dir.filePath("no/such/job.prn");
    } else if (kind == QLatin1String("read-only folder")) {
        QVERIFY(QDir().mkdir(dir.filePath("ro")));
        path = dir.filePath("ro/job.prn");
        QVERIFY(writeBytes(path, "previous") && ::chmod(fsName(path).constData(), 0666) == 0);
        QVERIFY(::chmod(fsName(dir.filePath("ro")).constData(), 0555) == 0);
    } else if (kind == QLatin1String("read-only file")) {
        QVERIFY(writeBytes(path, "previous"));
        QVERIFY(::chown(fsName(path).constData(), 65534, 65534) == 0 &&
                ::chmod(fsName(path).constData(), 0444) == 0);
    } else if (kind.startsWith(QLatin1String("fifo"))) {
        QVERIFY(makeFifo(path));
        if (kind == QLatin1String("fifo with reader"))
            reader = ::open(fsName(path).constData(), O_RDONLY | O_NONBLOCK);
    } else if (kind == QLatin1String("device")) {
        QVERIFY(makeDevice(path, 3));
    } else if (kind == QLatin1String("full device")) {
        QVERIFY(makeDevice(path, 7));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QLatin1String("file")) {
        QVERIFY(writeBytes(path, "previous") && ::chmod(fsName(path).constData(), 0666) == 0);
    }
    const QString before = identity(path);
    const QByteArray previous = contents(path);

    QByteArray checkOutput, sendOutput;
    const int check = runProgram(Cli, {"check", "--file", path}, asNobody, &checkOutput);
    const int send = runProgram(Cli, {"test-print", "--file", path}, asNobody, &sendOutput);
    if (reader >= 0)
        ::close(reader);
    QVERIFY2(check == (ok ? 0 : 2), checkOutput.constData());
    QVERIFY2(send == (ok ? 0 : 2), sendOutput.constData());
    if (!ok) {
        QCOMPARE(identity(path), before);
        QCOMPARE(contents(path), previous);
    } else if (kind != QLatin1String("device")) {
        QCOMPARE(contents(path).size(), TestPageBytes);
    }
}

void TestFileTargets::inexactFileNamesAreRefused_data() {
    QTest::addColumn<bool>("inTargetsFile");
    QTest::newRow("8 argument") << false;
    QTest::newRow("8 targets file line") << true;
}

void TestFileTargets::inexactFileNamesAreRefused() {
    QFETCH(bool, inTargetsFile);
    QTemporaryDir dir, lists;
    // x, the byte 0xFF (never valid UTF-8), .prn
    const QByteArray name = fsName(dir.path()) + "/x\xff.prn";
    QStringList arguments;
    if (inTargetsFile) {
        QVERIFY(writeBytes(lists.filePath("targets"), "file " + name + '\n'));
        arguments = QStringList{"test-print", "--targets", lists.filePath("targets")};
    } else {
        // QProcess would encode the name as text; the shell hands over the bytes.
        arguments = QStringList{"-c", "exec \"$0\" test-print --file \"$1/x$(printf '\\377').prn\"",
                                Cli, dir.path()};
    }
    QByteArray output;
    const int code =
        runProgram(inTargetsFile ? Cli : QStringLiteral("/bin/sh"), arguments, false, &output);
    QVERIFY2(code == 1, output.constData());
    QCOMPARE(entries(dir.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestFileTargets)
#include "tst_file_targets.moc"
