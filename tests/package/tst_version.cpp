// One version everywhere: every place a user or a packager reads it says what
// the newest entry of debian/changelog says. The window's label is read from
// the window itself, the rest from the built programs and the packages
// (KRV_DEB_DIR).
#include "frmMain.h"

#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

// Standard output of a shell command line.
QString shell(const QString &command) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestVersion : public QObject {
    Q_OBJECT

    QString mVersion;

private slots:
    void initTestCase() {
        mVersion =
            shell(QStringLiteral("dpkg-parsechangelog -l \"$KRV_CHANGELOG\" -S Version")).trimmed();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(mVersion).hasMatch(),
            qPrintable(mVersion));
    }

    void placeSaysTheChangelogsVersion_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("pattern"); // its first group is the version
        // A file of a package, as installed.
        const auto in = [](const char *package, const char *path) {
            return QStringLiteral("dpkg-deb --fsys-tarfile \"$KRV_DEB_DIR\"/%1_*.deb | tar -xOf - "
                                  "./%2 | zcat -f")
                .arg(QLatin1String(package), QLatin1String(path));
        };
        for (const char *program : {KRV_CONFIG_PROGRAM, KRV_CLI_PROGRAM, KRV_SIM_PROGRAM})
            QTest::addRow("%s --version", std::strrchr(program, '/') + 1)
                << QStringLiteral("%1 --version").arg(program) << "^krv520-\\w+ (\\S+)\\n$";
        for (const char *package :
             {"krv520-config", "krv520-tools", "krv520-config-dbgsym", "krv520-tools-dbgsym"})
            QTest::addRow("%s package", package)
                << QStringLiteral("dpkg-deb -f \"$KRV_DEB_DIR\"/%1_*.deb Version").arg(package)
                << "^(\\S+)\\n$";
        QTest::newRow("desktop entry")
            << in("krv520-config", "usr/share/applications/krv520-config.desktop")
            << "\\nX-AppVersion=(\\S+)\\n";
        QTest::newRow("AppStream release")
            << in("krv520-config", "usr/share/metainfo/com.vela.krv520config.metainfo.xml")
            << "<release version=\"([^\"]+)\"";
        const QString heading =
            QStringLiteral("^\\.TH \\S+ 1 \"[-0-9]+\" \"krv520-config (\\S+)\"");
        QTest::newRow("krv520-config(1)")
            << in("krv520-config", "usr/share/man/man1/krv520-config.1.gz") << heading;
        QTest::newRow("krv520-cli(1)")
            << in("krv520-tools", "usr/share/man/man1/krv520-cli.1.gz") << heading;
        QTest::newRow("krv520-sim(1)")
            << in("krv520-tools", "usr/share/man/man1/krv520-sim.1.gz") << heading;
        QTest::newRow("changelog of krv520-config")
            << in("krv520-config", "usr/share/doc/krv520-config/changelog.gz")
            << "^krv520-config \\(([^)]+)\\)";
        QTest::newRow("changelog of krv520-tools")
            << in("krv520-tools", "usr/share/doc/krv520-tools/changelog.gz")
            << "^krv520-config \\(([^)]+)\\)";
    }

    void placeSaysTheChangelogsVersion() {
        QFETCH(QString, command);
        QFETCH(QString, pattern);
        const QString text = shell(command);
        const QRegularExpressionMatch match =
            QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text.left(300)));
        QCOMPARE(match.captured(1), mVersion);
    }

    // The window's own line keeps its form, "Version MAJOR.MINOR.REVISION".
    void windowSaysTheChangelogsVersion() {
        QTemporaryDir configHome;
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
        krv::app::frmMain window;
        window.Form_Load();
        const auto *label = window.findChild<QLabel *>(QStringLiteral("labVersion"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Version ") + mVersion);
    }
};

QTEST_MAIN(TestVersion)
#include "tst_version.moc"
