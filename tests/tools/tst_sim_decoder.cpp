// The printer's decoder against jobs the utility sends and against broken ones.
#include "Decoder.h"
#include "SettingsBatch.h"
#include "TestPage.h"

#include <QTest>

#include <map>

using namespace krv::sim;
using krv::settings::Selection;

namespace {

QByteArray framed(const QByteArray &token) {
    return "\x1b\x1d" + token + '\n' + '\0';
}

// The commands a job is expected to carry, as "offset token".
QStringList switchLines(const QList<QByteArray> &tokens) {
    QStringList lines;
    for (int i = 0; i < tokens.size(); ++i)
        lines << QStringLiteral("%1 switch command %2").arg(i * 11).arg(QString(tokens[i]));
    return lines;
}

QStringList describe(const std::vector<Event> &events) {
    QStringList lines;
    for (const Event &e : events)
        lines << QStringLiteral("%1 %2").arg(e.offset).arg(e.describe());
    return lines;
}

// Problem kinds under the names the tables use, kept apart from the
// program's own wording.
QString shortName(Problem::Kind kind) {
    static const std::map<Problem::Kind, QString> names{
        {Problem::Kind::CutShort, "cut"},         {Problem::Kind::MissingLineFeed, "noLF"},
        {Problem::Kind::MissingNul, "noNUL"},     {Problem::Kind::UnknownOperation, "op"},
        {Problem::Kind::UnknownSwitch, "switch"}, {Problem::Kind::LowercaseHex, "lower"},
        {Problem::Kind::BadToken, "token"},       {Problem::Kind::UnknownCommand, "command"},
        {Problem::Kind::BadArgument, "argument"}, {Problem::Kind::StrayByte, "stray"},
        {Problem::Kind::Dropped, "dropped"},
    };
    return names.at(kind);
}

// "kind@offset/commandOffset" for each problem.
QStringList describe(const std::vector<Problem> &problems) {
    QStringList lines;
    for (const Problem &p : problems)
        lines
            << QStringLiteral("%1@%2/%3").arg(shortName(p.kind)).arg(p.offset).arg(p.commandOffset);
    return lines;
}

Selection lastEntries() {
    Selection selection{};
    for (std::size_t i = 0; i < krv::settings::SettingCount; ++i)
        selection[i] = std::int16_t(krv::settings::catalogue()[i].entries.size() - 1);
    return selection;
}

// Every list at an entry that sends two commands where it has one.
Selection longestSelection() {
    return {1, 2, 6, 1, 2, 1, 2, 1, 11, 36, 1, 2, 1, 2, 1, 3};
}

} // namespace

class TestSimDecoder : public QObject {
    Q_OBJECT
private slots:
    void wellFormedBatches_data();
    void wellFormedBatches();
    void testPageEventCounts();
    void testPageLandmarks_data();
    void testPageLandmarks();
    void testPageTextIsEveryPrintedByte();
    void malformed_data();
    void malformed();
    void sameResultWhateverTheChunks_data();
    void sameResultWhateverTheChunks();
    void sizeAndFeedArguments_data();
    void sizeAndFeedArguments();
};

void TestSimDecoder::wellFormedBatches_data() {
    QTest::addColumn<QByteArray>("job");
    QTest::addColumn<QStringList>("expected");

    const QList<QByteArray> worked{"#-20030", "#+20020", "#+10010", "#W00000"};
    QTest::newRow("44-byte worked example")
        << QByteArray::fromHex("1b1d232d3230303330 0a00 1b1d232b3230303230 0a00"
                               "1b1d232b3130303130 0a00 1b1d23573030303030 0a00")
        << switchLines(worked);

    const QList<QByteArray> last{"#+00004", "#-20030", "#+20020", "#+20007", "#+30002",
                                 "#+40003", "#+A0100", "#+A0010", "#+B0100", "#-1000F",
                                 "#+1000F", "#-3FF00", "#+34F00", "#+10010", "#+30010",
                                 "#+30001", "#+40010", "#+10080", "#+300C0", "#W00000"};
    QTest::newRow("220 bytes, every list at its last entry")
        << krv::settings::makeSettingsBatch(lastEntries()) << switchLines(last);

    const QList<QByteArray> longest{
        "#-00004", "#-20030", "#+20010", "#-20007", "#+20006", "#-30002", "#+40003", "#-A0100",
        "#+A0010", "#-B0100", "#-1000F", "#+1000A", "#-3FF00", "#+34A00", "#-10010", "#+30010",
        "#-30001", "#+40010", "#-10080", "#-300C0", "#+30080", "#W00000"};
    QTest::newRow("242 bytes, the longest batch")
        << krv::settings::makeSettingsBatch(longestSelection()) << switchLines(longest);

    QTest::newRow("closing command alone") << framed("#W00000") << switchLines({"#W00000"});
}

