// Receipts drawn from the printable stream.
#include "Decoder.h"
#include "ReceiptRenderer.h"
#include "TestPage.h"

#include <QImage>
#include <QTest>

using namespace krv::sim;

namespace {

QImage render(const QByteArray &job) {
    return renderReceipt(decode(job).events);
}

bool isInk(QRgb pixel) {
    return qGray(pixel) < 128;
}

int inkCount(const QImage &image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += isInk(image.pixel(x, y));
    return count;
}

QRect inkBounds(const QImage &image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isInk(image.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Rows of the image that hold ink, grouped into bands separated by blank rows.
int inkBands(const QImage &image) {
    int bands = 0;
    bool inBand = false;
    for (int y = 0; y < image.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.width() && !ink; ++x)
            ink = isInk(image.pixel(x, y));
        if (ink && !inBand)
            ++bands;
        inBand = ink;
    }
    return bands;
}

// Switch values "X=HHHH,..." over all-zero switches.
PrintSettings settingsOf(const QString &list) {
    std::array<std::uint16_t, 16> values{};
    for (const QString &item : list.split(u',', Qt::SkipEmptyParts))
        values[std::size_t(item.left(1).toInt(nullptr, 16))] = item.mid(2).toUShort(nullptr, 16);
    return PrintSettings::fromValues(values);
}

struct Drawn {
    QImage image;
    std::vector<ReceiptRenderer::Cell> cells;
};

Drawn draw(const QByteArray &job, const PrintSettings &settings) {
    ReceiptRenderer renderer(settings);
    for (const Event &event : decode(job).events)
        renderer.apply(event);
    Drawn drawn;
    drawn.image = renderer.finish();
    drawn.cells = renderer.cells();
    return drawn;
}

} // namespace

class TestSimRender : public QObject {
    Q_OBJECT
private slots:
    void receiptIsPrintWidth_data();
    void receiptIsPrintWidth();
    void testPageHasInkWhereTextIs();
    void boldIsHeavier();
    void sizeScalesTheGlyph_data();
    void sizeScalesTheGlyph();
    void resetDropsTheUnprintedLine();
    void feedAddsLines();
    void longLineWraps();
    void switchCommandsDrawNothing();
    void endlessFeedIsCutOff();
    void oneSwitchChangesOnlyItsCharacters_data();
    void oneSwitchChangesOnlyItsCharacters();
    void geometryFollowsSwitches_data();
    void geometryFollowsSwitches();
};

void TestSimRender::receiptIsPrintWidth_data() {
    QTest::addColumn<QByteArray>("job");
    QTest::newRow("test page") << krv::testprint::makeTestPage();
    QTest::newRow("one line") << QByteArray("Hello\r\n");
    QTest::newRow("text without line end") << QByteArray("Hello");
    QTest::newRow("only a feed") << QByteArray("\x1b"
                                               "d1");
}

void TestSimRender::receiptIsPrintWidth() {
    QFETCH(QByteArray, job);
    const QImage image = render(job);
    QVERIFY(!image.isNull());
    // 72 mm at 203 dots per inch.
    QCOMPARE(image.width(), 576);
}

void TestSimRender::testPageHasInkWhereTextIs() {
    const QImage image = render(krv::testprint::makeTestPage());
    const QRect ink = inkBounds(image);
    QVERIFY(!ink.isEmpty());
    // The 6x6 sample is 8 characters of 72 dots: the whole width.
    QVERIFY2(ink.right() > 540, qPrintable(QString::number(ink.right())));
    QVERIFY(ink.left() < 10);
    // 32 line ends and the samples make a long receipt.
    QVERIFY2(image.height() > 1000, qPrintable(QString::number(image.height())));
    // The 18 text lines of the title, table and samples each show as ink.
    QVERIFY2(inkBands(image) >= 25, qPrintable(QString::number(inkBands(image))));
}

void TestSimRender::boldIsHeavier() {
    const QByteArray text = "HHHHMMMMWWWW0000\r\n";
    const int regular = inkCount(render(text));
    const int bold = inkCount(render("\x1b"
                                     "E" +
                                     text));
    const int boldThenOff = inkCount(render("\x1b"
                                            "E\x1b"
                                            "F" +
                                            text));
    QVERIFY2(regular > 0, "no ink");
    QVERIFY2(bold > regular * 11 / 10,
             qPrintable(QStringLiteral("%1 vs %2").arg(bold).arg(regular)));
    QCOMPARE(boldThenOff, regular);
}

void TestSimRender::sizeScalesTheGlyph_data() {
    QTest::addColumn<QByteArray>("size");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("i00") << QByteArray("i00") << 1 << 1;
    QTest::newRow("i11") << QByteArray("i11") << 2 << 2;
    QTest::newRow("i12") << QByteArray("i12") << 2 << 3;
    QTest::newRow("i30") << QByteArray("i30") << 4 << 1;
}

void TestSimRender::sizeScalesTheGlyph() {
    QFETCH(QByteArray, size);
    QFETCH(int, width);
    QFETCH(int, height);
    const QRect plain = inkBounds(render("H\r\n"));
    const QRect scaled = inkBounds(render("\x1b" + size + "H\r\n"));
    // Anti-aliased edges differ by a dot or two at most.
    QVERIFY2(qAbs(scaled.width() - plain.width() * width) <= width + 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(scaled.width()).arg(plain.width())));
    QVERIFY2(qAbs(scaled.height() - plain.height() * height) <= height + 1,
             qPrintable(QStringLiteral("%1 vs %2").arg(scaled.height()).arg(plain.height())));
}

