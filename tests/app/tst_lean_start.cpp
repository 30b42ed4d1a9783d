// What the window loads, and when: a session over TCP/IP never maps the
// print spooler's client library nor builds a list's drop-down view, the spooler's queues are still listed
// once it is chosen, and a window that opens on the spooler looks its
// queues up only after its first frame. Against a real listener on
// 127.0.0.1 and a private CUPS scheduler (root).
#include "ProductInfo.h"
#include "frmMain.h"

#include "ConnectionSettings.h"
#include "VelaComm.h"

#include "PrivateScheduler.h"
#include "TestSupport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <memory>

using krv::app::frmMain;
using krv::comm::ConnectionSettings;
using krv::test::TcpPeer;

namespace {

// Whether a library whose file name starts with `name` is mapped into this
// process.
bool mapped(const char *name) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/maps");
    return maps.readAll().contains(QByteArray("/") + name);
}

// Records, at the window's first paint, whether the queue lookup had started.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(frmMain *window) : mWindow(window) { window->installEventFilter(this); }
    bool painted = false;
    bool lookingThen = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (!painted && watched == mWindow && event->type() == QEvent::Paint) {
            painted = true;
            lookingThen = mWindow->VelaComm1()->lookingForQueues();
        }
        return false;
    }

private:
    frmMain *const mWindow;
};

} // namespace

class TestLeanStart : public QObject {
    Q_OBJECT
    QTemporaryDir mConfigHome;
    std::unique_ptr<TcpPeer> mPrinter;
    krv::test::PrivateScheduler mScheduler;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", mConfigHome.path().toLocal8Bit());
        mPrinter = std::make_unique<TcpPeer>(TcpPeer::Mode::ReadAll);
        ConnectionSettings tcp;
        tcp.kind = ConnectionSettings::Kind::Tcp;
        tcp.host = QStringLiteral("127.0.0.1");
        tcp.port = mPrinter->port();
        krv::comm::writeConnectionSettings(QString::fromLatin1(krv::app::ConfigKey), tcp);
    }

    void tcpSessionNeverLoadsSpooler() {
        {
            frmMain window;
            window.Form_Load();
            window.showCentred();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // No list has built its drop-down view before anyone opened one.
            QCOMPARE(window.findChildren<QAbstractItemView *>().size(), 0);
            window.butDownload_Click();
            QTRY_VERIFY_WITH_TIMEOUT(!window.runningJob(), 20000);
            window.butClose_Click();
        }
        QVERIFY(mPrinter->waitForJobs(1));
        QCOMPARE(mPrinter->jobs().value(0), QByteArray("\x1b\x1d#W00000\n", 11));
        QVERIFY2(!mapped("libcups.so"), "the spooler's client was loaded");
        QVERIFY(!mapped("libkrv520-spooler.so"));
        QVERIFY(mapped("libkrv520-tcp.so"));
    }

    void switchingToSpoolerListsQueues() {
        if (::geteuid() != 0)
            QSKIP("the private scheduler runs its device backend as user lp, which needs root");
        const QString failure = mScheduler.start();
        if (!failure.isEmpty())
            QFAIL(qPrintable(failure));
        QVERIFY(mScheduler.addRawQueue(QStringLiteral("krvlean"), mPrinter->port()));
        qputenv("CUPS_SERVER", mScheduler.server().toLatin1());

        frmMain window;
        window.Form_Load();
        window.showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *kind = window.VelaComm1()->findChild<QComboBox *>(QStringLiteral("cmbKind"));
        auto *queue = window.VelaComm1()->findChild<QComboBox *>(QStringLiteral("cmbQueue"));
        QCOMPARE(kind->currentData().toInt(), int(ConnectionSettings::Kind::Tcp));
        kind->setCurrentIndex(kind->findData(int(ConnectionSettings::Kind::Spooler)));
        QTRY_VERIFY_WITH_TIMEOUT(queue->findText(QStringLiteral("krvlean")) >= 0, 20000);
        QVERIFY(mapped("libcups.so"));
        window.butClose_Click(); // stores the spooler for the next case
    }

    void spoolerLookupWaitsForFirstFrame() {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER"))
            QSKIP("needs the private scheduler of the case before");
        frmMain window;
        const FirstPaint firstPaint(&window);
        window.Form_Load();
        window.showCentred();
        QTRY_VERIFY(firstPaint.painted);
        QVERIFY(!firstPaint.lookingThen);
        auto *queue = window.VelaComm1()->findChild<QComboBox *>(QStringLiteral("cmbQueue"));
        QTRY_VERIFY_WITH_TIMEOUT(queue->findText(QStringLiteral("krvlean")) >= 0, 20000);
    }
};

QTEST_MAIN(TestLeanStart)
#include "tst_lean_start.moc"
