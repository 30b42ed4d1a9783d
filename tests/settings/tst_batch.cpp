// Download batches byte for byte, against the product's worked examples.
#include "SettingsBatch.h"

#include <QBuffer>
#include <QTest>

using namespace krv::settings;

namespace {

// Selection with the named lists set and every other list at "No Change".
Selection select(std::initializer_list<std::pair<const char *, int>> choices) {
    Selection selection{};
    for (const auto &[combo, index] : choices) {
        const Setting *s = findSetting(combo);
        if (!s)
            qFatal("unknown list %s", combo);
        selection[std::size_t(s - catalogue().data())] = std::int16_t(index);
    }
    return selection;
}

// The framed commands for tokens written out as text.
QByteArray framed(const QStringList &tokens) {
    QByteArray bytes;
    for (const QString &t : tokens)
        bytes += "\x1b\x1d" + t.toLatin1() + '\n' + '\0';
    return bytes;
}

Selection lastEntries() {
    Selection selection{};
    for (std::size_t i = 0; i < SettingCount; ++i)
        selection[i] = std::int16_t(catalogue()[i].entries.size() - 1);
    return selection;
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private slots:
    void workedBatches_data();
    void workedBatches();
    void noSelectionCountsAsNoChange();
    void batchSurvivesTheCarrierWithItsNuls();
};

void TestBatch::workedBatches_data() {
    QTest::addColumn<Selection>("selection");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("size");

    QTest::newRow("all No Change")
        << Selection{} << QByteArray::fromHex("1b 1d 23 57 30 30 30 30 30 0a 00") << 11;
    QTest::newRow("speed and zero") << select({{"cmbSpeed", 3}, {"cmbZStyle", 2}})
                                    << QByteArray::fromHex("1b 1d 23 2d 32 30 30 33 30 0a 00"
                                                           "1b 1d 23 2b 32 30 30 32 30 0a 00"
                                                           "1b 1d 23 2b 31 30 30 31 30 0a 00"
                                                           "1b 1d 23 57 30 30 30 30 30 0a 00")
                                    << 44;
    QTest::newRow("international set and code page")
        << select({{"cmbIntCSet", 1}, {"cmbCPage", 23}})
        << framed({"#-1000F", "#+10000", "#-3FF00", "#+32000", "#W00000"}) << 55;
    QTest::newRow("every list at its last entry")
        << lastEntries()
        << framed({"#+00004", "#-20030", "#+20020", "#+20007", "#+30002", "#+40003", "#+A0100",
                   "#+A0010", "#+B0100", "#-1000F", "#+1000F", "#-3FF00", "#+34F00", "#+10010",
                   "#+30010", "#+30001", "#+40010", "#+10080", "#+300C0", "#W00000"})
        << 220;
    QTest::newRow("longest") << select({{"cmbFFAction", 1},
                                        {"cmbSpeed", 2},
                                        {"cmbDensity", 6},
                                        {"cmbCRCode", 1},
                                        {"cmbPWidth", 2},
                                        {"cmbPNEnd", 1},
                                        {"cmbPESignal", 2},
                                        {"cmbBuffer", 1},
                                        {"cmbIntCSet", 11},
                                        {"cmbCPage", 36},
                                        {"cmbZStyle", 1},
                                        {"cmbCSpacing", 2},
                                        {"cmbLSpacing", 1},
                                        {"cmbEPColumns", 2},
                                        {"cmbEPFontSize", 1},
                                        {"cmbEPSpacing", 3}})
                             << framed({"#-00004", "#-20030", "#+20010", "#-20007", "#+20006",
                                        "#-30002", "#+40003", "#-A0100", "#+A0010", "#-B0100",
                                        "#-1000F", "#+1000A", "#-3FF00", "#+34A00", "#-10010",
                                        "#+30010", "#-30001", "#+40010", "#-10080", "#-300C0",
                                        "#+30080", "#W00000"})
                             << 242;
}

void TestBatch::workedBatches() {
    QFETCH(Selection, selection);
    QFETCH(QByteArray, expected);
    QFETCH(int, size);
    const QByteArray batch = makeSettingsBatch(selection);
    QCOMPARE(batch.size(), size);
    QCOMPARE(batch.toHex(' '), expected.toHex(' '));
    QCOMPARE(batch.count('\0'), size / SwitchCommandSize);
}

void TestBatch::noSelectionCountsAsNoChange() {
    Selection none;
    none.fill(-1);
    QCOMPARE(makeSettingsBatch(none), makeSettingsBatch(Selection{}));
}

// The batch reaches the printer through a QIODevice write: every NUL must
// come out the other side, not just the bytes before the first one.
void TestBatch::batchSurvivesTheCarrierWithItsNuls() {
    const QByteArray batch = makeSettingsBatch(lastEntries());
    QByteArray carried;
    QBuffer device(&carried);
    QVERIFY(device.open(QIODevice::WriteOnly));
    QCOMPARE(device.write(batch), batch.size());
    device.close();
    QCOMPARE(carried, batch);
    QCOMPARE(carried.size(), 220);
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
