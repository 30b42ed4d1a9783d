// The connection panel: it fits its place on the main window, works from the
// keyboard alone, and sends through what it shows.
#include "ConnectionSettings.h"
#include "RuntimeError.h"
#include "SendToPrinter.h"
#include "TestSupport.h"
#include "UnopenedLists.h"
#include "VelaComm.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace krv::comm;
using Kind = ConnectionSettings::Kind;

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(SerialSettings::Flow)

namespace {

// The panel's place on the main window, in device-independent pixels.
constexpr int PanelWidth = 255;
constexpr int PanelHeight = 104;

// What the panel would look like placed on the main window.
struct Placed {
    QWidget window;
    VelaComm *panel = new VelaComm(&window);
    Placed() {
        window.resize(PanelWidth + 20, PanelHeight + 20);
        panel->setGeometry(10, 10, PanelWidth, PanelHeight);
    }
};

QList<Kind> kindsOffered(const VelaComm &panel) {
    const auto *combo = panel.findChild<QComboBox *>(QStringLiteral("cmbKind"));
    QList<Kind> kinds;
    for (int i = 0; i < combo->count(); ++i)
        kinds << Kind(combo->itemData(i).toInt());
    return kinds;
}

} // namespace

class TestVelaComm : public QObject {
    Q_OBJECT
    QTemporaryDir mConfigHome;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(mConfigHome.path())); }

    void fitsItsArea_data() {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("spooler") << Kind::Spooler;
        QTest::newRow("tcp/ip") << Kind::Tcp;
        QTest::newRow("file") << Kind::File;
        QTest::newRow("serial") << Kind::Serial;
    }
    void fitsItsArea() {
        QFETCH(Kind, kind);
        Placed placed;
        ConnectionSettings settings;
        settings.kind = kind;
        settings.queue = QStringLiteral("KRV520_Front_Desk");
        settings.serial.device = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
        settings.serial.speed = 115200;
        settings.serial.flow = SerialSettings::Flow::XonXoff;
        placed.panel->setSettings(settings);
        placed.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&placed.window));

        const QSize wanted = placed.panel->minimumSizeHint();
        QVERIFY2(wanted.width() <= PanelWidth && wanted.height() <= PanelHeight,
                 qPrintable(QStringLiteral("%1x%2").arg(wanted.width()).arg(wanted.height())));
        int checked = 0;
        for (QWidget *child : placed.panel->findChildren<QWidget *>()) {
            if (!child->isVisibleTo(placed.panel) || child->inherits("QStackedWidget") ||
                child->parentWidget()->inherits("QStackedWidget") ||
                !child->parentWidget()->isVisibleTo(placed.panel) ||
                child->parentWidget()->inherits("QComboBox") ||
                child->parentWidget()->inherits("QAbstractSpinBox"))
                continue;
            const QRect area(child->mapTo(placed.panel, QPoint(0, 0)), child->size());
            const QString name = child->objectName() + QLatin1Char(' ') +
                                 QString::fromLatin1(child->metaObject()->className());
            QVERIFY2(placed.panel->rect().contains(area), qPrintable(name));
            const QSize least = child->minimumSizeHint();
            QVERIFY2(child->width() >= least.width() && child->height() >= least.height(),
                     qPrintable(name));
            if (const auto *label = qobject_cast<QLabel *>(child)) {
                const QString text = QString(label->text()).remove(QLatin1Char('&'));
                QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(text),
                         qPrintable(text));
            }
            ++checked;
        }
        QVERIFY(checked >= 4); // the kind row and at least one row of the page
    }

    // The panel's lists are sized and made editable without building their
    // drop-down views until they are opened; they must come out as Qt's own
    // settings make them, before and after opening.
    void listsMatchQtsOwnSettings_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("editable");
        QTest::newRow("connection kind") << 8 << QString() << 8.25 << false;
        QTest::newRow("queue, placeholder")
            << 6 << QStringLiteral("Default queue") << 8.25 << false;
        QTest::newRow("placeholder wider than the length")
            << 2 << QStringLiteral("A placeholder wider than two X") << 14.0 << false;
        QTest::newRow("no minimum length") << 0 << QString() << 8.25 << false;
        QTest::newRow("serial device, editable") << 6 << QString() << 8.25 << true;
        QTest::newRow("speed, editable, larger font") << 5 << QString() << 12.0 << true;
    }
    void listsMatchQtsOwnSettings() {
        QFETCH(int, length);
        QFETCH(QString, placeholder);
        QFETCH(double, points);
        QFETCH(bool, editable);
        QWidget window;
        QFont font = window.font();
        font.setPointSizeF(points);
        window.setFont(font); // inherited, as the panel's lists inherit the window's
        ContentsLengthComboBox ours(length, &window);
        QComboBox theirs(&window);
        theirs.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        theirs.setMinimumContentsLength(length);
        for (QComboBox *list : {static_cast<QComboBox *>(&ours), &theirs}) {
            list->addItems({QStringLiteral("9600"), QStringLiteral("an entry longer than any")});
            list->setPlaceholderText(placeholder);
        }
        if (editable) {
            makeEditable(&ours);
            theirs.setEditable(true);
        }
        QVERIFY(!ours.findChild<QAbstractItemView *>());
        QCOMPARE(ours.sizeHint(), theirs.sizeHint());
        QCOMPARE(ours.minimumSizeHint(), theirs.minimumSizeHint());
        QCOMPARE(ours.isEditable(), theirs.isEditable());
        if (editable) {
            QCOMPARE(ours.lineEdit()->hasFrame(), theirs.lineEdit()->hasFrame());
            QCOMPARE(ours.completer()->completionMode(), theirs.completer()->completionMode());
            QCOMPARE(ours.completer()->caseSensitivity(), theirs.completer()->caseSensitivity());
            QCOMPARE(ours.focusPolicy(), theirs.focusPolicy());
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QComboBox *list : {static_cast<QComboBox *>(&ours), &theirs})
            list->showPopup();
        QCOMPARE(ours.view()->verticalScrollBarPolicy(), theirs.view()->verticalScrollBarPolicy());
        QCOMPARE(ours.view()->itemDelegate()->metaObject()->className(),
                 theirs.view()->itemDelegate()->metaObject()->className());
        QCOMPARE(ours.view()->window()->size(), theirs.view()->window()->size());
    }

    void operatedByKeyboardAlone() {
        Placed placed;
        placed.window.show();
        QApplication::setActiveWindow(&placed.window);
        QVERIFY(QTest::qWaitForWindowActive(&placed.window));
        auto *kind = placed.panel->findChild<QComboBox *>(QStringLiteral("cmbKind"));
        auto *host = placed.panel->findChild<QLineEdit *>(QStringLiteral("txtHost"));
        auto *port = placed.panel->findChild<QSpinBox *>(QStringLiteral("spnPort"));
        auto *path = placed.panel->findChild<QLineEdit *>(QStringLiteral("txtPath"));

        // The label's mnemonic reaches the kind list.
        QTest::keyClick(&placed.window, Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), kind);
        QTest::keyClick(kind, Qt::Key_Down);
        QCOMPARE(placed.panel->settings().kind, Kind::Tcp);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), host);
        QTest::keyClicks(host, QStringLiteral("127.0.0.1"));
        QTest::keyClick(host, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), port);
        QTest::keyClick(port, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(port, QStringLiteral("9101"));
        QTest::keyClick(port, Qt::Key_Tab);

        QTest::keyClick(&placed.window, Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), kind);
        QTest::keyClick(kind, Qt::Key_Down);
        QTest::keyClick(kind, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), path);
        QTest::keyClicks(path, QStringLiteral("/dev/usb/lp0"));

        const ConnectionSettings s = placed.panel->settings();
        QCOMPARE(s.kind, Kind::File);
        QCOMPARE(s.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(s.port, quint16(9101));
        QCOMPARE(s.path, QStringLiteral("/dev/usb/lp0"));
    }

    void showSwitchesLimitTheChoice_data() {
        QTest::addColumn<bool>("spooler");
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QList<Kind>>("offered");
        QTest::addColumn<Kind>("current");
        QTest::newRow("all") << true << true << true << true
                             << QList<Kind>{Kind::Spooler, Kind::Tcp, Kind::File, Kind::Serial}
                             << Kind::Spooler;
        QTest::newRow("no spooler")
            << false << true << true << false << QList<Kind>{Kind::Tcp, Kind::File} << Kind::Tcp;
        QTest::newRow("file only")
            << false << false << true << false << QList<Kind>{Kind::File} << Kind::File;
        QTest::newRow("no tcp") << true << false << true << false
                                << QList<Kind>{Kind::Spooler, Kind::File} << Kind::Spooler;
        QTest::newRow("serial only")
            << false << false << false << true << QList<Kind>{Kind::Serial} << Kind::Serial;
        QTest::newRow("serial after file") << false << false << true << true
                                           << QList<Kind>{Kind::File, Kind::Serial} << Kind::File;
    }
    void showSwitchesLimitTheChoice() {
        QFETCH(bool, spooler);
        QFETCH(bool, tcp);
        QFETCH(bool, file);
        QFETCH(bool, serial);
        QFETCH(QList<Kind>, offered);
        QFETCH(Kind, current);
        VelaComm panel;
        // Hide everything first, then show again what is wanted, so that
        // re-showing is covered too.
        panel.setShowSpooler(false);
        panel.setShowTcpip(false);
        panel.setShowFile(false);
        panel.setShowSerial(false);
        panel.setShowSerial(serial);
        panel.setShowFile(file);
        panel.setShowTcpip(tcp);
        panel.setShowSpooler(spooler);
        QCOMPARE(kindsOffered(panel), offered);
        panel.setSettings(ConnectionSettings{});
        QCOMPARE(panel.settings().kind, current);
        const auto *pages = panel.findChild<QStackedWidget *>(QStringLiteral("pages"));
        QCOMPARE(pages->currentIndex(), int(current));
    }

    void sendsThroughWhatItShowsAtOpen() {
        krv::test::TcpPeer peer(krv::test::TcpPeer::Mode::ReadAll);
        VelaComm panel;
        ConnectionSettings settings;
        settings.kind = Kind::Tcp;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = peer.port();
        panel.setSettings(settings);
        panel.OpenPort();
        // Changing the panel during a send does not redirect it.
        settings.port = krv::test::closedPort();
        panel.setSettings(settings);
        panel.SendData(krv::test::everyByteValue());
        panel.ClosePort();
        QVERIFY(peer.waitForJobs(1));
        QCOMPARE(peer.jobs().first(), krv::test::everyByteValue());
        // And the next send uses the new choice.
        QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, SendToPrinter(panel, "x"));
    }

    void sendWithoutOpenIsAnError() {
        VelaComm panel;
        QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, panel.SendData("x"));
    }

    void configRoundTripAndEmptyStore() {
        VelaComm first;
        first.ReadConfig(QStringLiteral("NothingStoredHere"));
        QCOMPARE(first.settings(), ConnectionSettings{});

        ConnectionSettings settings;
        settings.kind = Kind::File;
        settings.queue = QStringLiteral("KRV520");
        settings.host = QStringLiteral("printer.example");
        settings.port = 4000;
        settings.path = QStringLiteral("/dev/usb/lp0");
        first.setSettings(settings);
        first.WriteConfig(QStringLiteral("KRV520Config"));

        VelaComm second;
        second.ReadConfig(QStringLiteral("KRV520Config"));
        QCOMPARE(second.settings(), settings);
    }

    void serialChoiceRoundTripsThroughStore_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<qint32>("speed");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<SerialSettings::Flow>("flow");
        QTest::newRow("bluetooth, 38400 7E1 RTS/CTS")
            << "/dev/rfcomm0" << 38400 << "7E1" << SerialSettings::Flow::RtsCts;
        QTest::newRow("speed not listed, 8O2 XON/XOFF")
            << "/dev/pts/7" << 250000 << "8O2" << SerialSettings::Flow::XonXoff;
    }
    void serialChoiceRoundTripsThroughStore() {
        QFETCH(QString, device);
        QFETCH(qint32, speed);
        QFETCH(QString, frame);
        QFETCH(SerialSettings::Flow, flow);
        ConnectionSettings settings;
        settings.kind = Kind::Serial;
        settings.serial.device = device;
        settings.serial.speed = speed;
        QVERIFY(parseFrame(frame, settings.serial));
        settings.serial.flow = flow;
        VelaComm first;
        first.setSettings(settings);
        first.WriteConfig(QStringLiteral("SerialRoundTrip"));

        VelaComm second;
        second.ReadConfig(QStringLiteral("SerialRoundTrip"));
        QCOMPARE(second.settings(), settings);
    }

    void keyboardReachesEverySerialControl() {
        Placed placed;
        placed.window.show();
        QApplication::setActiveWindow(&placed.window);
        QVERIFY(QTest::qWaitForWindowActive(&placed.window));
        QSignalSpy changed(placed.panel, &VelaComm::connectionChanged);
        const auto find = [&](const char *name) {
            return placed.panel->findChild<QWidget *>(QString::fromLatin1(name));
        };
        const auto tab = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); };
        const auto type = [](const QString &text) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), text);
        };

        QTest::keyClick(&placed.window, Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), find("cmbKind"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End); // the last kind
        QCOMPARE(placed.panel->settings().kind, Kind::Serial);
        tab();
        QCOMPARE(QApplication::focusWidget(), find("cmbSerialDevice"));
        type(QStringLiteral("/dev/pts/7"));
        tab();
        QCOMPARE(QApplication::focusWidget(), find("butRefreshPorts"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(placed.panel->settings().serial.device, QStringLiteral("/dev/pts/7"));
        tab();
        QCOMPARE(QApplication::focusWidget(), find("cmbSerialSpeed"));
        // An emptied speed is the default again once left.
        type(QString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
        tab();
        QCOMPARE(qobject_cast<QComboBox *>(find("cmbSerialSpeed"))->currentText(),
                 QStringLiteral("9600"));
        QCOMPARE(QApplication::focusWidget(), find("cmbSerialFrame"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        type(QStringLiteral("38400"));
        tab();
        const int before = int(changed.count());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); // 8N1 -> 8E1
        tab();
        QCOMPARE(QApplication::focusWidget(), find("cmbSerialFlow"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End); // XON/XOFF
        QCOMPARE(changed.count(), before + 2);
        // Alt+D leads back to the device from anywhere in the panel.
        QTest::keyClick(&placed.window, Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), find("cmbSerialDevice"));

        const SerialSettings serial = placed.panel->settings().serial;
        QCOMPARE(serial.device, QStringLiteral("/dev/pts/7"));
        QCOMPARE(serial.speed, 38400);
        QCOMPARE(frameText(serial), QStringLiteral("8E1"));
        QCOMPARE(serial.flow, SerialSettings::Flow::XonXoff);
    }

    void storedQueueStaysWhenSpoolerIsAway() {
        // CUPS_SERVER points at nothing in this test, so listing fails.
        Placed placed;
        ConnectionSettings settings;
        settings.queue = QStringLiteral("KRV520_Back");
        placed.panel->setSettings(settings);
        placed.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&placed.window));
        placed.panel->refreshQueues(false);
        QCOMPARE(placed.panel->settings().queue, QStringLiteral("KRV520_Back"));
        // The listing runs on its own now: wait for its answer.
        const auto *queue = placed.panel->findChild<QComboBox *>(QStringLiteral("cmbQueue"));
        QTRY_VERIFY(!queue->toolTip().isEmpty());
        QCOMPARE(placed.panel->settings().queue, QStringLiteral("KRV520_Back"));
    }
};

QTEST_MAIN(TestVelaComm)
#include "tst_velacomm.moc"
