// The printer's memory switches: commands, stores, the state file and the
// lines that name each stored change.
#include "Decoder.h"
#include "Job.h"
#include "MemorySwitches.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace krv::sim;

// Pairs of switch number and value.
using SwitchValues = QList<QPair<int, int>>;

namespace {

QByteArray framed(const QByteArray &token) {
    return "\x1b\x1d" + token + '\n' + '\0';
}

QByteArray job(const QList<QByteArray> &tokens) {
    QByteArray bytes;
    for (const QByteArray &t : tokens)
        bytes += framed(t);
    return bytes;
}

// Runs a job against `switches` and returns the lines that name changes.
QStringList changeLines(MemorySwitches &switches, const QByteArray &bytes) {
    QStringList lines;
    for (const Event &event : decode(bytes).events) {
        for (const SwitchChange &change : switches.apply(event))
            lines += describeChange(change);
    }
    return lines;
}

// Switches whose stored and working values are `initial` (pairs of switch
// and value).
MemorySwitches startingAt(const SwitchValues &initial) {
    MemorySwitches switches;
    for (const auto &[n, value] : initial)
        switches.set(n, std::uint16_t(value));
    (void)switches.store();
    return switches;
}

} // namespace

class TestSimSwitches : public QObject {
    Q_OBJECT
private slots:
    void storedChangesAreNamed_data();
    void storedChangesAreNamed();
    void commandsChangeWorkingValuesOnly();
    void stateFileRoundTrip();
    void missingStateFileStartsAtZero();
    void badStateFileIsRejected_data();
    void badStateFileIsRejected();
    void jobKeepsStateFileOnStore();
    void jobReportsUnstoredChanges();
};

void TestSimSwitches::storedChangesAreNamed_data() {
    QTest::addColumn<SwitchValues>("initial");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("worked example")
        << SwitchValues{} << job({"#-20030", "#+20020", "#+10010", "#W00000"})
        << QStringList{"Zero Style: Slashed (switch 1 0000 -> 0010)",
                       "Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)"};

    QTest::newRow("every list at its last entry")
        << SwitchValues{}
        << job({"#+00004", "#-20030", "#+20020", "#+20007", "#+30002", "#+40003", "#+A0100",
                "#+A0010", "#+B0100", "#-1000F", "#+1000F", "#-3FF00", "#+34F00", "#+10010",
                "#+30010", "#+30001", "#+40010", "#+10080", "#+300C0", "#W00000"})
        << QStringList{
               "Action on Form Feed: Feed and Partial Cut (switch 0 0000 -> 0004)",
               "International Character Set: Legal (switch 1 0000 -> 009F)",
               "Zero Style: Slashed (switch 1 0000 -> 009F)",
               "Font A Size (ESC/POS Mode): Large (Simulate 180dpi) (switch 1 0000 -> 009F)",
               "Print Speed: Low (50mm/s) (switch 2 0000 -> 0027)",
               "Print Density: 70% (switch 2 0000 -> 0027)",
               "Carriage Return (<CR> code): Line Feed (switch 3 0000 -> 4FD3)",
               "Character Code Page: 3041 (Maltese) (switch 3 0000 -> 4FD3)",
               "Character Spacing: 15 dot (switch 3 0000 -> 4FD3)",
               "Line Spacing: 3mm (switch 3 0000 -> 4FD3)",
               "Extra Spacing (ESC/POS Mode): 3 dot (switch 3 0000 -> 4FD3)",
               "Print Width: 50.8mm (switch 4 0000 -> 0013)",
               "Print Columns (ESC/POS Mode): Maxumum (switch 4 0000 -> 0013)",
               "Paper Near End Sensor: Disable (switch A 0000 -> 0110)",
               "Parallel Port Paper End Signal: At Paper End or Near End (switch A 0000 -> 0110)",
               "Data Buffer Size (ESC/POS): 64 Bytes (switch B 0000 -> 0100)",
           };

    QTest::newRow("back to defaults")
        << SwitchValues{{1, 0x009F}, {2, 0x0027}}
        << job({"#-1000F", "#+10000", "#-10010", "#-20007", "#W00000"})
        << QStringList{"International Character Set: USA (switch 1 009F -> 0080)",
                       "Zero Style: Standard (switch 1 009F -> 0080)",
                       "Print Density: Standard (switch 2 0027 -> 0020)"};
    QTest::newRow("50.8mm keeps bit 2")
        << SwitchValues{{4, 0x0004}} << job({"#+40003", "#W00000"})
        << QStringList{"Print Width: 50.8mm (switch 4 0004 -> 0007)"};
    QTest::newRow("72mm clears the field")
        << SwitchValues{{4, 0x0007}} << job({"#-40007", "#W00000"})
        << QStringList{"Print Width: 72mm (switch 4 0007 -> 0000)"};
    QTest::newRow("code page 437 with the space")
        << SwitchValues{} << job({"#-3FF00", "#+30100", "#W00000"})
        << QStringList{"Character Code Page: 437(USA,std. Europe)  (switch 3 0000 -> 0100)"};
    QTest::newRow("code page 437 without the space")
        << SwitchValues{} << job({"#-3FF00", "#+30300", "#W00000"})
        << QStringList{"Character Code Page: 437(USA,std. Europe) (switch 3 0000 -> 0300)"};
    QTest::newRow("medium speed over low")
        << SwitchValues{{2, 0x0020}} << job({"#-20030", "#+20010", "#W00000"})
        << QStringList{"Print Speed: Medium (75mm/s) (switch 2 0020 -> 0010)"};
    QTest::newRow("density value no entry sends")
        << SwitchValues{} << job({"#+20004", "#W00000"})
        << QStringList{"Print Density: no entry sets bits 0004 (switch 2 0000 -> 0004)"};
    QTest::newRow("bits no setting owns")
        << SwitchValues{} << job({"#+58000", "#+00001", "#W00000"})
        << QStringList{"Switch 0 bits 0001, used by no setting (switch 0 0000 -> 0001)",
                       "Switch 5 bits 8000, used by no setting (switch 5 0000 -> 8000)"};
    QTest::newRow("no store, no lines")
        << SwitchValues{} << job({"#-20030", "#+20020"}) << QStringList{};
    QTest::newRow("set and cleared again before the store")
        << SwitchValues{} << job({"#+10010", "#-10010", "#W00000"}) << QStringList{};
    QTest::newRow("the same entry again")
        << SwitchValues{{2, 0x0020}} << job({"#-20030", "#+20020", "#W00000"}) << QStringList{};
}

