// Profiles, targets files, the dry-run listing and the command line: the
// text a technician writes and reads.
#include "CliErrors.h"
#include "CliTestSupport.h"
#include "CommandLine.h"
#include "DryRun.h"
#include "Fleet.h"
#include "Profile.h"
#include "RuntimeError.h"
#include "SettingsBatch.h"
#include "Targets.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using krv::RuntimeError;
namespace settings = krv::settings;
namespace comm = krv::comm;
using namespace krv::cli;
using namespace krv::profile;
using Kind = comm::ConnectionSettings::Kind;

std::atomic<bool> slowSync = false;

// Every sync of this program goes through here; while slowSync is set it
// takes long enough for another program to act before the writer goes on.
extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    if (slowSync)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return real(fd);
}

namespace {

int errorOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const RuntimeError &e) {
        return e.number();
    }
    return 0;
}

QString replaceLine(QString text, const QString &from, const QString &to) {
    const QString line = QLatin1Char('\n') + from + QLatin1Char('\n');
    if (!text.contains(line))
        qFatal("template lacks the line %s", qPrintable(from));
    return text.replace(line, QLatin1Char('\n') + to + QLatin1Char('\n'));
}

} // namespace

class TestCliFiles : public QObject {
    Q_OBJECT
private slots:
    void templateChoosesNothing();
    void templateListsEveryEntry();
    void profileRoundTrip();
    void profileIgnoresCommentsBlanksAndCrLf();
    void profileErrorsNameTheLine_data();
    void profileErrorsNameTheLine();
    void templateIsNotWrittenOverAProfile();
    void templateNeverReplacesAFileMadeMeanwhile();
    void linesEndAtAnyLineBreak_data();
    void linesEndAtAnyLineBreak();
    void tcpTargets_data();
    void tcpTargets();
    void targetsFileListsConnections();
    void targetsFileErrors_data();
    void targetsFileErrors();
    void dryRunListsEachCommand();
    void dryRunNamesEveryEntry_data();
    void dryRunNamesEveryEntry();
    void dryRunShowsStrayBytes();
    void samePrinter_data();
    void samePrinter();
    void storedSerialIsItsDevice();
    void hexDumpOffsets();
    void commandLineAccepted_data();
    void commandLineAccepted();
    void commandLineRefused_data();
    void commandLineRefused();
};

void TestCliFiles::templateChoosesNothing() {
    const auto assignments = parseProfile(profileTemplate(), "template");
    QCOMPARE(assignments.size(), std::size_t(16));
    QCOMPARE(resolveAssignments(assignments), settings::Selection{});
}

void TestCliFiles::templateListsEveryEntry() {
    const QString text = profileTemplate();
    for (const EntryRow &row : entryTable()) {
        const QString shown = row.text.endsWith(QLatin1Char(' '))
                                  ? QLatin1Char('"') + row.text + QLatin1Char('"')
                                  : row.text;
        QVERIFY2(text.contains(QStringLiteral("#   %1  %2\n").arg(row.index, 2).arg(shown)),
                 qPrintable(row.combo + QLatin1Char(' ') + row.text));
    }
}

void TestCliFiles::profileRoundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath("shop.profile");
    writeProfileTemplate(path, false);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    text = replaceLine(text, "Print Speed=No Change", "Print Speed=Low (50mm/s)");
    text = replaceLine(text, "Character Code Page=No Change",
                       "Character Code Page=\"437(USA,std. Europe) \"");
    text = replaceLine(text, "International Character Set=No Change",
                       "International Character Set = Denmark #2");
    text = replaceLine(text, "Extra Spacing (ESC/POS Mode)=No Change",
                       "Extra Spacing (ESC/POS Mode)=3");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
    file.close();

    settings::Selection expected{};
    expected[1] = 3;  // Print Speed: Low (50mm/s)
    expected[8] = 11; // International Character Set: Denmark #2
    expected[9] = 2;  // Character Code Page: the 437 entry with the blank
    expected[15] = 3; // Extra Spacing: 2 dot
    QCOMPARE(resolveAssignments(readProfile(path)), expected);
    QCOMPARE(settings::makeSettingsBatch(resolveAssignments(readProfile(path))),
             framed({"#-20030", "#+20020", "#-1000F", "#+1000A", "#-3FF00", "#+30100", "#-300C0",
                     "#+30080", "#W00000"}));
}

