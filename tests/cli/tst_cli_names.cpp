// Settings and entries named the way a technician types them, and the batches
// that come out, against the product's entry table and worked examples.
#include "CliErrors.h"
#include "CliTestSupport.h"
#include "Names.h"
#include "Profile.h"
#include "RuntimeError.h"
#include "SettingsBatch.h"

#include <QTest>

using krv::RuntimeError;
namespace settings = krv::settings;

using namespace krv::cli;
using namespace krv::profile;

class TestCliNames : public QObject {
    Q_OBJECT
private slots:
    void settingFoundByLabelOrListName_data();
    void settingFoundByLabelOrListName();
    void entryFoundByTextOrIndex_data();
    void entryFoundByTextOrIndex();
    void entryTextMustMatchExactly_data();
    void entryTextMustMatchExactly();
    void unknownSettingNamesClosest_data();
    void unknownSettingNamesClosest();
    void unknownEntryNamesClosest_data();
    void unknownEntryNamesClosest();
    void editDistanceCountsEdits_data();
    void editDistanceCountsEdits();
    void batchEqualsWindowsForEveryEntry_data();
    void batchEqualsWindowsForEveryEntry();
    void workedExampleBatch();
    void settingChosenTwiceIsRefused();
    void commandLineOverridesProfile();
};

void TestCliNames::settingFoundByLabelOrListName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("combo");
    QTest::newRow("label with colon") << "Print Speed:"
                                      << "cmbSpeed";
    QTest::newRow("label without colon") << "Print Speed"
                                         << "cmbSpeed";
    QTest::newRow("label, other case") << "print SPEED"
                                       << "cmbSpeed";
    QTest::newRow("list name") << "cmbSpeed"
                               << "cmbSpeed";
    QTest::newRow("list name, other case") << "CMBSPEED"
                                           << "cmbSpeed";
    QTest::newRow("label with brackets") << "Carriage Return (<CR> code):"
                                         << "cmbCRCode";
    QTest::newRow("label with slash") << "Data Buffer Size (ESC/POS)"
                                      << "cmbBuffer";
    QTest::newRow("blanks around") << "  Zero Style  "
                                   << "cmbZStyle";
    QTest::newRow("blank before colon") << "Zero Style :"
                                        << "cmbZStyle";
    QTest::newRow("last setting") << "Extra Spacing (ESC/POS Mode):"
                                  << "cmbEPSpacing";
}

void TestCliNames::settingFoundByLabelOrListName() {
    QFETCH(QString, typed);
    QFETCH(QString, combo);
    QCOMPARE(comboName(resolveSetting(typed)), combo);
}

void TestCliNames::entryFoundByTextOrIndex_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index");
    for (const EntryRow &row : entryTable()) {
        const QByteArray name =
            (row.combo + QLatin1Char(' ') + QString::number(row.index)).toUtf8();
        QTest::newRow(name + " by text") << row.combo << row.text << row.index;
        QTest::newRow(name + " by index") << row.combo << QString::number(row.index) << row.index;
    }
}

void TestCliNames::entryFoundByTextOrIndex() {
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    QFETCH(int, index);
    QCOMPARE(int(resolveEntry(resolveSetting(combo), typed)), index);
}

void TestCliNames::entryTextMustMatchExactly_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index"); // -1: refused
    // The two 437 entries differ only in a trailing blank.
    QTest::newRow("437 with blank") << "cmbCPage"
                                    << "437(USA,std. Europe) " << 2;
    QTest::newRow("437 without blank") << "cmbCPage"
                                       << "437(USA,std. Europe)" << 4;
    QTest::newRow("other case") << "cmbZStyle"
                                << "slashed" << -1;
    QTest::newRow("part of the text") << "cmbSpeed"
                                      << "Low" << -1;
    QTest::newRow("index past the end") << "cmbSpeed"
                                        << "4" << -1;
    QTest::newRow("negative index") << "cmbSpeed"
                                    << "-1" << -1;
    QTest::newRow("empty") << "cmbSpeed"
                           << "" << -1;
}

void TestCliNames::entryTextMustMatchExactly() {
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    QFETCH(int, index);
    const settings::Setting &setting = resolveSetting(combo);
    if (index >= 0) {
        QCOMPARE(int(resolveEntry(setting, typed)), index);
        return;
    }
    try {
        const int got = resolveEntry(setting, typed);
        QFAIL(qPrintable(QStringLiteral("accepted as entry %1").arg(got)));
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), errors::UnknownEntry);
    }
}

void TestCliNames::unknownSettingNamesClosest_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("named");
    QTest::newRow("typo") << "Print Sped"
                          << "\"Print Speed:\" (cmbSpeed)";
    QTest::newRow("word of the label") << "Density"
                                       << "\"Print Density:\" (cmbDensity)";
    QTest::newRow("list name typo") << "cmbZStyl"
                                    << "\"Zero Style:\" (cmbZStyle)";
    QTest::newRow("extra letter") << "Line Spaceing"
                                  << "\"Line Spacing:\" (cmbLSpacing)";
    QTest::newRow("swapped letters") << "Paper Naer End Sensor"
                                     << "\"Paper Near End Sensor:\"";
}

