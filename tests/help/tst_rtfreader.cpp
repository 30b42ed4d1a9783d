// The RTF reader's general rules and its behaviour on bad input.
#include "RtfReader.h"

#include <QColor>
#include <QFont>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>

using namespace krv::help;

namespace {

// Paragraphs joined by '\n'; line separators and tabs stay as they are.
QString shownText(const QTextDocument &doc) {
    QStringList paragraphs;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        paragraphs << b.text();
    return paragraphs.join(u'\n');
}

// One entry per run of equal formatting: "text|b or -|points|#rrggbb or default|first family".
QStringList describeRuns(const QTextDocument &doc) {
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            const QStringList families = f.fontFamilies().toStringList();
            const QString colour = f.hasProperty(QTextFormat::ForegroundBrush)
                                       ? f.foreground().color().name()
                                       : QStringLiteral("default");
            out << it.fragment().text() + u'|' + (f.fontWeight() == QFont::Bold ? u'b' : u'-') +
                       u'|' + QString::number(f.fontPointSize()) + u'|' + colour + u'|' +
                       (families.isEmpty() ? QString() : families.first());
        }
    }
    return out;
}

QByteArray repeated(const char *piece, int times) {
    return QByteArray(piece).repeated(times);
}

} // namespace

class TestRtfReader : public QObject {
    Q_OBJECT
private slots:
    void followsGeneralRules_data();
    void followsGeneralRules();
    void appliesFormatting_data();
    void appliesFormatting();
    void alignsParagraphs_data();
    void alignsParagraphs();
    void reportsBadInput_data();
    void reportsBadInput();
    void listsAtMostTheProblemLimit();
    void survivesRandomBytes();
};