void TestSimRender::resetDropsTheUnprintedLine() {
    const QImage dropped = render("\x1b"
                                  "EWWWW\x1b@\x1b"
                                  "d1");
    QCOMPARE(inkCount(dropped), 0);
    // Bold is off after the reset.
    QCOMPARE(inkCount(render("\x1b"
                             "E\x1b@HMW\r\n")),
             inkCount(render("HMW\r\n")));
}

void TestSimRender::feedAddsLines() {
    const int one = render("A\x1b"
                           "d1")
                        .height();
    const int five = render("A\x1b"
                            "d5")
                         .height();
    // Four more lines of 4 mm, 32 dots each at 203 dpi.
    QCOMPARE(five - one, 4 * 32);
    QCOMPARE(inkBands(render("A\r\nB\r\n")), 2);
    QCOMPARE(inkBands(render("A\rB\r\n")), 1);
}

void TestSimRender::longLineWraps() {
    // 48 characters of 12 dots fill the line; the 49th starts another.
    QCOMPARE(inkBands(render(QByteArray(48, 'H') + "\r\n")), 1);
    QCOMPARE(inkBands(render(QByteArray(49, 'H') + "\r\n")), 2);
}

void TestSimRender::switchCommandsDrawNothing() {
    const QByteArray batch = QByteArray("\x1b\x1d#W00000\n\0", 11);
    QVERIFY(render(batch).isNull());
}

void TestSimRender::endlessFeedIsCutOff() {
    QByteArray job;
    for (int i = 0; i < 5000; ++i)
        job += "X\x1b"
               "d9";
    ReceiptRenderer renderer;
    for (const Event &event : decode(job).events)
        renderer.apply(event);
    const QImage image = renderer.finish();
    QVERIFY(renderer.truncated());
    QVERIFY(image.height() <= ReceiptRenderer::MaxHeight + 64);
}

void TestSimRender::oneSwitchChangesOnlyItsCharacters_data() {
    QTest::addColumn<QString>("switches");
    QTest::addColumn<int>("changedCells"); // cells of the test page that must change
    // The zeros: "KRV520" in the title, the header digit, the row label and
    // the table's code 30h.
    QTest::newRow("Zero Style Slashed") << "1=0010" << 4;
    // 858 differs from 437 (by the iconv program) at 9Bh, 9Dh, 9Eh, A9h,
    // B5h-B8h, BDh, BEh, C6h, C7h, CFh-D8h, DDh, DEh, E0h, E2h-E5h, E7h-F0h,
    // F2h-F5h, F7h, F9h, FBh and FCh: 47 codes.
    QTest::newRow("858 (Multilingual)") << "3=0400" << 47;
    // Of the 12 positions, # $ ^ and ` stay as in USA.
    QTest::newRow("Germany") << "1=0002" << 8;
}