void TestSimSwitches::storedChangesAreNamed() {
    QFETCH(SwitchValues, initial);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    MemorySwitches switches = startingAt(initial);
    QCOMPARE(changeLines(switches, bytes), lines);
}

void TestSimSwitches::commandsChangeWorkingValuesOnly() {
    MemorySwitches switches;
    (void)changeLines(switches, job({"#+300C0", "#+30002", "#-30040"}));
    QCOMPARE(switches.working(3), std::uint16_t(0x0082));
    QCOMPARE(switches.stored(3), std::uint16_t(0));
    QVERIFY(switches.hasUnstoredChanges());
    (void)changeLines(switches, job({"#W00000"}));
    QCOMPARE(switches.stored(3), std::uint16_t(0x0082));
    QVERIFY(!switches.hasUnstoredChanges());
}

void TestSimSwitches::stateFileRoundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath("state");
    MemorySwitches switches;
    switches.set(0, 0x0004);
    switches.set(0xA, 0x0110);
    switches.set(3, 0x4FD3);
    (void)switches.store();
    QString error;
    QVERIFY2(switches.save(path, &error), qPrintable(error));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QCOMPARE(content.count('\n'), 16);
    QVERIFY(content.startsWith("0 0004\n1 0000\n2 0000\n3 4FD3\n"));
    QVERIFY(content.contains("\nA 0110\n"));
    QVERIFY(content.endsWith("F 0000\n"));

    MemorySwitches loaded;
    QVERIFY2(loaded.load(path, &error), qPrintable(error));
    for (int n = 0; n < MemorySwitches::Count; ++n) {
        QCOMPARE(loaded.stored(n), switches.stored(n));
        QCOMPARE(loaded.working(n), switches.stored(n));
    }
}

void TestSimSwitches::missingStateFileStartsAtZero() {
    QTemporaryDir dir;
    MemorySwitches switches;
    switches.set(2, 0x0020);
    QString error;
    QVERIFY(switches.load(dir.filePath("none"), &error));
    QCOMPARE(switches.working(2), std::uint16_t(0));
}

void TestSimSwitches::badStateFileIsRejected_data() {
    QTest::addColumn<QByteArray>("content");
    QByteArray full;
    for (const char *digit :
         {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E"})
        full += QByteArray(digit) + " 0000\n";
    QTest::newRow("switch F missing") << full;
    QTest::newRow("lowercase value") << full + "F 00ff\n";
    QTest::newRow("short value") << full + "F 001\n";
    QTest::newRow("switch beyond F") << full + "F 0000\nG 0000\n";
    QTest::newRow("not a state file") << QByteArray("\x89PNG\r\n\x1a\n");
}

void TestSimSwitches::badStateFileIsRejected() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QFile file(dir.filePath("state"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    MemorySwitches switches;
    switches.set(2, 0x0020);
    QString error;
    QVERIFY(!switches.load(file.fileName(), &error));
    QVERIFY(error.contains(file.fileName()));
    QCOMPARE(switches.working(2), std::uint16_t(0x0020));
}

void TestSimSwitches::jobKeepsStateFileOnStore() {
    QTemporaryDir dir;
    const QString path = dir.filePath("state");
    MemorySwitches switches;
    QStringList lines;
    Job first(switches, path, [&lines](const QString &line) { lines << line; });
    first.feed(job({"#-20030", "#+20020"}));
    QVERIFY(!QFile::exists(path));
    first.feed(job({"#W00000"}));
    first.finish();
    QVERIFY(QFile::exists(path));
    QVERIFY(lines.contains("Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)"));

    MemorySwitches restarted;
    QString error;
    QVERIFY2(restarted.load(path, &error), qPrintable(error));
    QCOMPARE(restarted.stored(2), std::uint16_t(0x0020));
}

void TestSimSwitches::jobReportsUnstoredChanges() {
    MemorySwitches switches;
    QStringList lines;
    Job job(switches, {}, [&lines](const QString &line) { lines << line; });
    job.feed(framed("#+10010"));
    job.finish();
    QVERIFY(lines.contains("switch changes received but not stored (no #W00000 yet)"));
    QCOMPARE(job.switchCommands(), 1);
}

QTEST_GUILESS_MAIN(TestSimSwitches)
#include "tst_sim_switches.moc"