void TestRtfReader::followsGeneralRules_data() {
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");

    QTest::newRow("delimiting space is not text") << QByteArray(R"({\rtf1 \b bold})") << "bold";
    QTest::newRow("second of two spaces is text") << QByteArray(R"({\rtf1 a\b0  b})") << "a b";
    QTest::newRow("other delimiter stays") << QByteArray(R"({\rtf1 a\b0;b})") << "a;b";
    QTest::newRow("digits end a word") << QByteArray(R"({\rtf1 a\fs20b})") << "ab";
    QTest::newRow("negative parameter") << QByteArray(R"({\rtf1 a\li-200 b})") << "ab";
    QTest::newRow("hyphen without digit is text") << QByteArray(R"({\rtf1 \b-x})") << "-x";
    QTest::newRow("CR and LF are not text")
        << QByteArray("{\\rtf1 one\r\ntwo\nthree\rfour}") << "onetwothreefour";
    QTest::newRow("escaped specials") << QByteArray(R"({\rtf1 a\\b\{c\}d})") << "a\\b{c}d";
    QTest::newRow("hex escape takes no delimiter")
        << QByteArray(R"({\rtf1\ansi\ansicpg1252 \'80 \'e9\'93})") << QString::fromUtf8("€ é“");
    QTest::newRow("hex escape upper case")
        << QByteArray(R"({\rtf1 \'C4})") << QString::fromUtf8("Ä");
    QTest::newRow("8-bit byte in code page 1252")
        << QByteArray("{\\rtf1 \x80\x96\xe9}") << QString::fromUtf8("€–é");
    QTest::newRow("unicode with fallback")
        << QByteArray(R"({\rtf1\uc1\u8364?x})") << QString::fromUtf8("€x");
    QTest::newRow("one fallback by default")
        << QByteArray(R"({\rtf1\u8364?x})") << QString::fromUtf8("€x");
    QTest::newRow("no fallback after uc0")
        << QByteArray(R"({\rtf1\uc0\u8364 x})") << QString::fromUtf8("€x");
    QTest::newRow("escapes count as one fallback")
        << QByteArray(R"({\rtf1\uc2\u8364\'80\'80x})") << QString::fromUtf8("€x");
    QTest::newRow("negative unicode") << QByteArray(R"({\rtf1\u-3913?})") << QString(QChar(0xF0B7));
    QTest::newRow("surrogate pair")
        << QByteArray(R"({\rtf1\u-10179?\u-8704?})") << QString::fromUtf8("😀");
    QTest::newRow("lone surrogate replaced")
        << QByteArray(R"({\rtf1\u-10179?x})") << QString::fromUtf8("\uFFFDx");
    QTest::newRow("uc belongs to its group")
        << QByteArray(R"({\rtf1{\uc2\u8364??}\u8364?x})") << QString::fromUtf8("€€x");
    QTest::newRow("group end ends fallback")
        << QByteArray(R"({\rtf1\uc3\u8364?{x}})") << QString::fromUtf8("€x");
    QTest::newRow("ignorable destination skipped")
        << QByteArray(R"({\rtf1 a{\*\unknown hidden {nested}}b})") << "ab";
    QTest::newRow("known destinations skipped")
        << QByteArray(R"({\rtf1{\info{\title T}}a{\stylesheet{\s0 Normal;}}b})") << "ab";
    QTest::newRow("unknown word ignored, text kept")
        << QByteArray(R"({\rtf1 a{\madeupword b}c})") << "abc";
    QTest::newRow("words that change nothing")
        << QByteArray(R"({\rtf1\deflang2057\deflangfe2057\deftab720\viewkind4\nowidctlpar x})")
        << "x";
    QTest::newRow("font table is not text")
        << QByteArray(R"({\rtf1{\fonttbl{\f0\fswiss{\*\panose 0}Arial;}}x})") << "x";
    QTest::newRow("colour table is not text")
        << QByteArray(R"({\rtf1{\colortbl ;\red0\green0\blue255;}x})") << "x";
    QTest::newRow("par ends a paragraph") << QByteArray(R"({\rtf1 one\par two})") << "one\ntwo";
    QTest::newRow("backslash before line break is par")
        << QByteArray("{\\rtf1 one\\\r\ntwo}") << "one\ntwo";
    QTest::newRow("tab") << QByteArray(R"({\rtf1 a\tab b})") << "a\tb";
    QTest::newRow("line") << QByteArray(R"({\rtf1 a\line b})") << QString::fromUtf8("a\u2028b");
    QTest::newRow("special symbols")
        << QByteArray(R"({\rtf1 a\~b\emdash c\-d})") << QString::fromUtf8("a\u00A0b—c\u00ADd");
    QTest::newRow("binary data skipped") << QByteArray("{\\rtf1 a\\bin3 {}}b}") << "ab";
    QTest::newRow("NUL and control bytes dropped") << QByteArray("{\\rtf1 a\0\x01"
                                                                 "b}",
                                                                 12)
                                                   << "ab";
    QTest::newRow("structure characters never come from input")
        << QByteArray(R"({\rtf1 a\u8233?b\u65532?c})") << QString::fromUtf8("a\uFFFDb\uFFFDc");
    QTest::newRow("words close to known ones do nothing")
        << QByteArray(R"({\rtf1 a\pa b\parx c\Par d\pars e\colorschememappingx f})") << "abcdef";
    QTest::newRow("destinations skipped without a star")
        << QByteArray(R"({\rtf1 a{\listoverridetable x}b{\xmlnstbl y}c{\atnid z}d})") << "abcd";
    QTest::newRow("sect and page end paragraphs")
        << QByteArray(R"({\rtf1 a\sect b\page c})") << "a\nb\nc";
    QTest::newRow("quotes, dashes and bullet")
        << QByteArray(R"({\rtf1\lquote a\rquote\endash\ldblquote b\rdblquote\bullet})")
        << QString::fromUtf8("‘a’–“b”•");
    QTest::newRow("fallback inside a run of text")
        << QByteArray(R"({\rtf1\uc3\u8364 abcd})") << QString::fromUtf8("€d");
    QTest::newRow("fallback over text then an escape")
        << QByteArray(R"({\rtf1\uc2\u8364 a\'80b})") << QString::fromUtf8("€b");
    QTest::newRow("raw tab kept, DEL dropped in a run") << QByteArray("{\\rtf1 a\tb\x7f"
                                                                      "c}")
                                                        << "a\tbc";
    QTest::newRow("8-bit bytes inside a run") << QByteArray("{\\rtf1 ab\xe9"
                                                            "cd\x93"
                                                            "e}")
                                              << QString::fromUtf8("abécd“e");
}

void TestRtfReader::followsGeneralRules() {
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    const RtfResult result = readRtf(rtf);
    QCOMPARE(shownText(*result.document), text);
    QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join(u'\n')));
}

