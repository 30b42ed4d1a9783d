// Profiles opened in the window: a good one chooses its entries and puts the
// lists it does not name at "No Change"; a damaged or foreign one is refused
// with the one error report, naming the file and the line, and no list moves.
#include "ErrorReport.h"
#include "frmMain.h"

#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using krv::app::frmMain;

namespace {

const QString Title = QStringLiteral("Vela KRV520 Configuration Utility");

// Print Speed "Low (50mm/s)" (3) and Zero Style "Slashed" (2), the lists in
// visiting order (General, then Characters).
const krv::settings::Selection Good{0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0};

} // namespace

class TestProfiles : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    std::unique_ptr<frmMain> mWindow;

    QString write(const QString &name, const QByteArray &bytes) {
        QFile file(mDir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", mDir.filePath("config").toLocal8Bit()); }
    void init() {
        mWindow = std::make_unique<frmMain>();
        mWindow->Form_Load();
        mWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
        // Chosen by hand, named by no profile here.
        mWindow->findChild<QComboBox *>(QStringLiteral("cmbBuffer"))->setCurrentIndex(1);
        mWindow->openProfile(
            write("good.krv520-profile",
                  "# shop 12\nPrint Speed=Low (50mm/s)\nZero Style=\"Slashed\"\n"));
        QCOMPARE(mWindow->selection(), Good);
    }
    void cleanup() { mWindow.reset(); }

    void damagedProfileIsRefusedWithItsLine_data();
    void damagedProfileIsRefusedWithItsLine();
};

void TestProfiles::damagedProfileIsRefusedWithItsLine_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("where"); // after the file name; empty: the file as a whole
    QTest::newRow("unknown setting")
        << QByteArray("Print Speed=Medium (75mm/s)\n\nPaper Colour=Blue\n") << 1102 << ":3:";
    QTest::newRow("unknown entry")
        << QByteArray("Zero Style=Standard\nPrint Speed=Very Fast\n") << 1103 << ":2:";
    QTest::newRow("bad encoding: Latin-1 byte")
        << QByteArray("Print Speed=Medium (75mm/s)\r\nZero Style=Slash\xe9\x64\r\n") << 1105
        << ":2:";
    QTest::newRow("foreign file: a PNG")
        << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << 1105 << ":1:";
    QTest::newRow("line without a choice")
        << QByteArray("Print Speed=Medium (75mm/s)\nSlashed\n") << 1105 << ":2:";
    QTest::newRow("over the size limit: 64 KiB and one byte")
        << QByteArray("Print Speed=Medium (75mm/s)\n").append(64 * 1024 + 1 - 28, '#') << 1110
        << "";
}

void TestProfiles::damagedProfileIsRefusedWithItsLine() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    QFETCH(QString, where);
    const QString path = write(QString::fromLatin1(QTest::currentDataTag()).left(12), bytes);
    QString said;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&said] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            said = box->text();
            box->accept();
        }
    });
    answer.start(10);
    krv::app::runGuarded(mWindow.get(), [&] { mWindow->openProfile(path); });
    QVERIFY2(said.startsWith(QStringLiteral("Run-time error '%1':").arg(number)), qPrintable(said));
    QVERIFY2(said.contains(path + where), qPrintable(said));
    QCOMPARE(mWindow->selection(), Good);
    QCOMPARE(mWindow->windowTitle(), QStringLiteral("good.krv520-profile - ") + Title);
}

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
