#include "Stats.h"

#include <QTest>

#include <stdexcept>
#include <vector>

using Samples = std::vector<double>;
Q_DECLARE_METATYPE(Samples)

class tst_bench_stats : public QObject {
    Q_OBJECT
private slots:
    void summarisesSamples_data();
    void summarisesSamples();
    void quantileInterpolates_data();
    void quantileInterpolates();
    void refusesNoSamples();
    void refusesFractionOutsideZeroToOne_data();
    void refusesFractionOutsideZeroToOne();
    void parsesCounts_data();
    void parsesCounts();
};

void tst_bench_stats::summarisesSamples_data() {
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("q1");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("q3");
    QTest::addColumn<double>("max");

    QTest::newRow("one") << Samples{5} << 5.0 << 5.0 << 5.0 << 5.0 << 5.0;
    QTest::newRow("two") << Samples{4, 2} << 2.0 << 2.5 << 3.0 << 3.5 << 4.0;
    QTest::newRow("odd, unsorted") << Samples{7, 1, 3} << 1.0 << 2.0 << 3.0 << 5.0 << 7.0;
    QTest::newRow("even: middle pair") << Samples{1, 2, 3, 4} << 1.0 << 1.75 << 2.5 << 3.25 << 4.0;
    QTest::newRow("five") << Samples{50, 10, 40, 20, 30} << 10.0 << 20.0 << 30.0 << 40.0 << 50.0;
    QTest::newRow("one outlier leaves the median")
        << Samples{10, 11, 12, 13, 1000} << 10.0 << 11.0 << 12.0 << 13.0 << 1000.0;
    QTest::newRow("ties") << Samples{3, 3, 3, 9} << 3.0 << 3.0 << 3.0 << 4.5 << 9.0;
}

void tst_bench_stats::summarisesSamples() {
    QFETCH(Samples, samples);
    QFETCH(double, min);
    QFETCH(double, q1);
    QFETCH(double, median);
    QFETCH(double, q3);
    QFETCH(double, max);
    const krv::bench::Summary s = krv::bench::summarise(samples);
    QCOMPARE(s.count, samples.size());
    QCOMPARE(s.min, min);
    QCOMPARE(s.q1, q1);
    QCOMPARE(s.median, median);
    QCOMPARE(s.q3, q3);
    QCOMPARE(s.max, max);
}

void tst_bench_stats::quantileInterpolates_data() {
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("expected");

    const Samples elevenSteps{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    QTest::newRow("lowest") << elevenSteps << 0.0 << 0.0;
    QTest::newRow("highest") << elevenSteps << 1.0 << 100.0;
    QTest::newRow("90th on a rank") << elevenSteps << 0.9 << 90.0;
    QTest::newRow("95th between ranks") << elevenSteps << 0.95 << 95.0;
    QTest::newRow("90th of five, unsorted") << Samples{5, 1, 4, 2, 3} << 0.9 << 4.6;
}

void tst_bench_stats::quantileInterpolates() {
    QFETCH(Samples, samples);
    QFETCH(double, fraction);
    QFETCH(double, expected);
    QVERIFY(qAbs(krv::bench::quantile(samples, fraction) - expected) < 1e-9);
}

void tst_bench_stats::refusesNoSamples() {
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)krv::bench::summarise({}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, (void)krv::bench::quantile({}, 0.5));
}

void tst_bench_stats::refusesFractionOutsideZeroToOne_data() {
    QTest::addColumn<double>("fraction");
    QTest::newRow("negative") << -0.1;
    QTest::newRow("above one") << 1.5;
    QTest::newRow("not a number") << qQNaN();
}

void tst_bench_stats::refusesFractionOutsideZeroToOne() {
    QFETCH(double, fraction);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             (void)krv::bench::quantile({1, 2, 3}, fraction));
}

QTEST_APPLESS_MAIN(tst_bench_stats)
void tst_bench_stats::parsesCounts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << QByteArray("30") << 1 << true << 30;
    QTest::newRow("the minimum") << QByteArray("0") << 0 << true << 0;
    QTest::newRow("the largest") << QByteArray("100000") << 1 << true << 100000;
    QTest::newRow("below the minimum") << QByteArray("0") << 1 << false << 7;
    QTest::newRow("negative") << QByteArray("-3") << 0 << false << 7;
    QTest::newRow("too large") << QByteArray("100001") << 1 << false << 7;
    QTest::newRow("beyond long") << QByteArray("99999999999999999999999") << 1 << false << 7;
    QTest::newRow("trailing text") << QByteArray("12x") << 1 << false << 7;
    QTest::newRow("empty") << QByteArray("") << 0 << false << 7;
    QTest::newRow("not a number") << QByteArray("many") << 0 << false << 7;
}

void tst_bench_stats::parsesCounts() {
    QFETCH(QByteArray, text);
    QFETCH(int, minimum);
    QFETCH(bool, accepted);
    QFETCH(int, value);
    int parsed = 7; // left alone when refused
    QCOMPARE(krv::bench::parseCount(text.constData(), minimum, parsed), accepted);
    QCOMPARE(parsed, value);
}

#include "tst_bench_stats.moc"