// Against the default page, dots change inside the cells of the characters
// the switch concerns and nowhere else, and in each of those cells.
void TestSimRender::oneSwitchChangesOnlyItsCharacters() {
    QFETCH(QString, switches);
    QFETCH(int, changedCells);
    const PrintSettings before = PrintSettings::defaults();
    const PrintSettings after = settingsOf(switches);
    const QByteArray page = krv::testprint::makeTestPage();
    const Drawn a = draw(page, before);
    const Drawn b = draw(page, after);
    QCOMPARE(b.image.size(), a.image.size());
    QRegion concerned;
    int cellsExpected = 0;
    for (const ReceiptRenderer::Cell &cell : a.cells) {
        const bool changes = before.characters[cell.code] != after.characters[cell.code] ||
                             (cell.code == '0' && before.slashedZero != after.slashedZero);
        if (!changes)
            continue;
        ++cellsExpected;
        concerned += cell.rect;
        const QImage x = a.image.copy(cell.rect), y = b.image.copy(cell.rect);
        QVERIFY2(x != y, qPrintable(QStringLiteral("code %1 unchanged").arg(cell.code, 2, 16)));
    }
    QCOMPARE(cellsExpected, changedCells);
    for (int y = 0; y < a.image.height(); ++y)
        for (int x = 0; x < a.image.width(); ++x)
            if (a.image.pixel(x, y) != b.image.pixel(x, y) && !concerned.contains(QPoint(x, y)))
                QFAIL(qPrintable(QStringLiteral("dot %1,%2 changed").arg(x).arg(y)));
}

void TestSimRender::geometryFollowsSwitches_data() {
    QTest::addColumn<QString>("switches");
    QTest::addColumn<int>("paper");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("pitch");
    QTest::addColumn<int>("lineAdvance");
    QTest::addColumn<QSize>("cell");
    // 8 dots per mm; 48 and 33 columns of 12 dots, 38 and 27 of 15.
    QTest::newRow("defaults") << "" << 576 << 48 << 12 << 32 << QSize(12, 24);
    QTest::newRow("50.8mm") << "4=0003" << 406 << 33 << 12 << 32 << QSize(12, 24);
    QTest::newRow("50.8mm, bit 2 set") << "4=0007" << 406 << 33 << 12 << 32 << QSize(12, 24);
    QTest::newRow("15 dot") << "3=0010" << 576 << 38 << 15 << 32 << QSize(12, 24);
    QTest::newRow("15 dot at 50.8mm") << "3=0010,4=0003" << 406 << 27 << 15 << 32 << QSize(12, 24);
    QTest::newRow("3mm") << "3=0001" << 576 << 48 << 12 << 24 << QSize(12, 24);
    QTest::newRow("extra 1 dot") << "3=0040" << 576 << 44 << 13 << 32 << QSize(12, 24);
    QTest::newRow("extra 3 dot") << "3=00C0" << 576 << 38 << 15 << 32 << QSize(12, 24);
    QTest::newRow("15 dot and extra 2") << "3=0090" << 576 << 33 << 17 << 32 << QSize(12, 24);
    // 12 x 24 at 180 dpi drawn at 203 dpi.
    QTest::newRow("large font A") << "1=0080" << 576 << 41 << 14 << 32 << QSize(14, 27);
    QTest::newRow("large font A, 3mm") << "1=0080,3=0001" << 576 << 41 << 14 << 27 << QSize(14, 27);
    // Report-only switches move nothing.
    QTest::newRow("speed, density, columns, sensors")
        << "0=0004,2=0037,3=0002,4=0010,A=0110,B=0100" << 576 << 48 << 12 << 32 << QSize(12, 24);
}

void TestSimRender::geometryFollowsSwitches() {
    QFETCH(QString, switches);
    QFETCH(int, paper);
    QFETCH(int, columns);
    QFETCH(int, pitch);
    QFETCH(int, lineAdvance);
    QFETCH(QSize, cell);
    const Drawn drawn = draw(QByteArray(60, 'H') + "\r\nL\r\n", settingsOf(switches));
    QCOMPARE(drawn.image.width(), paper);
    const auto &cells = drawn.cells;
    QCOMPARE(int(cells.size()), 61);
    QCOMPARE(cells[0].rect.size(), cell);
    QCOMPARE(cells[1].rect.left() - cells[0].rect.left(), pitch);
    // The first line holds `columns` characters, the rest wrap to the next.
    QCOMPARE(cells[std::size_t(columns - 1)].rect.top(), cells[0].rect.top());
    QCOMPARE(cells[std::size_t(columns)].rect.top() - cells[0].rect.top(), lineAdvance);
    QCOMPARE(cells[std::size_t(columns)].rect.left(), 0);
    QVERIFY(cells[std::size_t(columns - 1)].rect.right() < paper);
}

QTEST_MAIN(TestSimRender)
#include "tst_sim_render.moc"