void TestCliFiles::profileIgnoresCommentsBlanksAndCrLf() {
    const auto assignments = parseProfile("# shop 12\r\n\r\n   # indented comment\r\n"
                                          "  cmbZStyle =  Slashed  \r\n"
                                          "Action on Form Feed:=Feed\r\n",
                                          "p");
    settings::Selection expected{};
    expected[0] = 1;
    expected[10] = 2;
    QCOMPARE(resolveAssignments(assignments), expected);
    QCOMPARE(assignments[0].origin, QString("p:4"));
}

void TestCliFiles::profileErrorsNameTheLine_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("where");
    QTest::newRow("no equals sign") << "# x\nPrint Speed Low\n" << errors::ProfileSyntax << "p:2";
    QTest::newRow("unknown setting") << "\n\nPrint Sped=1\n" << errors::UnknownSetting << "p:3";
    QTest::newRow("unknown entry") << "cmbSpeed=Slow\n" << errors::UnknownEntry << "p:1";
    QTest::newRow("chosen twice") << "cmbSpeed=1\ncmbSpeed=2\n" << errors::SettingTwice << "p:2";
}

void TestCliFiles::profileErrorsNameTheLine() {
    QFETCH(QString, text);
    QFETCH(int, error);
    QFETCH(QString, where);
    try {
        (void)resolveAssignments(parseProfile(text, "p"));
        QFAIL("a bad profile was accepted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), error);
        QVERIFY2(e.description().startsWith(where + ": "), qPrintable(e.description()));
    }
}

void TestCliFiles::templateIsNotWrittenOverAProfile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("filled.profile");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("cmbSpeed=3\n");
    file.close();
    QCOMPARE(errorOf([&] { writeProfileTemplate(path, false); }), errors::WouldOverwrite);
    QCOMPARE(resolveAssignments(readProfile(path))[1], std::int16_t(3));
    writeProfileTemplate(path, true);
    QCOMPARE(resolveAssignments(readProfile(path)), settings::Selection{});
    QCOMPARE(errorOf([&] { (void)readProfile(dir.filePath("missing")); }), errors::UnreadableFile);
}

// Another program that makes the file while the template is being written
// keeps its file. The sync before the template is put in place is slowed
// down, so the other program always comes first.
void TestCliFiles::templateNeverReplacesAFileMadeMeanwhile() {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("shop.profile"));
    const int watch = ::inotify_init1(IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(),
                                IN_CREATE | IN_OPEN) >= 0);
    bool made = false;
    // As soon as the writer starts a file in the folder (named or not), the
    // other program makes it.
    std::thread other([&] {
        char event[4096];
        if (::read(watch, event, sizeof event) <= 0)
            return;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        made = fd >= 0 && ::write(fd, "theirs\n", 7) == 7;
        if (fd >= 0)
            ::close(fd);
    });
    slowSync = true;
    const int error = errorOf([&] { writeProfileTemplate(QFile::decodeName(path), false); });
    slowSync = false;
    other.join();
    ::close(watch);
    QVERIFY(made);
    QCOMPARE(error, errors::WouldOverwrite);
    QFile file(QFile::decodeName(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("theirs\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCliFiles::linesEndAtAnyLineBreak_data() {
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("LF") << QByteArray("\n");
    QTest::newRow("CR LF") << QByteArray("\r\n");
    QTest::newRow("CR") << QByteArray("\r");
}

void TestCliFiles::linesEndAtAnyLineBreak() {
    QFETCH(QByteArray, end);
    QTemporaryDir dir;
    const auto write = [&](const char *name, const QList<QByteArray> &lines) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(lines.join(end) + end) < 0)
            qFatal("cannot write %s", name);
        return file.fileName();
    };
    const auto targets =
        readTargetsFile(write("targets", {"# shop 12", "tcp 10.0.0.5", "file /dev/usb/lp0"}));
    QCOMPARE(targets.size(), std::size_t(2));
    QCOMPARE(describeTarget(targets[0]), QString("tcp 10.0.0.5:9100"));
    QCOMPARE(targets[1].path, QString("/dev/usb/lp0"));
    const auto assignments = readProfile(write("profile", {"cmbSpeed=1", "cmbZStyle=Slashed"}));
    QCOMPARE(assignments.size(), std::size_t(2));
    QCOMPARE(assignments[1].origin, dir.filePath("profile") + ":2");
    QCOMPARE(assignments[1].entry, QString("Slashed"));
}