void TestRtfReader::appliesFormatting_data() {
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QStringList>("runs");

    QTest::newRow("group restores formatting")
        << QByteArray(R"({\rtf1 {\b\fs40 big}small})")
        << QStringList{"big|b|20|default|", "small|-|12|default|"};
    QTest::newRow("plain resets to default font and size")
        << QByteArray(
               R"({\rtf1\deff1{\fonttbl{\f0 Courier;}{\f1\fswiss Arial;}}\f0\b\fs40 a\plain b})")
        << QStringList{"a|b|20|default|Courier", "b|-|12|default|Arial"};
    QTest::newRow("half points") << QByteArray(R"({\rtf1\fs21 x})")
                                 << QStringList{"x|-|10.5|default|"};
    QTest::newRow("bold parameter")
        << QByteArray(R"({\rtf1\b1 a\b0 b\b2 c\b d})")
        << QStringList{"a|b|12|default|", "b|-|12|default|", "cd|b|12|default|"};
    QTest::newRow("colour table with default entry")
        << QByteArray(R"({\rtf1{\colortbl ;\red255\green0\blue0;}\cf1 r\cf0 d})")
        << QStringList{"r|-|12|#ff0000|", "d|-|12|default|"};
    QTest::newRow("colour table without default entry")
        << QByteArray(R"({\rtf1{\colortbl\red0\green0\blue0;\red0\green0\blue255;}\cf1 b\cf0 k})")
        << QStringList{"b|-|12|#0000ff|", "k|-|12|#000000|"};
    QTest::newRow("font picks family")
        << QByteArray(R"({\rtf1{\fonttbl{\f0\fswiss MS Sans Serif;}{\f2\fswiss Arial;}}m\f2 a})")
        << QStringList{"m|-|12|default|MS Sans Serif", "a|-|12|default|Arial"};
    QTest::newRow("font table entries without braces")
        << QByteArray(R"({\rtf1{\fonttbl\f0\froman Times;\f1\fswiss Arial;}\f1 a})")
        << QStringList{"a|-|12|default|Arial"};
    QTest::newRow("lone surrogate takes the format of the text after it")
        << QByteArray(R"({\rtf1\u-10179?{\b ab}})") << QStringList{"\uFFFDab|b|12|default|"};
    QTest::newRow("text words inside the colour table do nothing")
        << QByteArray(R"({\rtf1{\colortbl;\f1\b\fs60\red255\green0\blue0;}\cf1 r})")
        << QStringList{"r|-|12|#ff0000|"};
    QTest::newRow("colour words inside the font table do nothing")
        << QByteArray(R"({\rtf1{\fonttbl{\f0\red9\b Arial;}}x})")
        << QStringList{"x|-|12|default|Arial"};
}

void TestRtfReader::appliesFormatting() {
    QFETCH(QByteArray, rtf);
    QFETCH(QStringList, runs);
    const RtfResult result = readRtf(rtf);
    QCOMPARE(describeRuns(*result.document), runs);
    QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join(u'\n')));
}

void TestRtfReader::alignsParagraphs_data() {
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QList<int>>("alignments");
    const int left = Qt::AlignLeft, centre = Qt::AlignHCenter, right = Qt::AlignRight;

    QTest::newRow("pard resets alignment")
        << QByteArray(R"({\rtf1\qc c\par\pard l\par\qr r})") << QList<int>{centre, left, right};
    QTest::newRow("alignment holds until pard")
        << QByteArray(R"({\rtf1\qc a\par b\par\pard c})") << QList<int>{centre, centre, left};
    QTest::newRow("alignment at par applies to its paragraph")
        << QByteArray(R"({\rtf1 a\qc\par b})") << QList<int>{centre, centre};
}

void TestRtfReader::alignsParagraphs() {
    QFETCH(QByteArray, rtf);
    QFETCH(QList<int>, alignments);
    const RtfResult result = readRtf(rtf);
    QList<int> shown;
    for (QTextBlock b = result.document->begin(); b.isValid(); b = b.next())
        shown << int(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask);
    QCOMPARE(shown, alignments);
}

