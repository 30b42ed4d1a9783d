// The serial connection of krv520-cli: the --serial form and its targets
// file line, a real send and the doctor, against pseudo-terminals.
#include "CliErrors.h"
#include "ConnectionSettings.h"
#include "PtyPeer.h"
#include "RuntimeError.h"
#include "SerialPort.h"
#include "SerialTarget.h"
#include "Targets.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace krv;
using namespace std::chrono_literals;
using krv::test::Pty;

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

// As root, or through setpriv as the user `asUser` names; `program` is a
// copy of the program where that user may run it.
Run runCli(const QStringList &arguments, const QString &configHome = QString(),
           const QStringList &asUser = {}, const QString &program = QStringLiteral(KRV_CLI_PATH)) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!configHome.isEmpty())
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    process.setProcessEnvironment(environment);
    if (asUser.isEmpty())
        process.start(program, arguments);
    else
        process.start(QStringLiteral("setpriv"), asUser + QStringList{program} + arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(5000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

} // namespace

class TestCliSerial : public QObject {
    Q_OBJECT

private slots:
    void serialFormParses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("described"); // describeTarget, "" for an error
        QTest::addColumn<QString>("badPart");   // what the error must name
        QTest::newRow("device alone") << "/dev/ttyUSB0"
                                      << "/dev/ttyUSB0"
                                      << "serial /dev/ttyUSB0:9600,8N1,none"
                                      << "";
        QTest::newRow("every part") << "/dev/ttyUSB0:38400,8N1,rtscts"
                                    << "/dev/ttyUSB0"
                                    << "serial /dev/ttyUSB0:38400,8N1,rtscts"
                                    << "";
        QTest::newRow("lower case, seven bits") << "/dev/ttyS1:1200,7e2,XonXoff"
                                                << "/dev/ttyS1"
                                                << "serial /dev/ttyS1:1200,7E2,xonxoff"
                                                << "";
        QTest::newRow("speed only") << "/dev/rfcomm0:115200"
                                    << "/dev/rfcomm0"
                                    << "serial /dev/rfcomm0:115200,8N1,none"
                                    << "";
        const QString byPath =
            QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
        QTest::newRow("colons in a by-path name")
            << byPath << byPath << "serial " + byPath + ":9600,8N1,none"
            << "";
        QTest::newRow("path ending in a colon name, given a speed")
            << "/dev/odd:name:4800"
            << "/dev/odd:name"
            << "serial /dev/odd:name:4800,8N1,none"
            << "";
        QTest::newRow("speed not a number") << "/dev/ttyUSB0:fast"
                                            << ""
                                            << ""
                                            << "\"fast\"";
        QTest::newRow("speed with a sign") << "/dev/ttyUSB0:+9600"
                                           << ""
                                           << ""
                                           << "\"+9600\"";
        QTest::newRow("speed zero") << "/dev/ttyUSB0:0,8N1"
                                    << ""
                                    << ""
                                    << "\"0\"";
        QTest::newRow("frame") << "/dev/ttyUSB0:9600,9N1"
                               << ""
                               << ""
                               << "\"9N1\"";
        QTest::newRow("flow") << "/dev/ttyUSB0:9600,8N1,dtrdsr"
                              << ""
                              << ""
                              << "\"dtrdsr\"";
        QTest::newRow("too many parts") << "/dev/ttyUSB0:9600,8N1,none,x"
                                        << ""
                                        << ""
                                        << "\"9600,8N1,none,x\"";
        QTest::newRow("no device") << ":9600"
                                   << ""
                                   << ""
                                   << "device is missing";
    }
    void serialFormParses() {
        QFETCH(QString, text);
        QFETCH(QString, device);
        QFETCH(QString, described);
        QFETCH(QString, badPart);
        try {
            const comm::ConnectionSettings target = cli::parseSerialTarget(text);
            QVERIFY2(badPart.isEmpty(), "accepted");
            QCOMPARE(target.serial.device, device);
            QCOMPARE(cli::describeTarget(target), described);
            // The description is the targets file's line for the same connection.
            const auto listed = cli::parseTargets(described, QStringLiteral("t"));
            QCOMPARE(listed.size(), std::size_t(1));
            QVERIFY(listed.front() == target);
        } catch (const RuntimeError &e) {
            QVERIFY2(!badPart.isEmpty(), qPrintable(e.description()));
            QCOMPARE(e.number(), cli::errors::BadArgument);
            QVERIFY2(e.description().contains(badPart), qPrintable(e.description()));
        }
    }

    void badTargetsLineNamesFileAndLine() {
        try {
            (void)cli::parseTargets(QStringLiteral("tcp 10.0.0.1\nserial /dev/ttyS0:9600,8Q1\n"),
                                    QStringLiteral("shop.txt"));
            QFAIL("accepted");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), cli::errors::TargetsSyntax);
            QVERIFY2(e.description().startsWith(QLatin1String("shop.txt:2: ")) &&
                         e.description().contains(QLatin1String("\"8Q1\"")),
                     qPrintable(e.description()));
        }
    }

    // The same job through the serial line as into a file, control codes and
    // bytes above 127 included, with flow control on.
    void testPageArrivesAsInAFile() {
        const Pty pty;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.bin"));
        QCOMPARE(runCli({QStringLiteral("test-print"), QStringLiteral("--file"), file}).exitCode,
                 0);
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray expected = written.readAll();
        QVERIFY(expected.contains('\x1b') && expected.contains('\xff')); // ESC and a high byte
        const Run run = runCli({QStringLiteral("test-print"), QStringLiteral("--serial"),
                                pty.path() + QStringLiteral(":115200,8N1,xonxoff")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.startsWith(QStringLiteral("ok\tserial %1:115200,8N1,xonxoff\tsent %2 "
                                                      "bytes")
                                           .arg(pty.path())
                                           .arg(expected.size())),
                 qPrintable(run.output));
        QCOMPARE(pty.read(expected.size() + 1, 2s), expected);
    }

    void doctor_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said"); // each must appear in the output
        QTest::newRow("free port")
            << "free" << 0 << QStringList{"is a serial port", "No other program holds it"};
        QTest::newRow("stored serial connection")
            << "stored" << 0 << QStringList{"No other program holds it"};
        QTest::newRow("missing") << "missing" << 2
                                 << QStringList{"does not exist", "fix: ", "ls /dev/ttyUSB*"};
        QTest::newRow("not a terminal") << "file" << 2 << QStringList{"not a serial port"};
        QTest::newRow("held by another program")
            << "held" << 2 << QStringList{"in use by another program", "fuser -v"};
        QTest::newRow("group the user is not in")
            << "group" << 2 << QStringList{"group dialout", "sudo usermod -aG dialout"};
    }
    void doctor() {
        QFETCH(QString, situation);
        QFETCH(int, exitCode);
        QFETCH(QStringList, said);
        const Pty pty;
        QTemporaryDir dir;
        QString device = pty.path();
        QString configHome;
        QStringList asUser;
        QString program = QStringLiteral(KRV_CLI_PATH);
        comm::SerialPort holder(comm::SerialSettings{pty.path()});
        if (situation == QLatin1String("missing")) {
            device = dir.filePath(QStringLiteral("ttyUSB9"));
        } else if (situation == QLatin1String("file")) {
            device = dir.filePath(QStringLiteral("plain"));
            QFile(device).open(QIODevice::WriteOnly);
        } else if (situation == QLatin1String("held")) {
            holder.OpenPort();
        } else if (situation == QLatin1String("stored")) {
            configHome = dir.path();
            comm::ConnectionSettings stored;
            stored.kind = comm::ConnectionSettings::Kind::Serial;
            stored.serial.device = pty.path();
            comm::writeConnectionSettings(
                dir.filePath(QStringLiteral("vela/krv520-connection.conf")),
                QStringLiteral("KRV520Config"), stored);
        } else if (situation == QLatin1String("group")) {
            if (::geteuid() != 0 ||
                QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
                QSKIP("needs root and setpriv to act as another user");
            // A node of the pseudo-terminal, mode 0660 in the group dialout,
            // where nobody can reach it.
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
            struct stat st {};
            QVERIFY(::fstat(pty.slave(), &st) == 0);
            device = dir.filePath(QStringLiteral("ttyS7"));
            const QByteArray name = QFile::encodeName(device);
            QVERIFY(::mknod(name.constData(), S_IFCHR | 0660, st.st_rdev) == 0);
            QVERIFY(::chown(name.constData(), 0, 20) == 0 && ::chmod(name.constData(), 0660) == 0);
            program = dir.filePath(QStringLiteral("krv520-cli"));
            QVERIFY(QFile::copy(QStringLiteral(KRV_CLI_PATH), program));
            QVERIFY(::chmod(QFile::encodeName(program).constData(), 0755) == 0);
            asUser =
                QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                            QStringLiteral("--clear-groups")};
        }
        QStringList arguments{QStringLiteral("check")};
        if (configHome.isEmpty())
            arguments << QStringLiteral("--serial") << device;
        const Run run = runCli(arguments, configHome, asUser, program);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.output));
        for (const QString &words : said)
            QVERIFY2(run.output.contains(words), qPrintable(run.output));
        QVERIFY2(run.output.contains(device), qPrintable(run.output));
        QCOMPARE(pty.read(1, 100ms), QByteArray()); // the doctor sends nothing
    }
};

QTEST_GUILESS_MAIN(TestCliSerial)
#include "tst_cli_serial.moc"
