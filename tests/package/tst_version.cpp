// One version everywhere: every place a user or a packager reads it says what
// the newest entry of debian/changelog says. The window's label is read from
// the window itself, the rest from the built programs and the packages.
#include "frmMain.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString run(const QStringList &command) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(command.constFirst(), command.mid(1));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("(%1 failed)").arg(command.join(QLatin1Char(' ')));
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestVersion : public QObject {
    Q_OBJECT

    QString mVersion;
    QDir mDebs{qEnvironmentVariable("KRV_DEB_DIR")};
    QTemporaryDir mUnpacked; // both packages' files, as installed
    QTemporaryDir mConfigHome;

    QString deb(const QString &package) const {
        const QStringList found = mDebs.entryList({package + QStringLiteral("_*.deb")});
        return found.size() == 1 ? mDebs.filePath(found.constFirst()) : QString();
    }
    QString unpacked(const QString &path) const { return mUnpacked.filePath(path); }

private slots:
    void initTestCase() {
        mVersion = run({QStringLiteral("dpkg-parsechangelog"), QStringLiteral("-l"),
                        qEnvironmentVariable("KRV_CHANGELOG"), QStringLiteral("-S"),
                        QStringLiteral("Version")})
                       .trimmed();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(mVersion).hasMatch(),
            qPrintable(mVersion));
        for (const char *package : {"krv520-config", "krv520-tools"}) {
            QVERIFY2(!deb(QLatin1String(package)).isEmpty(), package);
            QProcess::execute(
                QStringLiteral("dpkg-deb"),
                {QStringLiteral("-x"), deb(QLatin1String(package)), mUnpacked.path()});
        }
    }

    void placesSayTheChangelogsVersion_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("pattern"); // its first group is the version
        const auto page = [this](const char *name) {
            return QStringList{QStringLiteral("zcat"),
                               unpacked(QStringLiteral("usr/share/man/man1/%1.1.gz").arg(name))};
        };
        const QString heading =
            QStringLiteral("^\\.TH \\S+ 1 \"[-0-9]+\" \"krv520-config (\\S+)\"");
        QTest::newRow("krv520-config --version")
            << QStringList{QStringLiteral(KRV_CONFIG_PROGRAM), QStringLiteral("--version")}
            << "^krv520-config (\\S+)\\n$";
        QTest::newRow("krv520-cli --version")
            << QStringList{QStringLiteral(KRV_CLI_PROGRAM), QStringLiteral("--version")}
            << "^krv520-cli (\\S+)\\n$";
        QTest::newRow("krv520-sim --version")
            << QStringList{QStringLiteral(KRV_SIM_PROGRAM), QStringLiteral("--version")}
            << "^krv520-sim (\\S+)\\n$";
        for (const char *package :
             {"krv520-config", "krv520-tools", "krv520-config-dbgsym", "krv520-tools-dbgsym"})
            QTest::addRow("%s package", package)
                << QStringList{QStringLiteral("dpkg-deb"), QStringLiteral("-f"),
                               deb(QLatin1String(package)), QStringLiteral("Version")}
                << "^(\\S+)\\n$";
        QTest::newRow("desktop entry")
            << QStringList{QStringLiteral("cat"),
                           unpacked(QStringLiteral("usr/share/applications/krv520-config.desktop"))}
            << "\\nX-AppVersion=(\\S+)\\n";
        QTest::newRow("AppStream release")
            << QStringList{QStringLiteral("cat"),
                           unpacked(QStringLiteral(
                               "usr/share/metainfo/com.vela.krv520config.metainfo.xml"))}
            << "<release version=\"([^\"]+)\"";
        QTest::newRow("krv520-config(1)") << page("krv520-config") << heading;
        QTest::newRow("krv520-cli(1)") << page("krv520-cli") << heading;
        QTest::newRow("krv520-sim(1)") << page("krv520-sim") << heading;
        for (const char *package : {"krv520-config", "krv520-tools"})
            QTest::addRow("changelog of %s", package)
                << QStringList{QStringLiteral("zcat"),
                               unpacked(
                                   QStringLiteral("usr/share/doc/%1/changelog.gz").arg(package))}
                << "^krv520-config \\(([^)]+)\\)";
    }

    void placesSayTheChangelogsVersion() {
        QFETCH(QStringList, command);
        QFETCH(QString, pattern);
        const QString text = run(command);
        const QRegularExpressionMatch match =
            QRegularExpression(pattern, QRegularExpression::MultilineOption).match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text.left(300)));
        QCOMPARE(match.captured(1), mVersion);
    }

    // The window's own line keeps its form, "Version MAJOR.MINOR.REVISION".
    void windowSaysTheChangelogsVersion() {
        qputenv("XDG_CONFIG_HOME", mConfigHome.path().toLocal8Bit());
        krv::app::frmMain window;
        window.Form_Load();
        const auto *label = window.findChild<QLabel *>(QStringLiteral("labVersion"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Version ") + mVersion);
    }
};

QTEST_MAIN(TestVersion)
#include "tst_version.moc"
