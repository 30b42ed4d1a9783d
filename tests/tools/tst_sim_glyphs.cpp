// The character the virtual printer draws for each byte under a code page
// and an international character set, against iconv run as a program and
// against national tables written out here.
#include "Job.h"
#include "MemorySwitches.h"
#include "PrintSettings.h"
#include "TestPage.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace krv::sim;

namespace {

PrintSettings withSwitch(int number, std::uint16_t value) {
    std::array<std::uint16_t, 16> values{};
    values[std::size_t(number)] = value;
    return PrintSettings::fromValues(values);
}

// Bytes 0x80-0xFF as the iconv program converts them, one line each: an
// empty line where the code page has no character.
QStringList iconvUpperHalf(const QString &name) {
    QByteArray input;
    for (int b = 0x80; b <= 0xFF; ++b)
        input += char(b) + QByteArray("\n");
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), {"-c", "-f", name, "-t", "UTF-8"});
    iconv.write(input);
    iconv.closeWriteChannel();
    if (!iconv.waitForFinished(20000))
        return {};
    QStringList lines = QString::fromUtf8(iconv.readAllStandardOutput()).split(u'\n');
    lines.removeLast(); // after the last line end
    return lines;
}

} // namespace

class TestSimGlyphs : public QObject {
    Q_OBJECT
private slots:
    void upperHalfIsWhatIconvGives_data();
    void upperHalfIsWhatIconvGives();
    void nationalSetReplacesTwelvePositions_data();
    void nationalSetReplacesTwelvePositions();
    void jobNamesWhatItCannotDrawOnce_data();
    void jobNamesWhatItCannotDrawOnce();
};

void TestSimGlyphs::upperHalfIsWhatIconvGives_data() {
    QTest::addColumn<int>("value"); // the code-page field of switch 3
    QTest::addColumn<QString>("iconvName");
    QTest::newRow("Normal") << 0x00 << "CP437";
    QTest::newRow("437(USA,std. Europe) ") << 0x01 << "CP437";
    QTest::newRow("437(USA,std. Europe)") << 0x03 << "CP437";
    QTest::newRow("858 (Multilingual)") << 0x04 << "CP858";
    QTest::newRow("852 (Latin-2)") << 0x05 << "CP852";
    QTest::newRow("860 (Portuguese)") << 0x06 << "CP860";
    QTest::newRow("861 (Icelandic)") << 0x07 << "CP861";
    QTest::newRow("863 (Canadian Frence)") << 0x08 << "CP863";
    QTest::newRow("865 (Nordic)") << 0x09 << "CP865";
    QTest::newRow("866 (Cyrillic Russian)") << 0x0A << "CP866";
    QTest::newRow("855 (Cyrillic Bulgarian)") << 0x0B << "CP855";
    QTest::newRow("857 (Turkish)") << 0x0C << "CP857";
    QTest::newRow("862 (Hebrew)") << 0x0D << "CP862";
    QTest::newRow("864 (Arabic)") << 0x0E << "CP864";
    QTest::newRow("737 (Greek)") << 0x0F << "CP737";
    QTest::newRow("851 (Greek)") << 0x10 << "CP851";
    QTest::newRow("869 (Greek)") << 0x11 << "CP869";
    QTest::newRow("772 (Lithuanian)") << 0x13 << "CP772";
    QTest::newRow("774 (Lithuanian)") << 0x14 << "CP774";
    QTest::newRow("874 (Thai)") << 0x15 << "WINDOWS-874";
    QTest::newRow("1252 (Windows Latin-1)") << 0x20 << "WINDOWS-1252";
    QTest::newRow("1250 (Windows Latin-2)") << 0x21 << "WINDOWS-1250";
    QTest::newRow("1251 (Windows Cyrillic)") << 0x22 << "WINDOWS-1251";
}

void TestSimGlyphs::upperHalfIsWhatIconvGives() {
    QFETCH(int, value);
    QFETCH(QString, iconvName);
    const PrintSettings settings = withSwitch(3, std::uint16_t(value << 8));
    QVERIFY2(settings.notes.isEmpty(), qPrintable(settings.notes.join(u'\n')));
    const QStringList expected = iconvUpperHalf(iconvName);
    QCOMPARE(expected.size(), 128);
    for (int b = 0x80; b <= 0xFF; ++b) {
        const QString line = expected[b - 0x80];
        const char32_t want = line.isEmpty() ? PrintSettings::NoCharacter : line.toUcs4().at(0);
        if (settings.characters[std::size_t(b)] != want)
            QFAIL(qPrintable(QStringLiteral("byte %1: U+%2, iconv gives U+%3")
                                 .arg(b, 2, 16)
                                 .arg(uint(settings.characters[std::size_t(b)]), 4, 16)
                                 .arg(uint(want), 4, 16)));
    }
}