void TestSimDecoder::wellFormedBatches() {
    QFETCH(QByteArray, job);
    QFETCH(QStringList, expected);
    const Decoded decoded = decode(job);
    QCOMPARE(describe(decoded.problems), QStringList());
    QCOMPARE(describe(decoded.events), expected);
}

void TestSimDecoder::testPageEventCounts() {
    const Decoded decoded = decode(krv::testprint::makeTestPage());
    QCOMPARE(describe(decoded.problems), QStringList());
    std::map<Event::Kind, int> counts;
    for (const Event &e : decoded.events)
        ++counts[e.kind];
    // Counted from the page's layout: 16 rows plus 16 other line ends, a
    // bold label per row plus two headings, eight size commands.
    QCOMPARE(counts[Event::Kind::Switch], 0);
    QCOMPARE(counts[Event::Kind::Reset], 1);
    QCOMPARE(counts[Event::Kind::Size], 8);
    QCOMPARE(counts[Event::Kind::BoldOn], 18);
    QCOMPARE(counts[Event::Kind::BoldOff], 17);
    QCOMPARE(counts[Event::Kind::Feed], 1);
    QCOMPARE(counts[Event::Kind::Return], 32);
    QCOMPARE(counts[Event::Kind::LineFeed], 32);
    QCOMPARE(counts[Event::Kind::Text], 43);
}

void TestSimDecoder::testPageLandmarks_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("reset first") << "0 ESC @ (reset)";
    QTest::newRow("title size") << "2 ESC i12 (size 2x3)";
    QTest::newRow("title") << "6 text \"Vela KRV520\"";
    QTest::newRow("title size back") << "17 ESC i00 (size 1x1)";
    QTest::newRow("subtitle") << "23 text \"Configuration utility test print\"";
    QTest::newRow("heading bold") << "61 ESC E (bold on)";
    QTest::newRow("header") << "84 text \"         0 1 2 3 4 5 6 7 8 9 A B C D E F\"";
    QTest::newRow("row 0 label") << "128 text \"       0     \"";
    QTest::newRow("row 0 bold off") << "141 ESC F (bold off)";
    QTest::newRow("row 0 codes")
        << "143 text \"  0 @ P ` p \\x80 \\x90 \\xA0 \\xB0 \\xC0 \\xD0 \\xE0 \\xF0 \"";
    QTest::newRow("row F label with letter F") << "833 text \"       F     \"";
    QTest::newRow("row F codes")
        << "848 text \"/ ? O _ o \\x7F \\x8F \\x9F \\xAF \\xBF \\xCF \\xDF \\xEF \\xFF \"";
    QTest::newRow("first sample") << "911 ESC i11 (size 2x2)";
    QTest::newRow("last sample") << "967 ESC i55 (size 6x6)";
    QTest::newRow("closing feed") << "989 ESC d3 (feed 3 lines)";
}

void TestSimDecoder::testPageLandmarks() {
    QFETCH(QString, line);
    const QStringList lines = describe(decode(krv::testprint::makeTestPage()).events);
    QVERIFY2(lines.contains(line), qPrintable(line));
}

void TestSimDecoder::testPageTextIsEveryPrintedByte() {
    QByteArray text;
    for (const Event &e : decode(krv::testprint::makeTestPage()).events)
        text += e.text;
    // 992 bytes less the commands and line ends.
    QCOMPARE(text.size(), 821);
    for (int c = 32; c < 256; ++c)
        QVERIFY2(text.contains(char(c)), qPrintable(QString::number(c)));
}

