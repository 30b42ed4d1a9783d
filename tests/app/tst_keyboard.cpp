// The main window driven from the keyboard: Tab and Shift+Tab over each page,
// the page keys, and a visible focus mark from the start. The expected
// sequences are written from the designed tab-order numbers, by hand.
#include "TabControl.h"
#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

using krv::app::frmMain;

namespace {

// Ascending tab order of the visible controls that take focus, from the tab
// strip (0) round to the last one before it comes back.
const QStringList PrinterOrder{
    "SSTab1_tabs",                               // 0
    "butTestPrint", "butDownload", "butClose",   // 3, 4, 5
    "cmbKind",      "cmbQueue",    "butRefresh", // 48: the panel, spooler chosen
};
const QStringList GeneralOrder{
    "SSTab1_tabs",                // 0
    "cmbFFAction", "butHelp(0)",  // 7, 8
    "cmbSpeed",    "butHelp(4)",  // 10, 11
    "cmbDensity",  "butHelp(5)",  // 13, 14
    "cmbCRCode",   "butHelp(7)",  // 28, 29
    "cmbPWidth",   "butHelp(10)", // 37, 38
    "cmbPNEnd",    "butHelp(11)", // 40, 41
    "cmbPESignal", "butHelp(12)", // 43, 44
    "cmbBuffer",   "butHelp(13)", // 46, 47
};
const QStringList CharactersOrder{
    "SSTab1_tabs",                   // 0
    "cmbIntCSet",    "butHelp(2)",   // 16, 17
    "cmbCPage",      "butHelp(3)",   // 19, 20
    "cmbZStyle",     "butHelp(1)",   // 22, 23
    "cmbCSpacing",   "butHelp(6)",   // 25, 26
    "cmbLSpacing",   "cmbEPColumns", // 31, 33
    "butHelp(8)",    "butHelp(9)",   // 34, 35
    "cmbEPFontSize", "butHelp(14)",  // 50, 51
    "cmbEPSpacing",  "butHelp(15)",  // 52, 53
};

// The control a user sees focused: a spin box's inner editor counts as the spin box.
QString focusName() {
    QWidget *w = QApplication::focusWidget();
    while (w && (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))))
        w = w->parentWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

    QTemporaryDir mConfigHome;
    std::unique_ptr<frmMain> mWindow;

    QWidget *find(const QString &name) const { return mWindow->findChild<QWidget *>(name); }
    // Presses KEY on the focused control the number of times given, collecting
    // where the focus lands after each press.
    QStringList press(Qt::Key key, Qt::KeyboardModifiers modifiers, int times) {
        QStringList seen;
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            seen << focusName();
        }
        return seen;
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", mConfigHome.path().toLocal8Bit()); }
    void init() {
        mWindow = std::make_unique<frmMain>();
        mWindow->Form_Load();
        mWindow->showCentred();
        QVERIFY(QTest::qWaitForWindowActive(mWindow.get()));
    }
    void cleanup() { mWindow.reset(); }

    void tabFollowsTheDesignedOrder_data();
    void tabFollowsTheDesignedOrder();
    void pageKeysChangePages_data();
    void pageKeysChangePages();
    void focusIsMarkedFromTheStart();
};

void TestKeyboard::tabFollowsTheDesignedOrder_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("Printer") << 0 << PrinterOrder;
    QTest::newRow("General") << 1 << GeneralOrder;
    QTest::newRow("Characters") << 2 << CharactersOrder;
}

void TestKeyboard::tabFollowsTheDesignedOrder() {
    QFETCH(int, page);
    QFETCH(QStringList, order);
    mWindow->SSTab1()->setCurrentPage(page);
    mWindow->SSTab1()->tabBar()->setFocus(Qt::TabFocusReason);
    QCOMPARE(focusName(), QStringLiteral("SSTab1_tabs"));

    // Twice round forwards and back: the order wraps both ways.
    const QStringList forwards = order.mid(1) + order + order.mid(0, 1);
    QCOMPARE(press(Qt::Key_Tab, Qt::NoModifier, int(forwards.size())), forwards);
    QStringList backwards;
    for (auto it = forwards.crbegin() + 1; it != forwards.crend(); ++it)
        backwards << *it;
    backwards << order.first();
    QCOMPARE(press(Qt::Key_Backtab, Qt::ShiftModifier, int(backwards.size())), backwards);
    QCOMPARE(mWindow->SSTab1()->currentPage(), page);
}

void TestKeyboard::pageKeysChangePages_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("to");
    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("Ctrl+Tab on the strip") << 0 << "SSTab1_tabs" << int(Qt::Key_Tab) << ctrl << 1;
    QTest::newRow("Ctrl+Tab wraps") << 2 << "butHelp(15)" << int(Qt::Key_Tab) << ctrl << 0;
    QTest::newRow("Ctrl+Shift+Tab wraps")
        << 0 << "butClose" << int(Qt::Key_Backtab) << ctrlShift << 2;
    QTest::newRow("Ctrl+Shift+Tab in a list")
        << 1 << "cmbSpeed" << int(Qt::Key_Backtab) << ctrlShift << 0;
    QTest::newRow("Ctrl+PageDown in a list")
        << 1 << "cmbSpeed" << int(Qt::Key_PageDown) << ctrl << 2;
    QTest::newRow("Ctrl+PageUp in a list") << 2 << "cmbZStyle" << int(Qt::Key_PageUp) << ctrl << 1;
    QTest::newRow("Ctrl+PageUp in the panel") << 0 << "cmbKind" << int(Qt::Key_PageUp) << ctrl << 2;
}

void TestKeyboard::pageKeysChangePages() {
    QFETCH(int, from);
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, to);
    mWindow->SSTab1()->setCurrentPage(from);
    QWidget *start = find(focus);
    QVERIFY(start);
    start->setFocus(Qt::TabFocusReason);
    auto *list = qobject_cast<QComboBox *>(start);
    const int selected = list ? list->currentIndex() : -1;

    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(mWindow->SSTab1()->currentPage(), to);
    // The page changed, not the list's entry; the focus is on the new page.
    if (list)
        QCOMPARE(list->currentIndex(), selected);
    QVERIFY(QApplication::focusWidget());
    QVERIFY(QApplication::focusWidget()->isVisible());
}

// The strip holds the focus at start; drawn with and without it, it must differ.
void TestKeyboard::focusIsMarkedFromTheStart() {
    QTabBar *strip = mWindow->SSTab1()->tabBar();
    QCOMPARE(QApplication::focusWidget(), strip);
    const QImage focused = strip->grab().toImage();
    find(QStringLiteral("butClose"))->setFocus(Qt::OtherFocusReason);
    QVERIFY(!strip->hasFocus());
    const QImage unfocused = strip->grab().toImage();
    QVERIFY2(focused != unfocused, "the focused tab strip looks the same as an unfocused one");
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
