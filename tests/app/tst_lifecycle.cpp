// Start-up and shut-down: what Form_Load and Form_Unload do, in which order,
// and that a stored configuration that cannot be read or written is
// reported without stopping the utility.
#include "frmMain.h"

#include "ConnectionSettings.h"
#include "HelpDesk.h"
#include "VelaComm.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using krv::app::frmMain;
using krv::comm::ConnectionSettings;

namespace {

const QString Key = QStringLiteral("KRV520Config");

ConnectionSettings tcp(quint16 port) {
    ConnectionSettings s;
    s.kind = ConnectionSettings::Kind::Tcp;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

QList<QComboBox *> settingLists(const frmMain &window) {
    QList<QComboBox *> lists;
    for (const krv::settings::Setting &s : krv::settings::catalogue())
        lists << window.findChild<QComboBox *>(
            QString::fromLatin1(s.comboName.data(), qsizetype(s.comboName.size())));
    return lists;
}

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> mHome;
    QStringList mMessages;

    // Answers every message box that turns up while `action` runs.
    template <typename Action> void answeringBoxes(Action action) {
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                mMessages << box->text();
                box->accept();
            }
        });
        answer.start(10);
        action();
    }

private slots:
    void init() {
        mHome = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", mHome->path().toLocal8Bit());
        mMessages.clear();
    }

    void readsConfigOnceAfterResettingTheLists() {
        krv::comm::writeConnectionSettings(Key, tcp(9107));
        frmMain window;
        for (QComboBox *list : settingLists(window))
            list->setCurrentIndex(list->count() - 1);
        QList<QList<int>> indicesAtRead;
        QStringList keys;
        connect(window.VelaComm1(), &krv::comm::VelaComm::configRead, this,
                [&](const QString &key) {
                    keys << key;
                    QList<int> indices;
                    for (QComboBox *list : settingLists(window))
                        indices << list->currentIndex();
                    indicesAtRead << indices;
                });
        window.Form_Load();
        QCOMPARE(keys, QStringList{Key});
        QCOMPARE(indicesAtRead.value(0), QList<int>(16, 0));
        QCOMPARE(window.VelaComm1()->settings(), tcp(9107));
        QVERIFY(mMessages.isEmpty());
    }

    void closingStoresTheConfigExactlyOnce_data() {
        QTest::addColumn<bool>("byCloseButton");
        QTest::newRow("Close button") << true;
        QTest::newRow("window closed") << false;
    }
    void closingStoresTheConfigExactlyOnce() {
        QFETCH(bool, byCloseButton);
        frmMain window;
        window.Form_Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.VelaComm1()->setSettings(tcp(9123));
        QSignalSpy written(window.VelaComm1(), &krv::comm::VelaComm::configWritten);
        if (byCloseButton)
            QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("butClose")),
                              Qt::LeftButton);
        else
            window.close();
        QVERIFY(!window.isVisible());
        window.close(); // a second request finds the window already unloaded
        QCOMPARE(written.count(), 1);
        QCOMPARE(written.at(0).at(0).toString(), Key);
        QCOMPARE(krv::comm::readConnectionSettings(Key), tcp(9123));
        QVERIFY(!window.helpDesk().helpWindow());
    }

    void closingWithoutEverShowingHelpUnloadsIt() {
        frmMain window;
        window.Form_Load();
        window.show();
        QVERIFY(window.helpDesk().helpWindow());
        window.close();
        QVERIFY(!window.helpDesk().helpWindow());
    }

    void unreadableConfigIsReportedAndStartUpGoesOn() {
        QVERIFY(QDir().mkpath(krv::comm::connectionStorePath())); // a folder, not a file
        frmMain window;
        answeringBoxes([&] { window.Form_Load(); });
        QCOMPARE(mMessages.size(), 1);
        QVERIFY2(mMessages[0].contains(QStringLiteral("1042")), qPrintable(mMessages[0]));
        QVERIFY2(mMessages[0].contains(krv::comm::connectionStorePath()), qPrintable(mMessages[0]));
        QCOMPARE(window.VelaComm1()->settings(), ConnectionSettings{});
        QVERIFY(window.helpDesk().helpWindow()); // the later start-up steps ran
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Vela KRV520 Configuration Utility"));
    }

    void unwritableConfigIsReportedAndShutDownCompletes() {
        frmMain window;
        window.Form_Load();
        window.show();
        // A file where the configuration folder belongs cannot be written into.
        QFile blocker(QFileInfo(krv::comm::connectionStorePath()).path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        answeringBoxes([&] { window.close(); });
        QCOMPARE(mMessages.size(), 1);
        QVERIFY2(mMessages[0].startsWith(QStringLiteral("Run-time error '1040'")),
                 qPrintable(mMessages[0]));
        QVERIFY(!window.isVisible());
        QVERIFY(!window.helpDesk().helpWindow());
    }
};

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
