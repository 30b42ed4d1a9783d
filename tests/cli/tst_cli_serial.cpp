// The serial connection of krv520-cli: the --serial form, a real send and
// the doctor, against pseudo-terminals.
#include "CliErrors.h"
#include "ConnectionSettings.h"
#include "PtyPeer.h"
#include "RuntimeError.h"
#include "SerialPort.h"
#include "SerialTarget.h"
#include "Targets.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

using namespace krv;
using namespace std::chrono_literals;
using krv::test::Pty;

namespace {

// Exit code and output of the program, or of `prefix` (setpriv and a copy of
// the program) when given.
std::pair<int, QString> runCli(const QStringList &arguments, const QString &configHome = {},
                               const QStringList &prefix = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!configHome.isEmpty())
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    process.setProcessEnvironment(environment);
    const QStringList all =
        (prefix.isEmpty() ? QStringList{QStringLiteral(KRV_CLI_PATH)} : prefix) + arguments;
    process.start(all.first(), all.mid(1));
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(5000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

// Reads the process's output into `output` until it holds `words`, for 10 s at most.
bool waitFor(QProcess &process, const QString &words, QString *output) {
    const QDeadlineTimer deadline(10000);
    while (!output->contains(words) && !deadline.hasExpired() &&
           (process.state() != QProcess::NotRunning || process.bytesAvailable() > 0)) {
        process.waitForReadyRead(100);
        *output += QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    return output->contains(words);
}

// A lock file's traditional content: the PID alone, "%10d\n".
QByteArray pidLine(const QProcess &process) {
    return QString::asprintf("%10lld\n", process.processId()).toLatin1();
}

} // namespace

class TestCliSerial : public QObject {
    Q_OBJECT

private slots:
    void serialFormParses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("described"); // describeTarget, or what the error must name
        const char *byPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
        const struct {
            const char *row, *text, *described;
        } rows[] = {
            {"device alone", "/dev/ttyUSB0", "serial /dev/ttyUSB0:9600,8N1,none"},
            {"every part", "/dev/ttyUSB0:38400,8N1,rtscts", "serial /dev/ttyUSB0:38400,8N1,rtscts"},
            {"any case, seven bits", "/dev/ttyS1:1200,7e2,XonXoff",
             "serial /dev/ttyS1:1200,7E2,xonxoff"},
            {"speed only", "/dev/rfcomm0:115200", "serial /dev/rfcomm0:115200,8N1,none"},
            {"colons of a by-path name", byPath, nullptr},
            {"path ending in :NAME, with a speed", "/dev/odd:name:4800",
             "serial /dev/odd:name:4800,8N1,none"},
            {"speed not a number", "/dev/ttyUSB0:fast", "\"fast\""},
            {"speed with a sign", "/dev/ttyUSB0:+9600", "\"+9600\""},
            {"speed zero", "/dev/ttyUSB0:0,8N1", "\"0\""},
            {"frame", "/dev/ttyUSB0:9600,9N1", "\"9N1\""},
            {"flow", "/dev/ttyUSB0:9600,8N1,dtrdsr", "\"dtrdsr\""},
            {"too many parts", "/dev/ttyUSB0:9600,8N1,none,x", "\"9600,8N1,none,x\""},
            {"no device", ":9600", "device is missing"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << r.text
                                 << (r.described ? QString(r.described)
                                                 : "serial " + QString(byPath) + ":9600,8N1,none");
    }
    void serialFormParses() {
        QFETCH(QString, text);
        QFETCH(QString, described);
        const bool valid = described.startsWith(QLatin1String("serial "));
        try {
            const comm::ConnectionSettings target = cli::parseSerialTarget(text);
            QVERIFY2(valid, "accepted");
            QCOMPARE(cli::describeTarget(target), described);
            // The description is the targets file's line for the same connection.
            const auto listed = cli::parseTargets(described, QStringLiteral("t"));
            QVERIFY(listed.size() == 1 && listed.front() == target);
        } catch (const RuntimeError &e) {
            QVERIFY2(!valid, qPrintable(e.description()));
            QCOMPARE(e.number(), cli::errors::BadArgument);
            QVERIFY2(e.description().contains(described), qPrintable(e.description()));
        }
    }

    // The same job through the serial line as into a file, control codes and
    // bytes above 127 included, with flow control on.
    void testPageArrivesAsInAFile() {
        const Pty pty;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.bin"));
        QCOMPARE(runCli({QStringLiteral("test-print"), QStringLiteral("--file"), file}).first, 0);
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray expected = written.readAll();
        QVERIFY(expected.contains('\x1b') && expected.contains('\xff'));
        const auto [code, output] = runCli(
            {QStringLiteral("test-print"), QStringLiteral("--no-status"),
             QStringLiteral("--serial"), pty.path() + QStringLiteral(":115200,8N1,xonxoff")});
        const QString line = QStringLiteral("ok\tserial %1:115200,8N1,xonxoff\tsent %2 bytes\n")
                                 .arg(pty.path())
                                 .arg(expected.size());
        QVERIFY2(output.startsWith(line), qPrintable(output));
        QCOMPARE(code, 0);
        QCOMPARE(pty.read(expected.size() + 1, 2s), expected);
    }

    void doctorAndSend_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said"); // each must appear in the output
        QTest::newRow("free port")
            << "free" << 0 << QStringList{"is a serial port", "No other program holds it"};
        QTest::newRow("stored serial connection") << "stored" << 0 << QStringList{"holds it"};
        QTest::newRow("missing") << "missing" << 2 << QStringList{"does not exist", "ls /dev/tty"};
        QTest::newRow("held by another program")
            << "held" << 2 << QStringList{"in use by another program", "fix: \"fuser -v"};
        // As nobody, a send to a node of the terminal, mode 0660 in the group dialout.
        QTest::newRow("send to a group the user is not in")
            << "group" << 2 << QStringList{"group dialout", "sudo usermod -aG dialout $USER"};
    }
    // A port another program holds is busy, not broken: the job goes out
    // once the holder lets go.
    void busyPortIsTriedAgain() {
        const Pty pty;
        comm::SerialPort holder(comm::SerialSettings{pty.path()});
        holder.OpenPort();
        QProcess cli;
        cli.start(QStringLiteral(KRV_CLI_PATH),
                  {QStringLiteral("test-print"), QStringLiteral("--no-status"),
                   QStringLiteral("--serial"), pty.path(), QStringLiteral("--retry"),
                   QStringLiteral("2"), QStringLiteral("--retry-wait"), QStringLiteral("0.5")});
        cli.setReadChannel(QProcess::StandardError);
        QByteArray notes;
        while (!notes.contains("try 1 failed with error 1051") && cli.waitForReadyRead(10000))
            notes += cli.readAllStandardError();
        QVERIFY2(notes.contains("try 1 failed with error 1051"), notes.constData());
        holder.ClosePort();
        QCOMPARE(pty.read(992, 10s).size(), 992);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(cli.readAllStandardOutput().contains("after 2 tries"));
    }

    // A line shared with other programs and peers. DEV stands for the line,
    // PID for the other process of the row.
    void sharedLine_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("command"); // none: only the simulator's lines count
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said"); // each must appear in the output
        QTest::addColumn<QString>("notSaid");
        const auto row = [](const char *name, const char *situation, const char *command, int code,
                            const QStringList &said, const char *notSaid) {
            QTest::newRow(name) << situation << command << code << said << notSaid;
        };
        row("relative path, a link in the working folder", "relative",
            "test-print --serial printer", 0, {"sent 992 bytes"}, "does not exist");
        row("doctor on the same relative path", "relative", "check --serial printer", 0,
            {"No other program holds it"}, "does not exist");
        row("lock file with only the PID of a live process", "lock", "test-print --serial DEV", 2,
            {"1051", "is held by process PID (sleep)"}, "sent 992");
        row("SIGINT during a status query lets go of the line", "SIGINT", "test-print --serial DEV",
            0, {"sent 992 bytes"}, "1051");
        row("SIGTERM during a status query lets go of the line", "SIGTERM",
            "test-print --serial DEV", 0, {"sent 992 bytes"}, "1051");
        row("two settings batches one after the other, simulator busy", "two batches", "", 0,
            {"job 1: 22 bytes, 2 switch", "job 2: 22 bytes, 2 switch"}, "44 bytes");
        row("two pages one after the other, simulator busy", "two pages", "", 0,
            {"job 1: 12 bytes, 0 switch", "job 2: 12 bytes, 0 switch"}, "24 bytes");
        row("XOFF between status answers", "xoff", "status --serial DEV:9600,8N1,xonxoff", 7,
            {"no-answer", "did not take the request within 1000 ms"}, "bytes were left");
        row("line hangs up when asked for the status", "hang-up", "status --serial DEV", 2,
            {"failed", "hung up"}, "no-answer");
        row("line hangs up when the doctor asks", "hang-up", "check --serial DEV", 2,
            {"problem: Asking", "hung up"}, "gave no status answer");
        row("another process has it open without a lock", "open", "check --serial DEV", 2,
            {"open in another program", "process PID (sleep)"}, "No other program holds it");
    }
    void sharedLine() {
        QFETCH(QString, situation);
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        QFETCH(QString, notSaid);
        Pty pty;
        QTemporaryDir dir;
        QString device = pty.path();
        QProcess sim, holder, first, cli;
        QString simOutput;
        const auto lockOf = [](QString line) {
            return "/run/lock/LCK.." + line.mid(5).replace('/', '_');
        };
        const QString lock = lockOf(device);
        const auto stopAll = qScopeGuard([&] {
            for (QProcess *p : {&cli, &first, &holder, &sim}) {
                p->kill();
                p->waitForFinished(5000);
            }
            if (situation == "lock")
                QFile::remove(lock);
        });
        if (situation == "relative") {
            QVERIFY(QFile::link(device, dir.filePath("printer")));
            cli.setWorkingDirectory(dir.path());
        } else if (situation == "lock" || situation == "open") {
            if (situation == "open")
                holder.setStandardInputFile(device);
            holder.start("sleep", {"30"});
            QVERIFY(holder.waitForStarted(5000));
            QFile file(lock);
            QVERIFY(situation == "open" ||
                    (file.open(QIODevice::WriteOnly) && file.write(pidLine(holder)) == 11));
        } else if (situation.startsWith("two ")) {
            sim.start(KRV_SIM_PROGRAM, {"--serial"});
            QVERIFY(waitFor(sim, "listening on ", &simOutput));
            device = simOutput.section(' ', 2).trimmed();
        }
        if (situation.startsWith("SIG")) {
            // A status query waiting its second for an answer, ended by the signal.
            first.start(KRV_CLI_PATH, {"status", "--serial", device});
            QCOMPARE(pty.read(3, 10s), QByteArray("\x10\x04\x01"));
            QVERIFY(::kill(pid_t(first.processId()), situation == "SIGINT" ? SIGINT : SIGTERM) ==
                    0);
            QVERIFY(first.waitForFinished(10000));
        } else if (situation.startsWith("two ")) {
            // Both jobs wait in the line while the simulator cannot read.
            QVERIFY(::kill(pid_t(sim.processId()), SIGSTOP) == 0);
            for (int n = 0; n < 2; ++n) {
                const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
                QVERIFY(fd >= 0);
                const QByteArray job = situation == "two pages"
                                           ? QByteArray("\x1b@Hello\r\n\x1b"
                                                        "d3")
                                           : QByteArray("\x1b\x1d#+20020\n\0\x1b\x1d"
                                                        "#W00000\n",
                                                        22);
                QCOMPARE(::write(fd, job.constData(), size_t(job.size())), ssize_t(job.size()));
                ::close(fd);
            }
            QVERIFY(::kill(pid_t(sim.processId()), SIGCONT) == 0);
        }
        QString output;
        if (!command.isEmpty()) {
            cli.setProcessChannelMode(QProcess::MergedChannels);
            cli.start(KRV_CLI_PATH, command.replace("DEV", device).split(' '));
            if (situation == "hang-up" || situation == "xoff")
                QCOMPARE(pty.read(3, 10s), QByteArray("\x10\x04\x01"));
            if (situation == "hang-up")
                pty.hangUp();
            // XOFF before the answer, so the line is held when the next
            // request goes out.
            if (situation == "xoff") {
                pty.send('\x13');
                pty.send('\x12');
            }
            QVERIFY(cli.waitForFinished(20000));
            output = QString::fromLocal8Bit(cli.readAll());
            QVERIFY2(cli.exitCode() == exitCode, qPrintable(output));
        }
        if (command.isEmpty())
            waitFor(sim, said.last(), &simOutput);
        output += simOutput;
        for (QString words : said)
            QVERIFY2(output.contains(words.replace("PID", QString::number(holder.processId()))),
                     qPrintable(output));
        QVERIFY2(!output.contains(notSaid), qPrintable(output));
        if (situation == "lock") {
            QFile file(lock);
            QVERIFY2(file.open(QIODevice::ReadOnly) && file.readAll() == pidLine(holder),
                     "the other program's lock file was changed");
            QVERIFY(file.remove());
        }
        QVERIFY2(!QFile::exists(lockOf(device)), "a lock file was left behind");
    }

    void doctorAndSend() {
        QFETCH(QString, situation);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        const Pty pty;
        QTemporaryDir dir;
        QString device = pty.path();
        QString configHome;
        QStringList prefix;
        comm::SerialPort holder(comm::SerialSettings{pty.path()});
        if (situation == QLatin1String("missing")) {
            device = dir.filePath(QStringLiteral("ttyUSB9"));
        } else if (situation == QLatin1String("held")) {
            holder.OpenPort();
        } else if (situation == QLatin1String("stored")) {
            configHome = dir.path();
            comm::ConnectionSettings stored;
            stored.kind = comm::ConnectionSettings::Kind::Serial;
            stored.serial.device = device;
            comm::writeConnectionSettings(
                dir.filePath(QStringLiteral("vela/krv520-connection.conf")),
                QStringLiteral("KRV520Config"), stored);
        } else if (situation == QLatin1String("group")) {
            if (::geteuid() != 0)
                QSKIP("needs root to make a device node and act as nobody");
            // The program, copied where nobody may run it, beside the node.
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
            const QString program = dir.filePath(QStringLiteral("krv520-cli"));
            QVERIFY(QFile::copy(QStringLiteral(KRV_CLI_PATH), program));
            struct stat st {};
            QVERIFY(::fstat(pty.slave(), &st) == 0);
            device = dir.filePath(QStringLiteral("ttyS7"));
            const QByteArray node = QFile::encodeName(device);
            QVERIFY(::mknod(node.constData(), S_IFCHR | 0660, st.st_rdev) == 0);
            QVERIFY(::chown(node.constData(), 0, 20) == 0 && ::chmod(node.constData(), 0660) == 0);
            prefix = QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                                 QStringLiteral("--regid=nogroup"),
                                 QStringLiteral("--clear-groups"), program};
        }
        QStringList arguments{prefix.isEmpty() ? QStringLiteral("check")
                                               : QStringLiteral("test-print")};
        if (configHome.isEmpty())
            arguments << QStringLiteral("--serial") << device;
        const auto [code, output] = runCli(arguments, configHome, prefix);
        QVERIFY2(code == exitCode, qPrintable(output));
        for (const QString &words : said)
            QVERIFY2(output.contains(words), qPrintable(output));
        QVERIFY2(output.contains(device), qPrintable(output));
        // The doctor sends nothing a printer prints: once the line passes, the
        // first status request, which nobody answers here.
        QCOMPARE(pty.read(4, 100ms),
                 exitCode == 0 && prefix.isEmpty() ? QByteArray("\x10\x04\x01") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestCliSerial)
#include "tst_cli_serial.moc"
