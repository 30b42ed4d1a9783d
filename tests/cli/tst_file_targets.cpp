// The file connection as the built krv520-cli uses it: "check --file"
// agrees with what a send then does, for every kind of path, as root and as
// an unprivileged user; a file name that cannot be represented exactly is
// refused, not written under another name. Rows are numbered after the
// defects they once were.
#include "FileKinds.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

using namespace krv::test;

namespace {

bool chmodPath(const QString &path, mode_t mode) {
    return ::chmod(fsName(path).constData(), mode) == 0;
}

} // namespace

class TestFileTargets : public QObject {
    Q_OBJECT
    // The program, copied where nobody may run it: the build folder may lie
    // in a private home.
    QTemporaryDir mBin;
    QString Cli = mBin.filePath("krv520-cli");

private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("runs as root, as CI does: it makes device nodes and uses setpriv");
        QVERIFY(QFile::copy(QStringLiteral(KRV_CLI_PATH), Cli));
        QVERIFY(chmodPath(mBin.path(), 0755) && chmodPath(Cli, 0755));
    }

    void doctorAgreesWithSend_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<bool>("ok"); // both say it works, or both say it does not
        const struct {
            const char *row, *kind;
            bool asNobody, ok;
        } rows[] = {
            {"missing folder", "missing folder", false, false},
            {"12 read-only folder", "read-only folder", true, false},
            {"4 read-only file", "read-only file", true, false},
            {"12 FIFO without a reader", "fifo", false, false},
            {"FIFO with a reader", "fifo with reader", false, false},
            {"device node", "null", false, true},
            {"folder", "folder", false, false},
            {"12 full device", "full", false, false},
            {"writable file", "file", true, true},
            {"new file", "new file", true, true},
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << QString(r.kind) << r.asNobody << r.ok;
    }
    void doctorAgreesWithSend() {
        QFETCH(QString, kind);
        QFETCH(bool, asNobody);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        QVERIFY(chmodPath(dir.path(), 0777)); // nobody may create files in it
        QString path = dir.filePath("job.prn");
        int reader = -1;
        if (kind == QLatin1String("missing folder")) {
            path = dir.filePath("no/such/job.prn");
        } else if (kind == QLatin1String("read-only folder")) {
            path = dir.filePath("ro/job.prn");
            QVERIFY(QDir().mkdir(dir.filePath("ro")) && writeBytes(path, "previous"));
            QVERIFY(chmodPath(path, 0666) && chmodPath(dir.filePath("ro"), 0555));
        } else if (kind == QLatin1String("read-only file")) {
            QVERIFY(writeBytes(path, "previous") && chmodPath(path, 0444));
            QVERIFY(::chown(fsName(path).constData(), 65534, 65534) == 0); // nobody's own
        } else if (kind == QLatin1String("file")) {
            QVERIFY(writeBytes(path, "previous") && chmodPath(path, 0666));
        } else if (kind == QLatin1String("fifo with reader")) {
            QVERIFY(makeKind("fifo", path));
            reader = ::open(fsName(path).constData(), O_RDONLY | O_NONBLOCK);
        } else if (kind != QLatin1String("new file")) {
            QVERIFY(makeKind(kind, path));
        }
        const QString before = identity(path);
        const QByteArray previous = contents(path);

        QByteArray checked, sent;
        const int check = runProgram(Cli, {"check", "--file", path}, asNobody, &checked);
        const int send = runProgram(Cli, {"test-print", "--file", path}, asNobody, &sent);
        ::close(reader);
        QVERIFY2(check == (ok ? 0 : 2), checked.constData());
        QVERIFY2(send == (ok ? 0 : 2), sent.constData());
        if (!ok) {
            QCOMPARE(identity(path), before);
            QCOMPARE(contents(path), previous);
        } else if (kind != QLatin1String("null")) {
            QCOMPARE(contents(path).size(), 992); // the test page
        }
    }

    void inexactFileNamesAreRefused_data() {
        QTest::addColumn<bool>("inTargetsFile");
        QTest::newRow("8 argument") << false;
        QTest::newRow("8 targets file line") << true;
    }
    void inexactFileNamesAreRefused() {
        QFETCH(bool, inTargetsFile);
        QTemporaryDir dir, lists;
        QByteArray output;
        int code = 0;
        if (inTargetsFile) {
            // x, the byte 0xFF (never in UTF-8), .prn
            QVERIFY(writeBytes(lists.filePath("t"), "file " + fsName(dir.path()) + "/x\xff.prn"));
            code =
                runProgram(Cli, {"test-print", "--targets", lists.filePath("t")}, false, &output);
        } else {
            // QProcess would encode the name as text; the shell passes the bytes.
            const QString script = "exec \"$0\" test-print --file \"$1/x$(printf '\\377').prn\"";
            code = runProgram("/bin/sh", {"-c", script, Cli, dir.path()}, false, &output);
        }
        QVERIFY2(code == 1, output.constData());
        QCOMPARE(entries(dir.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFileTargets)
#include "tst_file_targets.moc"
