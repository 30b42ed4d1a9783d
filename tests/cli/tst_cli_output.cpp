// What the built programs write and what they take from the operator: output
// that cannot be written, files the virtual printer cannot write or read,
// input repeated in messages, ports.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Cli = QStringLiteral(KRV_CLI_PATH);
const QString Sim = QStringLiteral(KRV_SIM_PROGRAM);

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

enum class Full { None, Stdout, Stderr };

Run run(const QString &program, const QStringList &arguments, Full full = Full::None) {
    QProcess process;
    if (full == Full::Stdout)
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    if (full == Full::Stderr)
        process.setStandardErrorFile(QStringLiteral("/dev/full"));
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QString describe(const Run &r) {
    return QStringLiteral("exit %1, stdout %2 bytes, stderr: %3")
        .arg(r.exitCode)
        .arg(r.out.size())
        .arg(QString::fromUtf8(r.err.left(600)));
}

} // namespace

class TestCliOutput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(mDir.isValid());
        // A store of the tests' own, never the operator's.
        qputenv("XDG_CONFIG_HOME", mDir.filePath(QStringLiteral("config")).toLocal8Bit());
    }

    void unwritableOutputFails_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Full>("full");
        const QString sent = mDir.filePath(QStringLiteral("sent.bin"));
        QTest::newRow("list") << Cli << QStringList{"list"} << Full::Stdout;
        QTest::newRow("help topic") << Cli << QStringList{"help", "Print Speed"} << Full::Stdout;
        QTest::newRow("--help") << Cli << QStringList{"--help"} << Full::Stdout;
        QTest::newRow("--version") << Cli << QStringList{"--version"} << Full::Stdout;
        QTest::newRow("profile template") << Cli << QStringList{"profile"} << Full::Stdout;
        QTest::newRow("download --dry-run")
            << Cli << QStringList{"download", "--set", "cmbSpeed=3", "--dry-run"} << Full::Stdout;
        QTest::newRow("test-print --dry-run")
            << Cli << QStringList{"test-print", "--dry-run"} << Full::Stdout;
        QTest::newRow("result line")
            << Cli << QStringList{"download", "--set", "cmbSpeed=3", "--file", sent}
            << Full::Stdout;
        QTest::newRow("usage error on a full stderr")
            << Cli << QStringList{"nonsense"} << Full::Stderr;
        QTest::newRow("simulator test page") << Sim << QStringList{"--test-page"} << Full::Stdout;
    }
    void unwritableOutputFails() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(Full, full);
        const Run r = run(program, arguments, full);
        QVERIFY2(r.exitCode == 2, qPrintable(describe(r)));
        if (full == Full::Stdout)
            QVERIFY2(r.err.contains("standard output"), qPrintable(describe(r)));
    }

    void simulatorFilesFail_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString missing = mDir.filePath(QStringLiteral("missing/receipt-%1.png"));
        QFile big(mDir.filePath(QStringLiteral("big.bin")));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(17 * 1024 * 1024));
        QTest::newRow("png in a missing folder, test page")
            << QStringList{"--test-page", "--png", missing} << "missing";
        QTest::newRow("png in a missing folder, server")
            << QStringList{"--port", "0", "--once", "--png", missing} << "missing";
        QTest::newRow("png on a full device")
            << QStringList{"--test-page", "--png", "/dev/full"} << "cannot write the receipt";
        QTest::newRow("log on a full device, test page")
            << QStringList{"--test-page", "--log", "/dev/full"} << "cannot write the log";
        QTest::newRow("log on a full device, server")
            << QStringList{"--port", "0", "--once", "--log", "/dev/full"} << "cannot write the log";
        QTest::newRow("decode a device")
            << QStringList{"--decode", "/dev/zero"} << "not a regular file";
        QTest::newRow("decode a file too large")
            << QStringList{"--decode", big.fileName()} << "more than";
    }
    void simulatorFilesFail() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run r = run(Sim, arguments);
        QVERIFY2(r.exitCode == 2, qPrintable(describe(r)));
        QVERIFY2(r.err.contains(message.toUtf8()) || r.out.contains(message.toUtf8()),
                 qPrintable(describe(r) + QStringLiteral(", stdout: ") +
                            QString::fromUtf8(r.out.left(600))));
    }

    void inputIsQuotedShortAndEscaped_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("file"); // written to input.txt first, when not empty
        QTest::addColumn<QString>("expected");
        const QString input = mDir.filePath(QStringLiteral("input.txt"));
        const QStringList profile{"download", "--profile", input, "--dry-run"};
        // Near the system's limit for one argument (128 KiB).
        QTest::newRow("a 100 000-character entry")
            << QStringList{"download", "--set", "Print Speed=" + QString(100000, u'x'), "--dry-run"}
            << QByteArray() << QStringLiteral("\"xxxxx");
        QTest::newRow("escape bytes in a profile")
            << profile << QByteArray("Print Speed=\x1b[2J\x1b]0;owned\x07\n")
            << QStringLiteral("\\x1b[2J\\x1b]0;owned\\x07");
        QTest::newRow("tab in a command") << QStringList{"li\tst"} << QByteArray()
                                          << QStringLiteral("\"li\\tst\" is not a command");
        QTest::newRow("NUL in a profile entry")
            << profile << QByteArray("Print Speed=Low (50mm/s)\0\n", 26)
            << QStringLiteral(":1: the choice contains a NUL byte");
        QTest::newRow("NUL in a targets line")
            << QStringList{"download", "--set", "cmbSpeed=3", "--targets", input}
            << QByteArray("tcp 127.0.0.1\0:9\n", 17)
            << QStringLiteral(":1: the line contains a NUL byte");
    }
    void inputIsQuotedShortAndEscaped() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        writeInput(file);
        const Run r = run(Cli, arguments);
        QVERIFY2(r.exitCode == 1, qPrintable(describe(r)));
        QVERIFY2(r.out.isEmpty(), qPrintable(describe(r)));
        QVERIFY2(r.err.size() < 1000, qPrintable(describe(r)));
        QVERIFY2(QString::fromUtf8(r.err).contains(expected), qPrintable(describe(r)));
        // Nothing but the line ends reaches the terminal raw.
        QVERIFY2(rawControlByte(r.err, false) < 0, qPrintable(describe(r)));
    }

    // What a target, path or description repeats never acts on the terminal,
    // whichever output it goes through; numbers take any leading zeros.
    void outsideTextIsEscapedEverywhere_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("file"); // written to input.txt first, when not empty
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");
        const QString input = mDir.filePath(QStringLiteral("input.txt"));
        const QString evil = QStringLiteral("\x1b[2J\x1b]0;owned\x07");
        const QString shown = QStringLiteral("\\x1b[2J\\x1b]0;owned\\x07");
        const QString missing = mDir.filePath(QStringLiteral("missing") + evil + "/x");
        const QString existing = mDir.filePath(evil);
        QFile(existing).open(QIODevice::WriteOnly);
        const QStringList download{"download", "--set", "cmbSpeed=3"};
        QTest::newRow("result line and count")
            << Cli << download + QStringList{"--file", missing} << QByteArray() << 2 << shown;
        QTest::newRow("targets file line") << Cli << download + QStringList{"--targets", input}
                                           << ("file " + missing + "\n").toUtf8() << 2 << shown;
        QTest::newRow("status line")
            << Cli << QStringList{"status", "--file", existing} << QByteArray() << 7 << shown;
        QTest::newRow("check report")
            << Cli << QStringList{"check", "--file", missing} << QByteArray() << 2 << shown;
        QTest::newRow("profile written")
            << Cli << QStringList{"profile", existing + ".profile"} << QByteArray() << 0 << shown;
        QTest::newRow("error of a file that cannot be read")
            << Cli << download + QStringList{"--profile", missing} << QByteArray() << 2 << shown;
        QTest::newRow("--jobs with leading zeros")
            << Cli << download + QStringList{"--dry-run", "--jobs", "0000000001"} << QByteArray()
            << 0 << "Print Speed: Low (50mm/s)";
        QTest::newRow("sim --hold-ms without --xoff-after")
            << Sim << QStringList{"--serial", "--hold-ms", "100"} << QByteArray() << 2
            << "--hold-ms needs --xoff-after";
    }
    void outsideTextIsEscapedEverywhere() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, file);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        writeInput(file);
        const Run r = run(program, arguments);
        QVERIFY2(r.exitCode == exitCode, qPrintable(describe(r)));
        QVERIFY2(QString::fromUtf8(r.out + r.err).contains(expected), qPrintable(describe(r)));
        // Only the line ends and the fields' tabs reach the terminal raw.
        QVERIFY2(rawControlByte(r.out + r.err, true) < 0, qPrintable(describe(r)));
    }

    void portIsDigitsOnly_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        const QStringList download{"download", "--set", "cmbSpeed=3", "--dry-run", "--tcp"};
        QTest::newRow("cli +80") << Cli << download + QStringList{"127.0.0.1:+80"} << 1;
        QTest::newRow("cli blank 80") << Cli << download + QStringList{"127.0.0.1: 80"} << 1;
        QTest::newRow("cli IPv6 +80") << Cli << download + QStringList{"[::1]:+80"} << 1;
        QTest::newRow("sim +0") << Sim << QStringList{"--test-page", "--port", "+0"} << 2;
        QTest::newRow("sim blank 0") << Sim << QStringList{"--test-page", "--port", " 0"} << 2;
    }
    void portIsDigitsOnly() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const Run r = run(program, arguments);
        QVERIFY2(r.exitCode == exitCode, qPrintable(describe(r)));
        QVERIFY2(r.err.contains("port"), qPrintable(describe(r)));
    }

private:
    // Writes input.txt, which a row's arguments may name, unless `file` is empty.
    void writeInput(const QByteArray &file) {
        QFile f(mDir.filePath(QStringLiteral("input.txt")));
        if (!file.isEmpty() &&
            !(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(file) > 0))
            QFAIL("cannot write input.txt");
    }
    // The first control byte other than a line end (and a tab, where tabs
    // part the fields) in what the programs wrote; -1 when there is none.
    static int rawControlByte(const QByteArray &output, bool tabs) {
        for (const char c : output)
            if (c != '\n' && !(tabs && c == '\t') && static_cast<unsigned char>(c) < 0x20)
                return static_cast<unsigned char>(c);
        return -1;
    }

    QTemporaryDir mDir;
};

QTEST_GUILESS_MAIN(TestCliOutput)
#include "tst_cli_output.moc"