void TestRtfReader::reportsBadInput_data() {
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem");

    QTest::newRow("empty") << QByteArray() << ""
                           << "empty input";
    QTest::newRow("not RTF") << QByteArray("hello") << "hello"
                             << "does not begin with";
    QTest::newRow("group left open") << QByteArray(R"({\rtf1 abc)") << "abc"
                                     << "not closed";
    QTest::newRow("content after the end") << QByteArray(R"({\rtf1 abc}}x)") << "abc"
                                           << "after the end";
    QTest::newRow("unmatched close") << QByteArray("ab}c") << "abc"
                                     << "unmatched }";
    QTest::newRow("nesting beyond the limit")
        << QByteArray("{\\rtf1 " + repeated("{", 10000) + "x" + repeated("}", 10000) + "}") << "x"
        << "nested deeper";
    QTest::newRow("deep nesting left open") << QByteArray("{\\rtf1 " + repeated("{", 100000)) << ""
                                            << "not closed";
    QTest::newRow("huge parameter") << QByteArray(R"({\rtf1\fs99999999999999999999 x})") << "x"
                                    << "out of range";
    QTest::newRow("huge negative parameter") << QByteArray(R"({\rtf1\cf-99999999999 x})") << "x"
                                             << "out of range";
    QTest::newRow("font size zero") << QByteArray(R"({\rtf1\fs0 x})") << "x"
                                    << "font size";
    QTest::newRow("unicode beyond 16 bits")
        << QByteArray(R"({\rtf1\u99999 ?x})") << QString::fromUtf8("\uFFFDx") << "UTF-16";
    QTest::newRow("backslash at the end") << QByteArray("{\\rtf1 a\\") << "a"
                                          << "backslash at the end";
    QTest::newRow("hex escape cut short") << QByteArray("{\\rtf1 a\\'") << "a"
                                          << "truncated";
    QTest::newRow("hex escape with one digit") << QByteArray("{\\rtf1 a\\'4") << "a"
                                               << "truncated";
    QTest::newRow("hex escape with bad digits") << QByteArray(R"({\rtf1 a\'zzb})") << "azzb"
                                                << "two hex digits";
    QTest::newRow("hex escape with one bad digit") << QByteArray(R"({\rtf1 a\'4}b)") << "a"
                                                   << "two hex digits";
    QTest::newRow("control word too long")
        << QByteArray("{\\rtf1 \\" + repeated("a", 100) + " x}") << "x"
        << "longer than";
    QTest::newRow("binary data past the end") << QByteArray(R"({\rtf1 a\bin999999 xyz})") << "a"
                                              << "binary data";
    QTest::newRow("colour not in table")
        << QByteArray(R"({\rtf1{\colortbl;\red1\green2\blue3;}\cf7 x})") << "x"
        << "colour 7";
    QTest::newRow("colour component too large")
        << QByteArray(R"({\rtf1{\colortbl;\red300\green2\blue3;}\cf1 x})") << "x"
        << "component";
    QTest::newRow("font not in table") << QByteArray(R"({\rtf1{\fonttbl{\f0 Arial;}}\f5 x})") << "x"
                                       << "font 5";
    QTest::newRow("unassigned code page byte")
        << QByteArray(R"({\rtf1 \'81})") << QString::fromUtf8("\uFFFD") << "no character";
    QTest::newRow("unknown code page") << QByteArray(R"({\rtf1\ansicpg99999 x})") << "x"
                                       << "code page 99999";
}

void TestRtfReader::reportsBadInput() {
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QFETCH(QString, problem);
    const RtfResult result = readRtf(rtf);
    QVERIFY(result.document);
    QCOMPARE(shownText(*result.document), text);
    const QString all = result.problems.join(u'\n');
    QVERIFY2(all.contains(problem), qPrintable(all));
    QVERIFY2(all.startsWith(QStringLiteral("byte ")), qPrintable(all));
}

void TestRtfReader::listsAtMostTheProblemLimit() {
    // Not RTF at all, then a thousand unmatched braces: 1001 problems.
    const RtfResult result = readRtf(repeated("}", 1000));
    QCOMPARE(RtfMaxProblems, 50);
    QCOMPARE(result.problems.size(), 51);
    QCOMPARE(result.problems.last(), QStringLiteral("951 further problem(s) not listed"));
}

// A fixed seed keeps the run repeatable; the fuzz target explores further.
void TestRtfReader::survivesRandomBytes() {
    QRandomGenerator random(520);
    const QByteArray alphabet = QByteArray("{}\\'*uc0123456789-abfrt ;\r\n") + char(0) + char(0xE9);
    for (int round = 0; round < 2000; ++round) {
        QByteArray input = "{\\rtf1 ";
        const int length = int(random.bounded(200));
        for (int i = 0; i < length; ++i)
            input += alphabet.at(random.bounded(int(alphabet.size())));
        const RtfResult result = readRtf(input);
        QVERIFY(result.document);
        QVERIFY(result.problems.size() <= RtfMaxProblems + 1);
    }
}

QTEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
