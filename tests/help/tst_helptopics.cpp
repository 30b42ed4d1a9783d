// The sixteen help documents: their exact shape, and what the reader makes of
// each, checked against text and formatting written down by hand.
#include "ExpectedTopics.h"
#include "HelpTopics.h"
#include "RtfReader.h"

#include <QColor>
#include <QFont>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>

using namespace krv::help;

namespace {

struct Run {
    QString text;
    QTextCharFormat format;
};

QList<Run> runsOf(const QTextBlock &block) {
    QList<Run> runs;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        runs.append({it.fragment().text(), it.fragment().charFormat()});
    return runs;
}

// Text of each maximal stretch of a paragraph whose runs satisfy `pick`.
template <typename Pick> QStringList stretches(const QTextBlock &block, Pick pick) {
    QStringList out;
    bool open = false;
    for (const Run &run : runsOf(block)) {
        if (!pick(run.format)) {
            open = false;
            continue;
        }
        if (open)
            out.last() += run.text;
        else
            out.append(run.text);
        open = true;
    }
    return out;
}

bool isBlue(const QTextCharFormat &f) {
    return f.hasProperty(QTextFormat::ForegroundBrush) &&
           f.foreground().color() == QColor(0, 0, 255);
}

bool isBlack(const QTextCharFormat &f) {
    return f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().color() == QColor(0, 0, 0);
}

bool isBold(const QTextCharFormat &f) {
    return f.fontWeight() == QFont::Bold;
}

QString firstFamily(const QTextCharFormat &f) {
    const QStringList families = f.fontFamilies().toStringList();
    return families.isEmpty() ? QString() : families.first();
}

QList<QTextBlock> blocksOf(const QTextDocument &doc) {
    QList<QTextBlock> blocks;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        blocks.append(b);
    return blocks;
}

// Titles as the Help buttons' settings name them.
const char *const Titles[HelpTopicCount] = {
    "Action on Form Feed",
    "Zero Style",
    "International Character Set",
    "Character Code Page",
    "Print Speed",
    "Print Density",
    "Character Spacing",
    "Carriage Return (<CR> Code)",
    "Line Spacing",
    "Print Columns (ESC/POS) Mode",
    "Print Width",
    "Print Near End Sensor",
    "Parallel Port Paper End Signal",
    "Data Buffer Size (ESC/POS)",
    "Font Size (ESC/POS) Mode",
    "Extra Spacing (ESC/POS) Mode",
};

void addTopicRows() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < HelpTopicCount; ++i)
        QTest::addRow("topic %d", i) << i;
}

} // namespace

class TestHelpTopics : public QObject {
    Q_OBJECT
private slots:
    void documentHasStatedLengthAndShape_data();
    void documentHasStatedLengthAndShape();
    void documentsHoldOnlyPrintableAsciiAndLineBreaks_data() { addTopicRows(); }
    void documentsHoldOnlyPrintableAsciiAndLineBreaks();
    void topic14NamesMakerAndModelInOneLine();
    void loadFillsEveryTopicWithItsOwnDocument();
    void indexOutsideRangeHasNoDocument_data();
    void indexOutsideRangeHasNoDocument();

    void readsWithoutProblems_data() { addTopicRows(); }
    void readsWithoutProblems();
    void rendersExpectedParagraphs_data() { addTopicRows(); }
    void rendersExpectedParagraphs();
    void titleIsCentredBoldTwelvePoint_data() { addTopicRows(); }
    void titleIsCentredBoldTwelvePoint();
    void bodyIsTenPointArialLeftAligned_data() { addTopicRows(); }
    void bodyIsTenPointArialLeftAligned();
    void exactlyChoiceNamesAreBlue_data();
    void exactlyChoiceNamesAreBlue();
    void exactlySettingNamesAreBoldInBody_data();
    void exactlySettingNamesAreBoldInBody();
};