void TestSimDecoder::malformed_data() {
    QTest::addColumn<QByteArray>("job");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<QStringList>("events");

    const QByteArray store = framed("#W00000");
    QTest::newRow("cut short by the next command")
        << "\x1b\x1d#+200" + framed("#+10010") << QStringList{"cut@7/0"}
        << QStringList{"7 switch command #+10010"};
    QTest::newRow("cut short by an early LF")
        << QByteArray("\x1b\x1d#+2003\n\0", 10) + store << QStringList{"cut@8/0"}
        << QStringList{"10 switch command #W00000"};
    QTest::newRow("cut short by a NUL")
        << QByteArray("\x1b\x1d#+20\0", 7) + store << QStringList{"cut@6/0"}
        << QStringList{"7 switch command #W00000"};
    QTest::newRow("missing LF") << QByteArray("\x1b\x1d#+20030\0", 10) + store
                                << QStringList{"noLF@9/0"}
                                << QStringList{"10 switch command #W00000"};
    QTest::newRow("missing NUL") << QByteArray("\x1b\x1d#+20030\n") + store
                                 << QStringList{"noNUL@10/0"}
                                 << QStringList{"10 switch command #W00000"};
    QTest::newRow("unknown operation") << framed("#*20030") + store << QStringList{"op@3/0"}
                                       << QStringList{"11 switch command #W00000"};
    QTest::newRow("store with operands")
        << framed("#W10000") << QStringList{"op@3/0"} << QStringList{};
    QTest::newRow("unknown switch") << framed("#+G0030") + store << QStringList{"switch@4/0"}
                                    << QStringList{"11 switch command #W00000"};
    QTest::newRow("lowercase switch")
        << framed("#+a0100") << QStringList{"lower@4/0"} << QStringList{};
    QTest::newRow("lowercase mask")
        << framed("#+20020") + framed("#-3ff00") + store << QStringList{"lower@16/11"}
        << QStringList{"0 switch command #+20020", "22 switch command #W00000"};
    QTest::newRow("token without #")
        << framed("x+20030") << QStringList{"token@2/0"} << QStringList{};
    QTest::newRow("mask digit not hex")
        << framed("#+2003G") << QStringList{"token@8/0"} << QStringList{};
    QTest::newRow("stray control byte")
        << QByteArray("AB\x07"
                      "CD")
        << QStringList{"stray@2/2"} << QStringList{"0 text \"AB\"", "3 text \"CD\""};
    QTest::newRow("stray NUL and GS")
        << QByteArray("\0\x1d", 2) << QStringList{"stray@0/0", "stray@1/1"} << QStringList{};
    QTest::newRow("unknown ESC command")
        << QByteArray("\x1bZok") << QStringList{"command@1/0"} << QStringList{"2 text \"ok\""};
    QTest::newRow("size with a letter")
        << QByteArray("\x1biAB") << QStringList{"argument@2/0"} << QStringList{"2 text \"AB\""};
    QTest::newRow("feed with a letter")
        << QByteArray("\x1b"
                      "dX")
        << QStringList{"argument@2/0"} << QStringList{"2 text \"X\""};
    QTest::newRow("ESC ESC") << QByteArray("\x1b\x1b@") << QStringList{"cut@1/0"}
                             << QStringList{"1 ESC @ (reset)"};
    QTest::newRow("size cut short by ESC")
        << QByteArray("\x1bi\x1b"
                      "E")
        << QStringList{"cut@2/0"} << QStringList{"2 ESC E (bold on)"};
    QTest::newRow("dropped inside a switch command")
        << framed("#+20020") + "\x1b\x1d#+1" << QStringList{"dropped@16/11"}
        << QStringList{"0 switch command #+20020"};
    QTest::newRow("dropped before the NUL")
        << QByteArray("\x1b\x1d#W00000\n") << QStringList{"dropped@10/0"} << QStringList{};
    QTest::newRow("dropped after a size digit")
        << QByteArray("\x1bi1") << QStringList{"dropped@3/0"} << QStringList{};
    QTest::newRow("dropped after ESC")
        << QByteArray("ab\x1b") << QStringList{"dropped@3/2"} << QStringList{"0 text \"ab\""};
    QTest::newRow("status request inside a batch")
        << framed("#+20020") + "\x10\x04\x04" + store << QStringList{}
        << QStringList{"0 switch command #+20020", "11 DLE EOT 4 (status request)",
                       "14 switch command #W00000"};
    QTest::newRow("DLE not followed by EOT")
        << QByteArray("\x10Xok") << QStringList{"command@1/0"} << QStringList{"1 text \"Xok\""};
    QTest::newRow("status request 5") << QByteArray("\x10\x04\x05ok") << QStringList{"argument@2/0"}
                                      << QStringList{"3 text \"ok\""};
    QTest::newRow("dropped after DLE EOT")
        << QByteArray("\x10\x04") << QStringList{"dropped@2/0"} << QStringList{};
    QTest::newRow("several in a row")
        << QByteArray("\x01\x1bq", 3) + framed("#+1001") + framed("#+10010")
        << QStringList{"stray@0/0", "command@2/1", "cut@11/3"}
        << QStringList{"13 switch command #+10010"};
}