void TestCliNames::unknownSettingNamesClosest() {
    QFETCH(QString, typed);
    QFETCH(QString, named);
    try {
        (void)resolveSetting(typed);
        QFAIL("an unknown setting was accepted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), errors::UnknownSetting);
        QVERIFY2(e.description().contains(named), qPrintable(e.description()));
        QVERIFY2(e.description().contains(typed), qPrintable(e.description()));
    }
}

void TestCliNames::unknownEntryNamesClosest_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("named");
    QTest::newRow("typo") << "cmbZStyle"
                          << "Slashd"
                          << "2 \"Slashed\"";
    QTest::newRow("start of the text") << "cmbSpeed"
                                       << "Low"
                                       << "3 \"Low (50mm/s)\"";
    QTest::newRow("ambiguous start") << "cmbIntCSet"
                                     << "Spain"
                                     << "8 \"Spain #1\", 12 \"Spain #2\"";
    QTest::newRow("other case") << "cmbCPage"
                                << "437(usa,std. europe)"
                                << "4 \"437(USA,std. Europe)\"";
    QTest::newRow("index out of range") << "cmbSpeed"
                                        << "7"
                                        << "0 to 3";
    QTest::newRow("code page number") << "cmbCPage"
                                      << "1252"
                                      << "23 \"1252 (Windows Latin-1)\"";
}

void TestCliNames::unknownEntryNamesClosest() {
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    QFETCH(QString, named);
    try {
        (void)resolveEntry(resolveSetting(combo), typed);
        QFAIL("an unknown entry was accepted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), errors::UnknownEntry);
        QVERIFY2(e.description().contains(named), qPrintable(e.description()));
    }
}

void TestCliNames::editDistanceCountsEdits_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("distance");
    QTest::newRow("classic") << "kitten"
                             << "sitting" << 3;
    QTest::newRow("empty") << ""
                           << "abc" << 3;
    QTest::newRow("same") << "Feed"
                          << "Feed" << 0;
    QTest::newRow("case ignored") << "SPEED"
                                  << "speed" << 0;
    QTest::newRow("one deleted") << "Slashed"
                                 << "Slashd" << 1;
}

void TestCliNames::editDistanceCountsEdits() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, distance);
    QCOMPARE(editDistance(a, b), distance);
    QCOMPARE(editDistance(b, a), distance);
}

void TestCliNames::batchEqualsWindowsForEveryEntry_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("tokens");
    for (const EntryRow &row : entryTable())
        QTest::newRow(qPrintable(row.combo + QLatin1Char(' ') + QString::number(row.index)))
            << row.combo << row.text << row.index << row.tokens;
}

// The window builds its batch from the list's selected index; the companion
// from a name and a text. Both must give the product's tokens.
void TestCliNames::batchEqualsWindowsForEveryEntry() {
    QFETCH(QString, combo);
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(QStringList, tokens);

    const settings::Selection cli =
        resolveAssignments({parseAssignment(combo + QLatin1Char('=') + text, "--set")});
    const QByteArray expected = framed(tokens) + ClosingCommand;
    QCOMPARE(settings::makeSettingsBatch(cli), expected);

    settings::Selection window{};
    const settings::Setting *setting = settings::findSetting(combo.toStdString());
    QVERIFY(setting);
    window[std::size_t(setting - settings::catalogue().data())] = std::int16_t(index);
    QCOMPARE(settings::makeSettingsBatch(cli), settings::makeSettingsBatch(window));
}

void TestCliNames::workedExampleBatch() {
    const settings::Selection selection =
        resolveAssignments({parseAssignment("Print Speed:=Low (50mm/s)", "--set"),
                            parseAssignment("cmbZStyle=2", "--set")});
    QCOMPARE(settings::makeSettingsBatch(selection), QByteArray::fromHex("1b1d232d32303033300a00"
                                                                         "1b1d232b32303032300a00"
                                                                         "1b1d232b31303031300a00"
                                                                         "1b1d235730303030300a00"));
}

void TestCliNames::settingChosenTwiceIsRefused() {
    try {
        (void)resolveAssignments({parseAssignment("cmbSpeed=1", "--set"),
                                  parseAssignment("Print Speed=Low (50mm/s)", "a.profile:4")});
        QFAIL("a setting chosen twice was accepted");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), errors::SettingTwice);
        QVERIFY2(e.description().contains("a.profile:4"), qPrintable(e.description()));
    }
}

void TestCliNames::commandLineOverridesProfile() {
    const settings::Selection selection = resolveAssignments(
        {parseAssignment("Print Speed=1", "p:1"), parseAssignment("cmbZStyle=1", "p:2")},
        {parseAssignment("cmbSpeed=Low (50mm/s)", "--set")});
    settings::Selection expected{};
    expected[1] = 3;  // Print Speed, second in visiting order
    expected[10] = 1; // Zero Style, eleventh
    QCOMPARE(selection, expected);
}

QTEST_GUILESS_MAIN(TestCliNames)
#include "tst_cli_names.moc"
