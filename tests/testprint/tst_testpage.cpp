// The test page against its documented bytes and layout rules.
#include "TestPage.h"

#include <QBuffer>
#include <QTest>

using krv::testprint::makeTestPage;

namespace {

constexpr char ESC = 27;

// Where the sixteen table rows start: after the title, the subtitle with its
// three line ends, the heading and the column header.
constexpr int TableStart = 2 + 21 + 38 + 23 + 42;
constexpr int RowSize = 47;

QByteArray row(int r) {
    return makeTestPage().mid(TableStart + r * RowSize, RowSize);
}

// The printed characters of a line: ESC and its command letters take no column.
QByteArray printed(const QByteArray &line, int commandLength) {
    QByteArray out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == ESC)
            i += commandLength;
        else
            out += line[i];
    }
    return out;
}

} // namespace

class TestTestPage : public QObject {
    Q_OBJECT
private slots:
    void isTheSameNineHundredNinetyTwoBytesEveryTime();
    void beginsWithTitleAndHeadings();
    void documentedRows_data();
    void documentedRows();
    void everyCodeFrom32To255ExactlyOnce();
    void charactersStandUnderTheirHighDigit_data();
    void charactersStandUnderTheirHighDigit();
    void endsWithFontScalingAndFeed();
    void survivesTheCarrierWithEveryByte();
};

void TestTestPage::isTheSameNineHundredNinetyTwoBytesEveryTime() {
    QCOMPARE(makeTestPage().size(), 992);
    QCOMPARE(makeTestPage(), makeTestPage());
}

void TestTestPage::beginsWithTitleAndHeadings() {
    const QByteArray expected = QByteArray("\x1b@\x1bi12Vela KRV520\x1bi00\r\n") +
                                "Configuration utility test print\r\n\r\n\r\n" +
                                "\x1b"
                                "ECharacter Set Test:\r\n" +
                                "         0 1 2 3 4 5 6 7 8 9 A B C D E F\r\n";
    QCOMPARE(expected.size(), TableStart);
    QCOMPARE(makeTestPage().left(TableStart), expected);
}

void TestTestPage::documentedRows_data() {
    QTest::addColumn<int>("r");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("row 0")
        << 0
        << QByteArray::fromHex("1B 45 20 20 20 20 20 20 20 30 20 20 20 20 20 1B 46 20 20 30 20 40 "
                               "20 50 20 60 20 70 20 80 20 90 20 A0 20 B0 20 C0 20 D0 20 E0 20 F0 "
                               "20 0D 0A");
    QByteArray row15 = QByteArray("\x1b"
                                  "E       F     \x1b"
                                  "F");
    for (int code : {47, 63, 79, 95, 111, 127, 143, 159, 175, 191, 207, 223, 239, 255})
        row15 += char(code) + QByteArray(" ");
    QTest::newRow("row 15") << 15 << row15 + "\r\n";
}

void TestTestPage::documentedRows() {
    QFETCH(int, r);
    QTEST(row(r), "bytes");
}

void TestTestPage::everyCodeFrom32To255ExactlyOnce() {
    QMap<int, int> seen;
    for (int r = 0; r < 16; ++r) {
        const QByteArray cells = row(r).mid(17, 28); // after the label, before CR LF
        for (int i = 0; i < cells.size(); i += 2) {
            ++seen[uchar(cells[i])];
            QCOMPARE(cells[i + 1], ' ');
        }
    }
    QCOMPARE(seen.size(), 224);
    QCOMPARE(seen.firstKey(), 32);
    QCOMPARE(seen.lastKey(), 255);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        QCOMPARE(it.value(), 1);
}

void TestTestPage::charactersStandUnderTheirHighDigit_data() {
    QTest::addColumn<int>("r");
    for (int r = 0; r < 16; ++r)
        QTest::addRow("row %X", r) << r;
}

void TestTestPage::charactersStandUnderTheirHighDigit() {
    QFETCH(int, r);
    const QByteArray header = "         0 1 2 3 4 5 6 7 8 9 A B C D E F";
    const QByteArray line = printed(row(r).chopped(2), 1);
    QCOMPARE(line.at(7), QByteArray::number(r, 16).toUpper().at(0));
    for (int h = 2; h <= 15; ++h) {
        QCOMPARE(uchar(line.at(9 + 2 * h)), uchar(16 * h + r));
        QCOMPARE(header.at(9 + 2 * h), QByteArray::number(h, 16).toUpper().at(0));
    }
}

void TestTestPage::endsWithFontScalingAndFeed() {
    const QByteArray expected =
        QByteArray("\r\n\x1b"
                   "EFont Scaling:\x1b"
                   "F\r\n1 x 1 Text\r\n") +
        "\x1bi112x2 Text\r\n\x1bi223x3 Text\r\n\x1bi334x4 Text\r\n\x1bi445x5 Text\r\n" +
        "\x1bi556x6 Text\r\n\x1bi00\r\n\r\n\x1b"
        "d3";
    const QByteArray page = makeTestPage();
    QCOMPARE(page.mid(TableStart + 16 * RowSize), expected);
    QVERIFY(page.endsWith("\x1b"
                          "d3"));
}

void TestTestPage::survivesTheCarrierWithEveryByte() {
    const QByteArray page = makeTestPage();
    QByteArray carried;
    QBuffer device(&carried);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QCOMPARE(device.write(page), 992);
    QCOMPARE(carried, page);
}

QTEST_GUILESS_MAIN(TestTestPage)
#include "tst_testpage.moc"
