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

QTEST_MAIN(TestSimRender)
#include "tst_sim_render.moc"