void TestHelpTopics::documentHasStatedLengthAndShape_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QByteArray>("ending");
    const QByteArray ab = "\r\n\\par }";
    const QByteArray c = "\r\n}";
    QTest::newRow("0 Action on Form Feed") << 0 << 526 << 5 << ab;
    QTest::newRow("1 Zero Style") << 1 << 512 << 5 << ab;
    QTest::newRow("2 International Character Set") << 2 << 722 << 6 << ab;
    QTest::newRow("3 Character Code Page") << 3 << 604 << 6 << ab;
    QTest::newRow("4 Print Speed") << 4 << 478 << 6 << ab;
    QTest::newRow("5 Print Density") << 5 << 455 << 5 << ab;
    QTest::newRow("6 Character Spacing") << 6 << 501 << 6 << ab;
    QTest::newRow("7 Carriage Return") << 7 << 596 << 5 << ab;
    QTest::newRow("8 Line Spacing") << 8 << 325 << 5 << ab;
    QTest::newRow("9 Print Columns") << 9 << 763 << 6 << c;
    QTest::newRow("10 Print Width") << 10 << 431 << 5 << ab;
    QTest::newRow("11 Print Near End Sensor") << 11 << 436 << 5 << ab;
    QTest::newRow("12 Paper End Signal") << 12 << 689 << 5 << ab;
    QTest::newRow("13 Data Buffer Size") << 13 << 358 << 5 << ab;
    QTest::newRow("14 Font Size") << 14 << 850 << 7 << c;
    QTest::newRow("15 Extra Spacing") << 15 << 585 << 5 << c;
}

void TestHelpTopics::documentHasStatedLengthAndShape() {
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(int, lines);
    QFETCH(QByteArray, ending);
    const QByteArray doc = helpDocument(index);
    QCOMPARE(doc.size(), length);
    QVERIFY(doc.startsWith("{\\rtf1"));
    QVERIFY(doc.endsWith(ending));
    QCOMPARE(doc.split('\n').size(), lines);
    QCOMPARE(doc.count("\r\n"), lines - 1);
}

void TestHelpTopics::documentsHoldOnlyPrintableAsciiAndLineBreaks() {
    QFETCH(int, index);
    const QByteArray doc = helpDocument(index);
    for (qsizetype i = 0; i < doc.size(); ++i) {
        const auto c = static_cast<unsigned char>(doc[i]);
        const bool printable = c >= 0x20 && c <= 0x7E;
        if (!printable)
            QVERIFY2(c == '\r' || c == '\n', qPrintable(QStringLiteral("byte %1").arg(i)));
    }
    QCOMPARE(doc.count('\r'), doc.count('\n'));
}

void TestHelpTopics::topic14NamesMakerAndModelInOneLine() {
    const QList<QByteArray> lines = helpDocument(14).split('\n');
    const QByteArray body = lines.at(3);
    QVERIFY(body.startsWith("\\pard\\nowidctlpar\\b0\\fs20 When in ESC/POS emulation"));
    QVERIFY(body.endsWith("printer (such as the Vela KRV520).\\par\r"));
}

void TestHelpTopics::loadFillsEveryTopicWithItsOwnDocument() {
    HelpTopicArray topics;
    LoadHelpTopics(topics);
    for (int i = 0; i < HelpTopicCount; ++i) {
        QCOMPARE(topics[std::size_t(i)], helpDocument(i));
        for (int j = 0; j < i; ++j)
            QVERIFY(topics[std::size_t(i)] != topics[std::size_t(j)]);
    }
}

void TestHelpTopics::indexOutsideRangeHasNoDocument_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("16") << 16;
    QTest::newRow("32767") << 32767;
}

void TestHelpTopics::indexOutsideRangeHasNoDocument() {
    QFETCH(int, index);
    QVERIFY(helpDocument(index).isEmpty());
    QVERIFY(helpTopicTitle(index).isEmpty());
}

void TestHelpTopics::readsWithoutProblems() {
    QFETCH(int, index);
    const RtfResult result = readRtf(helpDocument(index));
    QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join(u'\n')));
}

void TestHelpTopics::rendersExpectedParagraphs() {
    QFETCH(int, index);
    static const QList<QStringList> expected = expectedParagraphs();
    QCOMPARE(expected.size(), HelpTopicCount);
    const RtfResult result = readRtf(helpDocument(index));
    QStringList shown;
    for (const QTextBlock &b : blocksOf(*result.document))
        shown << b.text();
    QCOMPARE(shown, expected.at(index));
}

