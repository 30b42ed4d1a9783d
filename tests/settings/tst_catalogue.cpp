// The catalogue against the entry table in tests/data, written from the
// product's documented entries rather than from the code.
#include "Catalogue.h"
#include "Tokens.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace krv::settings;

namespace {

struct Row {
    QString combo;
    int index;
    QString text;
    QStringList tokens;
};

QList<Row> documentedEntries() {
    QFile file(QStringLiteral(KRV_TEST_DATA_DIR "/setting-entries.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read setting-entries.tsv");
    QList<Row> rows;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).chopped(1);
        if (line.startsWith(u'#'))
            continue;
        const QStringList f = line.split(u'\t');
        rows.append({f[0], f[1].toInt(), f[2], f[3].split(u' ', Qt::SkipEmptyParts)});
    }
    return rows;
}

QString text(std::string_view s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

QStringList tokensOf(const Setting &s, std::int16_t index) {
    QStringList out;
    for (const Token &t : tokensFor(s, index))
        out << QString::fromStdString(t);
    return out;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT
private slots:
    void settingsStandInVisitingOrder_data();
    void settingsStandInVisitingOrder();
    void everyEntryYieldsItsTokens_data();
    void everyEntryYieldsItsTokens();
    void catalogueListsExactlyTheDocumentedEntries();
    void unlistedIndexYieldsNoToken_data();
    void unlistedIndexYieldsNoToken();
    void tokensFollowGrammarAndOwnMask_data();
    void tokensFollowGrammarAndOwnMask();
    void noTwoSettingsShareABit();
    void codePageHexExamples_data();
    void codePageHexExamples();
};

void TestCatalogue::settingsStandInVisitingOrder_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("helpTopic");
    QTest::addColumn<int>("switchNumber");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("entryCount");
    const struct {
        const char *combo, *caption, *page;
        int topic, sw, mask, entries;
    } expected[] = {
        {"cmbFFAction", "Action on Form Feed:", "General", 0, 0x0, 0x0004, 3},
        {"cmbSpeed", "Print Speed:", "General", 4, 0x2, 0x0030, 4},
        {"cmbDensity", "Print Density:", "General", 5, 0x2, 0x0007, 8},
        {"cmbCRCode", "Carriage Return (<CR> code):", "General", 7, 0x3, 0x0002, 3},
        {"cmbPWidth", "Print Width:", "General", 10, 0x4, 0x0007, 3},
        {"cmbPNEnd", "Paper Near End Sensor:", "General", 11, 0xA, 0x0100, 3},
        {"cmbPESignal", "Parallel Port Paper End Signal:", "General", 12, 0xA, 0x0010, 3},
        {"cmbBuffer", "Data Buffer Size (ESC/POS):", "General", 13, 0xB, 0x0100, 3},
        {"cmbIntCSet", "International Character Set:", "Characters", 2, 0x1, 0x000F, 17},
        {"cmbCPage", "Character Code Page:", "Characters", 3, 0x3, 0xFF00, 42},
        {"cmbZStyle", "Zero Style:", "Characters", 1, 0x1, 0x0010, 3},
        {"cmbCSpacing", "Character Spacing:", "Characters", 6, 0x3, 0x0010, 3},
        {"cmbLSpacing", "Line Spacing:", "Characters", 8, 0x3, 0x0001, 3},
        {"cmbEPColumns", "Print Columns (ESC/POS Mode):", "Characters", 9, 0x4, 0x0010, 3},
        {"cmbEPFontSize", "Font A Size (ESC/POS Mode):", "Characters", 14, 0x1, 0x0080, 3},
        {"cmbEPSpacing", "Extra Spacing (ESC/POS Mode):", "Characters", 15, 0x3, 0x00C0, 5},
    };
    for (int position = 0; position < int(std::size(expected)); ++position) {
        const auto &e = expected[position];
        QTest::addRow("%d %s", position, e.combo)
            << position << e.combo << e.caption << e.page << e.topic << e.sw << e.mask << e.entries;
    }
}

