// A damaged or foreign profile is refused in the window's one error report,
// naming the file and the line, and no list moves.
#include "ErrorReport.h"
#include "frmMain.h"

#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestProfiles : public QObject {
    Q_OBJECT
private slots:
    void damagedProfileIsRefusedWithItsLine_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("where"); // after the file name; empty: no line
        const QByteArray speed = "Print Speed=Medium (75mm/s)\n";
        QTest::newRow("unknown setting") << speed + "\nPaper Colour=Blue\n" << 1102 << ":3:";
        QTest::newRow("unknown entry") << speed + "Print Width=9\n" << 1103 << ":2:";
        QTest::newRow("bad encoding") << speed + "Zero Style=Slash\xe9\x64\r\n" << 1105 << ":2:";
        QTest::newRow("foreign: a PNG")
            << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << 1105 << ":1:";
        QTest::newRow("over 64 KiB")
            << speed + QByteArray(64 * 1024 + 1 - speed.size(), '#') << 1110 << "";
    }
    void damagedProfileIsRefusedWithItsLine() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, number);
        QFETCH(QString, where);
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
        QFile bad(dir.filePath("bad"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(bytes) == bytes.size() && bad.flush());
        krv::app::frmMain window;
        window.Form_Load();
        window.findChild<QComboBox *>(QStringLiteral("cmbSpeed"))->setCurrentIndex(3);
        const krv::settings::Selection chosen = window.selection();
        QString said;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&said] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                said = box->text(), box->accept();
        });
        answer.start(10);
        krv::app::runGuarded(&window, [&] { window.openProfile(bad.fileName()); });
        QVERIFY2(said.startsWith(QStringLiteral("Run-time error '%1':").arg(number)),
                 qPrintable(said));
        QVERIFY2(said.contains(bad.fileName() + where), qPrintable(said));
        QCOMPARE(window.selection(), chosen);
        QCOMPARE(window.windowTitle(), QStringLiteral("Vela KRV520 Configuration Utility"));
    }
};

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