void TestCliFiles::tcpTargets_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // 0: refused
    QTest::newRow("host") << "printer-3.shop"
                          << "printer-3.shop" << 9100;
    QTest::newRow("host and port") << "192.168.1.50:9101"
                                   << "192.168.1.50" << 9101;
    QTest::newRow("bare IPv6") << "fe80::1"
                               << "fe80::1" << 9100;
    QTest::newRow("bracketed IPv6 with port") << "[::1]:9200"
                                              << "::1" << 9200;
    QTest::newRow("bracketed IPv6") << "[::1]"
                                    << "::1" << 9100;
    QTest::newRow("port 0") << "host:0"
                            << "" << 0;
    QTest::newRow("port too large") << "host:65536"
                                    << "" << 0;
    QTest::newRow("port not a number") << "host:lp"
                                       << "" << 0;
    QTest::newRow("no host") << ":9100"
                             << "" << 0;
    QTest::newRow("unclosed bracket") << "[::1:9100"
                                      << "" << 0;
}

void TestCliFiles::tcpTargets() {
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    if (port == 0) {
        QCOMPARE(errorOf([&] { (void)parseTcpTarget(text); }), errors::BadArgument);
        return;
    }
    const comm::ConnectionSettings target = parseTcpTarget(text);
    QCOMPARE(target.kind, Kind::Tcp);
    QCOMPARE(target.host, host);
    QCOMPARE(int(target.port), port);
}

void TestCliFiles::targetsFileListsConnections() {
    const auto targets = parseTargets("# shop 12\n"
                                      "tcp 10.0.0.5\n"
                                      "\n"
                                      "  TCP   10.0.0.6:9101  \n"
                                      "queue KRV520 front\n"
                                      "file /dev/usb/lp0\n",
                                      "t");
    QCOMPARE(targets.size(), std::size_t(4));
    QCOMPARE(describeTarget(targets[0]), QString("tcp 10.0.0.5:9100"));
    QCOMPARE(describeTarget(targets[1]), QString("tcp 10.0.0.6:9101"));
    QCOMPARE(targets[2].kind, Kind::Spooler);
    QCOMPARE(targets[2].queue, QString("KRV520 front"));
    QCOMPARE(targets[3].kind, Kind::File);
    QCOMPARE(targets[3].path, QString("/dev/usb/lp0"));
}

void TestCliFiles::targetsFileErrors_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("where");
    QTest::newRow("unknown kind") << "tcp a\nusb /dev/lp0\n"
                                  << "t:2";
    QTest::newRow("missing value") << "queue\n"
                                   << "t:1";
    QTest::newRow("bad port") << "\ntcp a:99999\n"
                              << "t:2";
}

void TestCliFiles::targetsFileErrors() {
    QFETCH(QString, text);
    QFETCH(QString, where);
    try {
        (void)parseTargets(text, "t");
        QFAIL("a bad targets file was accepted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), errors::TargetsSyntax);
        QVERIFY2(e.description().startsWith(where + ": "), qPrintable(e.description()));
    }
}

void TestCliFiles::dryRunListsEachCommand() {
    const QByteArray batch = QByteArray::fromHex("1b1d232d32303033300a00"
                                                 "1b1d232b32303032300a00"
                                                 "1b1d235730303030300a00");
    QCOMPARE(describeBatch(batch),
             QString("1B 1D 23 2D 32 30 30 33 30 0A 00  #-20030  switch 2: clear bits 0030  "
                     "Print Speed: Low (50mm/s)\n"
                     "1B 1D 23 2B 32 30 30 32 30 0A 00  #+20020  switch 2: set bits 0020  "
                     "Print Speed: Low (50mm/s)\n"
                     "1B 1D 23 57 30 30 30 30 30 0A 00  #W00000  closing command\n"));
}

void TestCliFiles::dryRunNamesEveryEntry_data() {
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<QString>("label");
    for (const EntryRow &row : entryTable()) {
        if (row.tokens.isEmpty())
            continue;
        const settings::Setting *setting = settings::findSetting(row.combo.toStdString());
        QVERIFY(setting);
        QTest::addRow("%s %d", qPrintable(row.combo), row.index)
            << row.tokens
            << QString::fromUtf8(setting->caption.data(), qsizetype(setting->caption.size())) +
                   ' ' + row.text;
    }
}

// Each entry's commands, after the first setting's, are named by the entry
// and nothing else.
void TestCliFiles::dryRunNamesEveryEntry() {
    QFETCH(QStringList, tokens);
    QFETCH(QString, label);
    const bool first = label.startsWith("Action on Form Feed:");
    const QStringList before = first ? QStringList() : QStringList{"#-00004"};
    const QByteArray batch = framed(before + tokens) + ClosingCommand;
    QStringList lines = describeBatch(batch).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), before.size() + tokens.size() + 1);
    if (!first)
        QVERIFY2(lines.takeFirst().endsWith("  Action on Form Feed: Feed"), qPrintable(lines[0]));
    QVERIFY(lines.takeLast().endsWith("  closing command"));
    for (qsizetype i = 0; i < tokens.size(); ++i)
        QVERIFY2(
            lines[i].endsWith(tokens[i] + "  " + decodeToken(tokens[i].toLatin1()) + "  " + label),
            qPrintable(lines[i]));
}