void TestCatalogue::settingsStandInVisitingOrder() {
    QFETCH(int, position);
    QFETCH(QString, combo);
    const Setting &s = catalogue()[std::size_t(position)];
    QCOMPARE(text(s.comboName), combo);
    QTEST(text(s.caption), "caption");
    QTEST(text(pageTitle(s.page)), "page");
    QTEST(s.helpTopic, "helpTopic");
    QTEST(s.switchNumber, "switchNumber");
    QTEST(int(s.mask), "mask");
    QTEST(int(s.entries.size()), "entryCount");
    QCOMPARE(findSetting(s.comboName), &s);
}

void TestCatalogue::everyEntryYieldsItsTokens_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("tokens");
    for (const Row &r : documentedEntries())
        QTest::addRow("%s %d", qPrintable(r.combo), r.index)
            << r.combo << r.index << r.text << r.tokens;
}

void TestCatalogue::everyEntryYieldsItsTokens() {
    QFETCH(QString, combo);
    QFETCH(int, index);
    const Setting *s = findSetting(combo.toStdString());
    QVERIFY(s);
    QVERIFY(std::size_t(index) < s->entries.size());
    QTEST(text(s->entries[std::size_t(index)].text), "entry");
    QTEST(tokensOf(*s, std::int16_t(index)), "tokens");
}

void TestCatalogue::catalogueListsExactlyTheDocumentedEntries() {
    qsizetype total = 0;
    for (const Setting &s : catalogue())
        total += qsizetype(s.entries.size());
    QCOMPARE(total, documentedEntries().size());
}

void TestCatalogue::unlistedIndexYieldsNoToken_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("index");
    for (const Setting &s : catalogue()) {
        const QByteArray name(s.comboName.data(), qsizetype(s.comboName.size()));
        const int count = int(s.entries.size());
        for (int index : {0, -1, count, count + 1, 100, 32767, -32768})
            QTest::addRow("%s %d", name.constData(), index) << QString::fromLatin1(name) << index;
    }
}

void TestCatalogue::unlistedIndexYieldsNoToken() {
    QFETCH(QString, combo);
    QFETCH(int, index);
    QVERIFY(tokensOf(*findSetting(combo.toStdString()), std::int16_t(index)).isEmpty());
}

void TestCatalogue::tokensFollowGrammarAndOwnMask_data() {
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("index");
    for (const Row &r : documentedEntries())
        QTest::addRow("%s %d", qPrintable(r.combo), r.index) << r.combo << r.index;
}

void TestCatalogue::tokensFollowGrammarAndOwnMask() {
    QFETCH(QString, combo);
    QFETCH(int, index);
    static const QRegularExpression grammar(QStringLiteral("^#[+-]([0-9A-F])([0-9A-F]{4})$"));
    const Setting &s = *findSetting(combo.toStdString());
    for (const QString &token : tokensOf(s, std::int16_t(index))) {
        QCOMPARE(token.size(), 7);
        const auto m = grammar.match(token);
        QVERIFY2(m.hasMatch(), qPrintable(token));
        QCOMPARE(m.captured(1).toInt(nullptr, 16), s.switchNumber);
        const int mask = m.captured(2).toInt(nullptr, 16);
        QVERIFY2((mask & ~int(s.mask)) == 0, qPrintable(token));
    }
}

void TestCatalogue::noTwoSettingsShareABit() {
    QMap<int, int> used; // switch number -> bits claimed so far
    for (const Setting &s : catalogue()) {
        QCOMPARE(used.value(s.switchNumber) & s.mask, 0);
        used[s.switchNumber] |= s.mask;
    }
}

void TestCatalogue::codePageHexExamples_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("hex");
    QTest::newRow("Normal") << 1 << "0";
    QTest::newRow("737 (Greek)") << 16 << "F";
    QTest::newRow("874 (Thai)") << 22 << "15";
    QTest::newRow("1252 (Windows Latin-1)") << 23 << "20";
    QTest::newRow("1251 (Windows Cyrillic)") << 25 << "22";
    QTest::newRow("3840 (IBM-Russian)") << 26 << "40";
    QTest::newRow("3041 (Maltese)") << 41 << "4F";
}

void TestCatalogue::codePageHexExamples() {
    QFETCH(int, index);
    QTEST(QString::fromStdString(CodePageHex(std::int16_t(index))), "hex");
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
