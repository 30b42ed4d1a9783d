// The window's version line says the version of the newest debian/changelog
// entry, in its own form "Version MAJOR.MINOR.REVISION". The other places the
// version shows are compared with the same entry by package_test.sh.
#include "frmMain.h"

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestVersion : public QObject {
    Q_OBJECT

private slots:
    void windowSaysTheChangelogsVersion() {
        QProcess changelog;
        changelog.start(QStringLiteral("dpkg-parsechangelog"),
                        {QStringLiteral("-l"), QStringLiteral(KRV_CHANGELOG), QStringLiteral("-S"),
                         QStringLiteral("Version")});
        QVERIFY(changelog.waitForFinished(30000));
        const QString version = QString::fromUtf8(changelog.readAllStandardOutput()).trimmed();
        QVERIFY(!version.isEmpty());

        QTemporaryDir configHome;
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        krv::app::frmMain window;
        window.Form_Load();
        const auto *label = window.findChild<QLabel *>(QStringLiteral("labVersion"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Version ") + version);
    }
};

QTEST_MAIN(TestVersion)
#include "tst_version.moc"