void TestCliFiles::samePrinter_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("same");
    QTest::newRow("host in another case, default port") << "tcp Printer.Shop:9100"
                                                        << "tcp printer.SHOP" << true;
    QTest::newRow("other port") << "tcp 10.0.0.5"
                                << "tcp 10.0.0.5:9101" << false;
    QTest::newRow("other host") << "tcp 10.0.0.5"
                                << "tcp 10.0.0.6" << false;
    for (const char *spelling :
         {"127.1", "127.000.000.001", "0x7f.0.0.1", "2130706433", "[::ffff:127.0.0.1]"})
        QTest::addRow("127.0.0.1 as %s", spelling)
            << "tcp 127.0.0.1" << QStringLiteral("tcp %1:9100").arg(spelling) << true;
    QTest::newRow("IPv6 in two spellings") << "tcp [::1]"
                                           << "tcp [0:0::1]:9100" << true;
    QTest::newRow("queue in another case") << "queue KRV520"
                                           << "queue krv520" << true;
    QTest::newRow("queue and host of one name") << "queue krv520"
                                                << "tcp krv520" << false;
    QTest::newRow("device through a link") << "file DIR/lp0"
                                           << "file DIR/link" << true;
    QTest::newRow("device by another path") << "file DIR/lp0"
                                            << "file DIR/sub/../lp0" << true;
    QTest::newRow("other device") << "file DIR/lp0"
                                  << "file DIR/lp1" << false;
    QTest::newRow("serial line through a link, at another speed")
        << "serial DIR/lp0:9600"
        << "serial DIR/link:19200,8N1,rtscts" << true;
    QTest::newRow("serial line and file of one device") << "serial DIR/lp0"
                                                        << "file DIR/lp0" << true;
}

void TestCliFiles::samePrinter() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, same);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    for (const char *name : {"lp0", "lp1"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(dir.filePath("lp0"), dir.filePath("link")));
    const auto targets =
        parseTargets(QString(first + '\n' + second).replace("DIR", dir.path()), "targets");
    QCOMPARE(targets.size(), std::size_t(2));
    QCOMPARE(printerIdentity(targets[0]) == printerIdentity(targets[1]), same);
}

// A stored serial connection still holds the path of an earlier file choice.
void TestCliFiles::storedSerialIsItsDevice() {
    krv::comm::ConnectionSettings serial;
    serial.kind = krv::comm::ConnectionSettings::Kind::Serial;
    serial.path = QStringLiteral("/tmp/earlier-file.prn");
    serial.serial.device = QStringLiteral("/dev/ttyS0");
    QCOMPARE(printerIdentity(serial), QStringLiteral("device /dev/ttyS0"));
}

void TestCliFiles::dryRunShowsStrayBytes() {
    // A command cut at its NUL, then something that is not a command at all.
    const QString text = describeBatch(QByteArray::fromHex("1b1d235730303030300a"));
    QCOMPARE(text, QString("1B 1D 23 57 30 30 30 30 30 0A  (not a memory-switch command)\n"));
    QVERIFY(describeBatch(QByteArray("\x1b\x1d#X12345\n\0", 11)).contains("not a memory-switch"));
    QVERIFY(decodeToken("#+2003g").isEmpty());
    // A command that lost its NUL shifts everything after it.
    const QString shifted = describeBatch(QByteArray::fromHex("1b1d232d32303033300a"
                                                              "1b1d235730303030300a00"));
    QVERIFY2(!shifted.contains("#-20030"), qPrintable(shifted));
    QVERIFY(shifted.contains("not a memory-switch command"));
}