void TestSimGlyphs::nationalSetReplacesTwelvePositions_data() {
    QTest::addColumn<int>("value"); // the low digit of switch 1
    // What the set prints at # $ @ [ \ ] ^ ` { | } ~, in that order.
    QTest::addColumn<QString>("twelve");
    QTest::newRow("USA") << 0 << QString::fromUtf8("#$@[\\]^`{|}~");
    QTest::newRow("France") << 1 << QString::fromUtf8("#$à°ç§^`éùè¨");
    QTest::newRow("Germany") << 2 << QString::fromUtf8("#$§ÄÖÜ^`äöüß");
    QTest::newRow("U.K.") << 3 << QString::fromUtf8("£$@[\\]^`{|}~");
    QTest::newRow("Denmark #1") << 4 << QString::fromUtf8("#$@ÆØÅ^`æøå~");
    QTest::newRow("Sweden") << 5 << QString::fromUtf8("#¤ÉÄÖÅÜéäöåü");
    QTest::newRow("Italy") << 6 << QString::fromUtf8("#$@°\\é^ùàòèì");
    QTest::newRow("Spain #1") << 7 << QString::fromUtf8("₧$@¡Ñ¿^`¨ñ}~");
    QTest::newRow("Japan") << 8 << QString::fromUtf8("#$@[¥]^`{|}~");
    QTest::newRow("Norway") << 9 << QString::fromUtf8("#¤ÉÆØÅÜéæøåü");
    QTest::newRow("Denmark #2") << 10 << QString::fromUtf8("#$ÉÆØÅÜéæøåü");
    QTest::newRow("Spain #2") << 11 << QString::fromUtf8("#$á¡Ñ¿é`íñóú");
    QTest::newRow("Latin America") << 12 << QString::fromUtf8("#$á¡Ñ¿éüíñóú");
    QTest::newRow("Korean") << 13 << QString::fromUtf8("#$@[₩]^`{|}~");
}

void TestSimGlyphs::nationalSetReplacesTwelvePositions() {
    QFETCH(int, value);
    QFETCH(QString, twelve);
    const PrintSettings settings = withSwitch(1, std::uint16_t(value));
    QVERIFY2(settings.notes.isEmpty(), qPrintable(settings.notes.join(u'\n')));
    const QByteArray positions = "#$@[\\]^`{|}~";
    const QList<uint> want = twelve.toUcs4();
    QCOMPARE(want.size(), 12);
    for (int c = 0x20; c < 0x7F; ++c) {
        const qsizetype i = positions.indexOf(char(c));
        QCOMPARE(uint(settings.characters[std::size_t(c)]), i < 0 ? uint(c) : want[i]);
    }
}

void TestSimGlyphs::jobNamesWhatItCannotDrawOnce_data() {
    QTest::addColumn<int>("switchNumber");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("line"); // how the job's report starts it; empty: no such line
    QTest::newRow("Ireland") << 1 << 0xE
                             << "international character set Ireland is not known to the "
                                "simulator; drawn as USA";
    QTest::newRow("Legal") << 1 << 0xF
                           << "international character set Legal is not known to the "
                              "simulator; drawn as USA";
    QTest::newRow("3844 (CS2)") << 3 << 0x4300
                                << "code page 3844 (CS2) is not known to the simulator; bytes "
                                   "128-255 are drawn as substitute marks";
    QTest::newRow("Katakana") << 3 << 0x0200 << "code page Katakana is not known";
    QTest::newRow("no entry") << 3 << 0x1600 << "code page of switch 3 bits 1600 is listed by no";
    // DejaVu has no Thai letters.
    QTest::newRow("874 (Thai)") << 3 << 0x1500 << "code page 874 (Thai): ";
    QTest::newRow("858 (Multilingual)") << 3 << 0x0400 << "";
}

// What the simulator cannot draw is said once per job however much it
// prints, and drawn as plain ASCII or substitute marks, never guessed.
void TestSimGlyphs::jobNamesWhatItCannotDrawOnce() {
    QFETCH(int, switchNumber);
    QFETCH(int, value);
    QFETCH(QString, line);
    MemorySwitches switches;
    switches.set(switchNumber, std::uint16_t(value));
    switches.store();
    QStringList lines;
    Job job(switches, {}, [&lines](const QString &l) { lines += l; });
    job.feed(krv::testprint::makeTestPage());
    job.feed("more text\r\n");
    job.finish();
    static const QRegularExpression notes(QStringLiteral("not known|no entry|no glyph"));
    const QStringList said = lines.filter(notes);
    QCOMPARE(said.size(), line.isEmpty() ? 0 : 1);
    QVERIFY(line.isEmpty() || said[0].startsWith(line));
    const PrintSettings settings = withSwitch(switchNumber, std::uint16_t(value));
    if (line.contains(QLatin1String("character set"))) {
        for (char c : QByteArray("#$@[\\]^`{|}~"))
            QCOMPARE(settings.characters[uchar(c)], char32_t(c));
    } else if (line.contains(QLatin1String("substitute")) ||
               line.contains(QLatin1String("no entry"))) {
        for (int b = 0x80; b <= 0xFF; ++b)
            QCOMPARE(settings.characters[std::size_t(b)], PrintSettings::Unknown);
    }
}

QTEST_MAIN(TestSimGlyphs)
#include "tst_sim_glyphs.moc"