void TestHelpTopics::titleIsCentredBoldTwelvePoint() {
    QFETCH(int, index);
    const RtfResult result = readRtf(helpDocument(index));
    const QTextBlock title = result.document->begin();
    QCOMPARE(title.text(), QString::fromLatin1(Titles[index]));
    QCOMPARE(helpTopicTitle(index), QString::fromLatin1(Titles[index]));
    QCOMPARE(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    for (const Run &run : runsOf(title)) {
        QVERIFY(isBold(run.format));
        QCOMPARE(run.format.fontPointSize(), 12.0);
        QCOMPARE(firstFamily(run.format), QStringLiteral("Arial"));
        QVERIFY(isBlack(run.format));
    }
}

void TestHelpTopics::bodyIsTenPointArialLeftAligned() {
    QFETCH(int, index);
    const RtfResult result = readRtf(helpDocument(index));
    const QList<QTextBlock> blocks = blocksOf(*result.document);
    int bodyParagraphs = 0;
    for (const QTextBlock &b : blocks.mid(1)) {
        if (b.text().isEmpty())
            continue; // the closing empty paragraphs carry the document's last format change
        ++bodyParagraphs;
        QCOMPARE(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        for (const Run &run : runsOf(b)) {
            QCOMPARE(run.format.fontPointSize(), 10.0);
            QCOMPARE(firstFamily(run.format), QStringLiteral("Arial"));
            QVERIFY(isBlack(run.format) || isBlue(run.format));
        }
    }
    QVERIFY(bodyParagraphs >= 1);
}

void TestHelpTopics::exactlyChoiceNamesAreBlue_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("blue");
    QTest::newRow("0") << 0 << QStringList{"Feed and Partial Cut"};
    QTest::newRow("1") << 1 << QStringList{"Standard", "Slashed"};
    QTest::newRow("2") << 2 << QStringList{"USA"};
    QTest::newRow("3") << 3 << QStringList{};
    QTest::newRow("4") << 4 << QStringList{};
    QTest::newRow("5") << 5 << QStringList{};
    QTest::newRow("6") << 6 << QStringList{};
    QTest::newRow("7") << 7 << QStringList{"Line Feed"};
    QTest::newRow("8") << 8 << QStringList{};
    QTest::newRow("9") << 9 << QStringList{"Maximum"};
    QTest::newRow("10") << 10 << QStringList{};
    QTest::newRow("11") << 11 << QStringList{};
    QTest::newRow("12") << 12 << QStringList{"At Paper End or Near End"};
    QTest::newRow("13") << 13 << QStringList{};
    QTest::newRow("14") << 14 << QStringList{"Maximum", "1 dot"};
    QTest::newRow("15") << 15 << QStringList{"1 dot"};
}

void TestHelpTopics::exactlyChoiceNamesAreBlue() {
    QFETCH(int, index);
    QFETCH(QStringList, blue);
    const RtfResult result = readRtf(helpDocument(index));
    QStringList shown;
    for (const QTextBlock &b : blocksOf(*result.document))
        shown += stretches(b, isBlue);
    QCOMPARE(shown, blue);
}

void TestHelpTopics::exactlySettingNamesAreBoldInBody_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("bold");
    for (int i = 0; i < 14; ++i)
        QTest::addRow("%d", i) << i << QStringList{};
    // The blank after the first name is inside the bold stretch in topic 14.
    QTest::newRow("14") << 14
                        << QStringList{"Print Columns (ESC/POS Mode) ",
                                       "Extra Spacing (ESC/POS Mode) "};
    QTest::newRow("15") << 15 << QStringList{"Columns (ESC/POS Mode)", "Font Size (ESC/POS Mode)"};
}

void TestHelpTopics::exactlySettingNamesAreBoldInBody() {
    QFETCH(int, index);
    QFETCH(QStringList, bold);
    const RtfResult result = readRtf(helpDocument(index));
    QStringList shown;
    const QList<QTextBlock> blocks = blocksOf(*result.document);
    for (const QTextBlock &b : blocks.mid(1))
        shown += stretches(b, isBold);
    QCOMPARE(shown, bold);
}

QTEST_MAIN(TestHelpTopics)
#include "tst_helptopics.moc"