void TestCliFiles::hexDumpOffsets() {
    QByteArray data(17, '\0');
    data[0] = '\x1b';
    data[16] = '\xff';
    QCOMPARE(hexDump(data), QString("0000  1B 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                    "0010  FF\n"));
}

void TestCliFiles::commandLineAccepted_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("targets");
    QTest::addColumn<int>("assignments");
    QTest::newRow("list") << QStringList{"list"} << int(Action::List) << 0 << 0;
    QTest::newRow("help alone") << QStringList{"help"} << int(Action::Usage) << 0 << 0;
    QTest::newRow("--help anywhere")
        << QStringList{"download", "--bogus", "--help"} << int(Action::Usage) << 0 << 0;
    QTest::newRow("download with sets and targets")
        << QStringList{"download", "--set",  "cmbSpeed=1",   "--set=cmbZStyle=2",
                       "--tcp",    "a",      "--tcp=b:9101", "--queue",
                       "q",        "--file", "/tmp/x",       "--targets",
                       "t.txt"}
        << int(Action::Download) << 5 << 2;
    QTest::newRow("test-print dry run")
        << QStringList{"test-print", "--dry-run"} << int(Action::TestPrint) << 0 << 0;
    QTest::newRow("check") << QStringList{"check", "--tcp", "a"} << int(Action::Check) << 1 << 0;
    QTest::newRow("profile to a file")
        << QStringList{"profile", "x.profile", "--force"} << int(Action::Profile) << 0 << 0;
}

void TestCliFiles::commandLineAccepted() {
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(int, targets);
    QFETCH(int, assignments);
    const Command command = parseCommandLine(arguments);
    QCOMPARE(int(command.action), action);
    QCOMPARE(int(command.targets.size()), targets);
    QCOMPARE(int(command.assignments.size()), assignments);
}

void TestCliFiles::commandLineRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("error");
    QTest::newRow("unknown command") << QStringList{"upload"} << errors::UnknownCommand;
    QTest::newRow("unknown option") << QStringList{"list", "--all"} << errors::BadArgument;
    QTest::newRow("missing value") << QStringList{"download", "--set"} << errors::BadArgument;
    QTest::newRow("--set for check") << QStringList{"check", "--set", "a=b"} << errors::BadArgument;
    QTest::newRow("option before command")
        << QStringList{"--tcp", "a", "download"} << errors::BadArgument;
    QTest::newRow("stray word") << QStringList{"download", "cmbSpeed=1"} << errors::BadArgument;
    QTest::newRow("flag with value")
        << QStringList{"download", "--dry-run=yes"} << errors::BadArgument;
    QTest::newRow("bad port") << QStringList{"check", "--tcp", "a:x"} << errors::BadArgument;
    QTest::newRow("no jobs") << QStringList{"download", "--jobs", "0"} << errors::BadArgument;
    QTest::newRow("too many jobs")
        << QStringList{"download", "--jobs", "1025"} << errors::BadArgument;
    QTest::newRow("signed jobs") << QStringList{"download", "--jobs", "+4"} << errors::BadArgument;
    QTest::newRow("too many retries")
        << QStringList{"test-print", "--retry", "101"} << errors::BadArgument;
    QTest::newRow("negative wait")
        << QStringList{"download", "--retry-wait", "-1"} << errors::BadArgument;
    QTest::newRow("wait past an hour")
        << QStringList{"download", "--retry-wait", "3600.001"} << errors::BadArgument;
    QTest::newRow("--json for check") << QStringList{"check", "--json"} << errors::BadArgument;
    QTest::newRow("two profiles") << QStringList{"download", "--profile", "a", "--profile", "b"}
                                  << errors::BadArgument;
    QTest::newRow("no interval") << QStringList{"watch", "--interval", "0"} << errors::BadArgument;
    QTest::newRow("no confirm") << QStringList{"watch", "--confirm", "0"} << errors::BadArgument;
    QTest::newRow("empty --exec") << QStringList{"watch", "--exec", " "} << errors::BadArgument;
    QTest::newRow("metrics host name")
        << QStringList{"watch", "--metrics", "localhost:9520"} << errors::BadArgument;
    QTest::newRow("metrics without port")
        << QStringList{"watch", "--metrics", "127.0.0.1"} << errors::BadArgument;
    QTest::newRow("--retry for watch")
        << QStringList{"watch", "--retry", "1"} << errors::BadArgument;
    QTest::newRow("--interval for status")
        << QStringList{"status", "--interval", "5"} << errors::BadArgument;
}

void TestCliFiles::commandLineRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(int, error);
    QCOMPARE(errorOf([&] { (void)parseCommandLine(arguments); }), error);
}

QTEST_GUILESS_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
