// The RTF tokenizer's edge cases: each input with the tokens it must give,
// written as "kind:detail@offset" with "!fault" marks.
#include "RtfTokenizer.h"

#include <QTest>

using namespace krv::help;

namespace {

QString describe(const RtfToken &t) {
    const QString text = QString::fromLatin1(t.text.data(), qsizetype(t.text.size()));
    QString out;
    switch (t.kind) {
    case RtfTokenKind::GroupStart:
        out = QStringLiteral("{");
        break;
    case RtfTokenKind::GroupEnd:
        out = QStringLiteral("}");
        break;
    case RtfTokenKind::Word:
        out = QStringLiteral("w:") + text +
              (t.hasParam ? u'=' + QString::number(t.param) : QString());
        break;
    case RtfTokenKind::Symbol:
        out = QStringLiteral("s:%1").arg(int(t.text.front()), 2, 16, QLatin1Char('0'));
        break;
    case RtfTokenKind::HexByte:
        out = QStringLiteral("x:%1").arg(t.param, 2, 16, QLatin1Char('0'));
        break;
    case RtfTokenKind::Text:
        out = QStringLiteral("t:") + text;
        break;
    case RtfTokenKind::Binary:
        out = QStringLiteral("bin:") + text;
        break;
    case RtfTokenKind::Broken:
        out = QStringLiteral("broken");
        break;
    }
    const std::pair<int, const char *> faults[] = {
        {RtfToken::WordTooLong, "!long"},          {RtfToken::ParamOutOfRange, "!range"},
        {RtfToken::BinaryPastEnd, "!past"},        {RtfToken::BackslashAtEnd, "!end"},
        {RtfToken::EscapeTruncated, "!truncated"}, {RtfToken::EscapeNotHex, "!nothex"}};
    for (const auto &[bit, mark] : faults) {
        if (t.faults & bit)
            out += QLatin1String(mark);
    }
    return out + u'@' + QString::number(t.offset);
}

} // namespace

class TestRtfTokenizer : public QObject {
    Q_OBJECT
private slots:
    void splitsInput_data();
    void splitsInput();
};

void TestRtfTokenizer::splitsInput_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("tokens");
    const QByteArray letters32(32, 'a');

    QTest::newRow("nothing") << QByteArray() << QStringList{};
    QTest::newRow("only line breaks") << QByteArray("\r\n\n") << QStringList{};
    QTest::newRow("groups and text") << QByteArray("{ab}") << QStringList{"{@0", "t:ab@1", "}@3"};
    QTest::newRow("group end with no start")
        << QByteArray("}a{") << QStringList{"}@0", "t:a@1", "{@2"};
    QTest::newRow("line breaks split text, are not text")
        << QByteArray("a\r\nb") << QStringList{"t:a@0", "t:b@3"};
    QTest::newRow("delimiting space belongs to the word")
        << QByteArray("\\b  x") << QStringList{"w:b@0", "t: x@3"};
    QTest::newRow("digits end a word")
        << QByteArray("\\fs20b") << QStringList{"w:fs=20@0", "t:b@5"};
    QTest::newRow("hyphen without digit is text")
        << QByteArray("\\b-x") << QStringList{"w:b@0", "t:-x@2"};
    QTest::newRow("largest parameter")
        << QByteArray("\\fs2147483647") << QStringList{"w:fs=2147483647@0"};
    QTest::newRow("one beyond the largest")
        << QByteArray("\\fs2147483648") << QStringList{"w:fs=2147483647!range@0"};
    QTest::newRow("smallest parameter")
        << QByteArray("\\li-2147483647") << QStringList{"w:li=-2147483647@0"};
    QTest::newRow("one below the smallest")
        << QByteArray("\\li-2147483648") << QStringList{"w:li=-2147483647!range@0"};
    QTest::newRow("ten digits with leading zeros")
        << QByteArray("\\fs0000000001") << QStringList{"w:fs=1@0"};
    QTest::newRow("eleven digits")
        << QByteArray("\\fs00000000001") << QStringList{"w:fs=1!range@0"};
    QTest::newRow("thirty digits") << QByteArray("\\u" + QByteArray(30, '9') + "x")
                                   << QStringList{"w:u=2147483647!range@0", "t:x@32"};
    QTest::newRow("longest word") << QByteArray("\\" + letters32)
                                  << QStringList{"w:" + QString::fromLatin1(letters32) + "@0"};
    QTest::newRow("word one letter too long")
        << QByteArray("\\" + letters32 + "b1")
        << QStringList{"w:" + QString::fromLatin1(letters32) + "b=1!long@0"};
    QTest::newRow("control symbols")
        << QByteArray("\\\\\\{\\*\\~\\\r")
        << QStringList{"s:5c@0", "s:7b@2", "s:2a@4", "s:7e@6", "s:0d@8"};
    QTest::newRow("symbol takes no delimiter")
        << QByteArray("\\~ x") << QStringList{"s:7e@0", "t: x@2"};
    QTest::newRow("hex escape") << QByteArray("\\'e9\\'C4x")
                                << QStringList{"x:e9@0", "x:c4@4", "t:x@8"};
    QTest::newRow("backslash at the end")
        << QByteArray("a\\") << QStringList{"t:a@0", "broken!end@1"};
    QTest::newRow("escape at the end")
        << QByteArray("a\\'") << QStringList{"t:a@0", "broken!truncated@1"};
    QTest::newRow("escape with one digit at the end")
        << QByteArray("\\'4") << QStringList{"broken!truncated@0"};
    QTest::newRow("escape with no hex digit")
        << QByteArray("\\'zz") << QStringList{"broken!nothex@0", "t:zz@2"};
    QTest::newRow("escape with one hex digit")
        << QByteArray("\\'4}") << QStringList{"broken!nothex@0", "}@3"};
    QTest::newRow("binary data holds braces and backslashes")
        << QByteArray("\\bin4 {}\\}x") << QStringList{"bin:{}\\}@0", "t:x@10"};
    QTest::newRow("binary count reaches the end exactly")
        << QByteArray("\\bin3 abc") << QStringList{"bin:abc@0"};
    QTest::newRow("binary count one past the end")
        << QByteArray("\\bin4 abc") << QStringList{"bin:abc!past@0"};
    QTest::newRow("binary count far past the end")
        << QByteArray("\\bin99999999999 ab") << QStringList{"bin:ab!range!past@0"};
    QTest::newRow("binary without count")
        << QByteArray("\\bin x") << QStringList{"bin:@0", "t:x@5"};
    QTest::newRow("binary with negative count")
        << QByteArray("\\bin-5 x") << QStringList{"bin:@0", "t:x@7"};
    QTest::newRow("NUL and high bytes are text")
        << QByteArray("a\0\xe9", 3) << QStringList{QString::fromLatin1("t:a\0\xe9@0", 7)};
}

void TestRtfTokenizer::splitsInput() {
    QFETCH(QByteArray, input);
    QFETCH(QStringList, tokens);
    RtfTokenizer tokenizer(std::string_view(input.constData(), std::size_t(input.size())));
    QStringList shown;
    RtfToken token;
    while (tokenizer.next(token))
        shown << describe(token);
    QCOMPARE(shown, tokens);
    QCOMPARE(tokenizer.position(), std::size_t(input.size()));
}

QTEST_GUILESS_MAIN(TestRtfTokenizer)
#include "tst_rtftokenizer.moc"
