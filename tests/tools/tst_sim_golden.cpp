// The test page as krv520-sim draws it under given switches, compared dot
// for dot with the golden pages in tests/data/sim (made by
// make-golden-pages.sh there).
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Pixels that differ, with the first of them, or why the two cannot be
// compared.
QString difference(const QImage &actual, const QImage &golden) {
    if (actual.isNull() || golden.isNull())
        return QStringLiteral("no image");
    if (actual.size() != golden.size())
        return QStringLiteral("%1 x %2 dots, golden %3 x %4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(golden.width())
            .arg(golden.height());
    const QImage a = actual.convertToFormat(QImage::Format_Grayscale8);
    const QImage g = golden.convertToFormat(QImage::Format_Grayscale8);
    int count = 0;
    QPoint first;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.constScanLine(y)[x] != g.constScanLine(y)[x] && count++ == 0)
                first = {x, y};
    return count == 0 ? QString()
                      : QStringLiteral("%1 dots differ, the first at %2,%3")
                            .arg(count)
                            .arg(first.x())
                            .arg(first.y());
}

} // namespace

class TestSimGolden : public QObject {
    Q_OBJECT
private slots:
    void testPageMatchesGolden_data();
    void testPageMatchesGolden();
    void badPresetIsRefused_data();
    void badPresetIsRefused();
};

void TestSimGolden::testPageMatchesGolden_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("profile"); // written to a file and given with --profile
    QTest::addColumn<QString>("golden");
    QTest::newRow("default switches") << QStringList() << QString() << "test-page-default.png";
    QTest::newRow("858 and slashed, as switches")
        << QStringList{"--switches", "1=0010,3=0400"} << QString() << "test-page-858-slashed.png";
    QTest::newRow("858 and slashed, as a profile")
        << QStringList() << "Zero Style=Slashed\ncmbCPage=858 (Multilingual)\n"
        << "test-page-858-slashed.png";
    QTest::newRow("50.8mm") << QStringList{"--switches", "4=0003"} << QString()
                            << "test-page-50.8mm.png";
    // Each list changes only the switches it names.
    QTest::newRow("two lists") << QStringList{"--switches", "1=0010", "--switches", "3=0400"}
                               << QString() << "test-page-858-slashed.png";
}

void TestSimGolden::testPageMatchesGolden() {
    QFETCH(QStringList, args);
    QFETCH(QString, profile);
    QFETCH(QString, golden);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!profile.isEmpty()) {
        QFile file(dir.filePath("shop.profile"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(profile.toUtf8());
        file.close();
        args << "--profile" << file.fileName();
    }
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    sim.setProcessEnvironment(env);
    sim.start(KRV_SIM_PROGRAM,
              args + QStringList{"--test-page", "--png", dir.filePath("page.png")});
    QVERIFY(sim.waitForFinished(60000));
    QVERIFY2(sim.exitCode() == 0, sim.readAllStandardError().constData());
    const QString diff = difference(QImage(dir.filePath("page.png")),
                                    QImage(QStringLiteral(KRV_TEST_DATA_DIR "/sim/") + golden));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestSimGolden::badPresetIsRefused_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("switch digit missing") << QStringList{"--switches", "=0010"};
    QTest::newRow("three digits") << QStringList{"--switches", "1=010"};
    QTest::newRow("one bad among good") << QStringList{"--switches", "1=0010,G=0000"};
    QTest::newRow("missing profile") << QStringList{"--profile", "/nonexistent/shop.profile"};
}

// Nothing is drawn from a preset the simulator did not understand.
void TestSimGolden::badPresetIsRefused() {
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    QProcess sim;
    sim.setProcessEnvironment(env);
    sim.start(KRV_SIM_PROGRAM,
              args + QStringList{"--test-page", "--png", dir.filePath("page.png")});
    QVERIFY(sim.waitForFinished(60000));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(!QFile::exists(dir.filePath("page.png")));
}

QTEST_GUILESS_MAIN(TestSimGolden)
#include "tst_sim_golden.moc"