void TestSimDecoder::malformed() {
    QFETCH(QByteArray, job);
    QFETCH(QStringList, problems);
    QFETCH(QStringList, events);
    const Decoded decoded = decode(job);
    QCOMPARE(describe(decoded.problems), problems);
    QCOMPARE(describe(decoded.events), events);
}

void TestSimDecoder::sameResultWhateverTheChunks_data() {
    malformed_data();
    QTest::newRow("test page") << krv::testprint::makeTestPage() << QStringList{} << QStringList{};
    QTest::newRow("long text run") << QByteArray(1000, 'x') + "\r\n"
                                   << QStringList{} << QStringList{};
}

void TestSimDecoder::sameResultWhateverTheChunks() {
    QFETCH(QByteArray, job);
    const Decoded whole = decode(job);
    for (int chunk : {1, 2, 3, 7, 11}) {
        Decoder decoder;
        for (qsizetype at = 0; at < job.size(); at += chunk)
            decoder.feed(
                QByteArrayView(job).sliced(at, std::min<qsizetype>(chunk, job.size() - at)));
        decoder.finish();
        QCOMPARE(describe(decoder.takeEvents()), describe(whole.events));
        QCOMPARE(describe(decoder.takeProblems()), describe(whole.problems));
    }
}

void TestSimDecoder::sizeAndFeedArguments_data() {
    QTest::addColumn<QByteArray>("job");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("lines");
    QTest::newRow("i00") << QByteArray("\x1bi00") << 1 << 1 << -1;
    QTest::newRow("i12") << QByteArray("\x1bi12") << 2 << 3 << -1;
    QTest::newRow("i90") << QByteArray("\x1bi90") << 10 << 1 << -1;
    QTest::newRow("d0") << QByteArray("\x1b"
                                      "d0")
                        << -1 << -1 << 0;
    QTest::newRow("d3") << QByteArray("\x1b"
                                      "d3")
                        << -1 << -1 << 3;
    QTest::newRow("d9") << QByteArray("\x1b"
                                      "d9")
                        << -1 << -1 << 9;
}

void TestSimDecoder::sizeAndFeedArguments() {
    QFETCH(QByteArray, job);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, lines);
    const Decoded decoded = decode(job);
    QCOMPARE(decoded.problems.size(), std::size_t(0));
    QCOMPARE(decoded.events.size(), std::size_t(1));
    const Event &e = decoded.events.front();
    if (lines < 0) {
        QCOMPARE(e.kind, Event::Kind::Size);
        QCOMPARE(e.width, width);
        QCOMPARE(e.height, height);
    } else {
        QCOMPARE(e.kind, Event::Kind::Feed);
        QCOMPARE(e.lines, lines);
    }
}

QTEST_GUILESS_MAIN(TestSimDecoder)
#include "tst_sim_decoder.moc"
