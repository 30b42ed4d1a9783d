// The main window as a user meets it: layout, start-up state, focus order,
// Help buttons, Download Settings and Test Print against a real listener,
// and the error report. Positions are pixels in window coordinates, written
// from the designed twips (15 twips a pixel), not read from the layout code.
#include "JobProgress.h"
#include "TabControl.h"
#include "frmMain.h"

#include "ConnectionSettings.h"
#include "HelpDesk.h"
#include "VelaComm.h"
#include "frmHelp.h"

#include "TestSupport.h"

#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <QAccessible>
#include <QDialog>
#include <QElapsedTimer>

using krv::app::frmMain;
using krv::comm::ConnectionSettings;

namespace {

const QString Title = QStringLiteral("Vela KRV520 Configuration Utility");

struct Expected {
    const char *name;
    int page; // -1: the tab control itself
    QRect rect;
    const char *text;
    double points;
    bool bold;
};

// Setting rows: label at x 24 (233 wide), list at 264 (145), Help at 408 (65).
constexpr int rowY(int row) {
    return 24 + 24 * row;
}

const Expected Controls[] = {
    {"SSTab1", -1, {0, 0, 497, 305}, nullptr, 0, false},
    {"labTitle", 0, {24, 40, 465, 33}, "Vela KRV520 Configuration Utility", 18, true},
    {"labVersion", 0, {24, 64, 241, 17}, "Version 1.4.1", 8.25, true},
    {"VelaComm1", 0, {24, 116, 255, 104}, nullptr, 0, false},
    {"Image1", 0, {296, 88, 165, 139}, nullptr, 0, false},
    {"butTestPrint", 0, {24, 264, 105, 25}, "Test Print", 8.25, false},
    {"butDownload", 0, {144, 264, 105, 25}, "Download Settings", 8.25, false},
    {"butClose", 0, {376, 264, 105, 25}, "Close", 8.25, false},
    // "General"
    {"Label7", 1, {24, rowY(1), 233, 17}, "Action on Form Feed:", 9.75, true},
    {"cmbFFAction", 1, {264, rowY(1), 145, 21}, "No Change", 8.25, false},
    {"butHelp(0)", 1, {408, rowY(1), 65, 21}, "Help", 8.25, false},
    {"Label8(3)", 1, {24, rowY(2), 233, 17}, "Print Speed:", 9.75, true},
    {"cmbSpeed", 1, {264, rowY(2), 145, 21}, "No Change", 8.25, false},
    {"butHelp(4)", 1, {408, rowY(2), 65, 21}, "Help", 8.25, false},
    {"Label8(4)", 1, {24, rowY(3), 233, 17}, "Print Density:", 9.75, true},
    {"cmbDensity", 1, {264, rowY(3), 145, 21}, "No Change", 8.25, false},
    {"butHelp(5)", 1, {408, rowY(3), 65, 21}, "Help", 8.25, false},
    {"Label8(6)", 1, {24, rowY(4), 233, 17}, "Carriage Return (<CR> code):", 9.75, true},
    {"cmbCRCode", 1, {264, rowY(4), 145, 21}, "No Change", 8.25, false},
    {"butHelp(7)", 1, {408, rowY(4), 65, 21}, "Help", 8.25, false},
    {"Label8(9)", 1, {24, rowY(5), 233, 17}, "Print Width:", 9.75, true},
    {"cmbPWidth", 1, {264, rowY(5), 145, 21}, "No Change", 8.25, false},
    {"butHelp(10)", 1, {408, rowY(5), 65, 21}, "Help", 8.25, false},
    {"Label8(10)", 1, {24, rowY(6), 233, 17}, "Paper Near End Sensor:", 9.75, true},
    {"cmbPNEnd", 1, {264, rowY(6), 145, 21}, "No Change", 8.25, false},
    {"butHelp(11)", 1, {408, rowY(6), 65, 21}, "Help", 8.25, false},
    {"Label8(11)", 1, {24, rowY(7), 233, 17}, "Parallel Port Paper End Signal:", 9.75, true},
    {"cmbPESignal", 1, {264, rowY(7), 145, 21}, "No Change", 8.25, false},
    {"butHelp(12)", 1, {408, rowY(7), 65, 21}, "Help", 8.25, false},
    {"Label8(12)", 1, {24, rowY(8), 233, 17}, "Data Buffer Size (ESC/POS):", 9.75, true},
    {"cmbBuffer", 1, {264, rowY(8), 145, 21}, "No Change", 8.25, false},
    {"butHelp(13)", 1, {408, rowY(8), 65, 21}, "Help", 8.25, false},
    // "Characters"
    {"Label8(1)", 2, {24, rowY(1), 233, 17}, "International Character Set:", 9.75, true},
    {"cmbIntCSet", 2, {264, rowY(1), 145, 21}, "No Change", 8.25, false},
    {"butHelp(2)", 2, {408, rowY(1), 65, 21}, "Help", 8.25, false},
    {"Label8(2)", 2, {24, rowY(2), 233, 17}, "Character Code Page:", 9.75, true},
    {"cmbCPage", 2, {264, rowY(2), 145, 21}, "No Change", 8.25, false},
    {"butHelp(3)", 2, {408, rowY(2), 65, 21}, "Help", 8.25, false},
    {"Label8(0)", 2, {24, rowY(3), 233, 17}, "Zero Style:", 9.75, true},
    {"cmbZStyle", 2, {264, rowY(3), 145, 21}, "No Change", 8.25, false},
    {"butHelp(1)", 2, {408, rowY(3), 65, 21}, "Help", 8.25, false},
    {"Label8(5)", 2, {24, rowY(4), 233, 17}, "Character Spacing:", 9.75, true},
    {"cmbCSpacing", 2, {264, rowY(4), 145, 21}, "No Change", 8.25, false},
    {"butHelp(6)", 2, {408, rowY(4), 65, 21}, "Help", 8.25, false},
    {"Label8(7)", 2, {24, rowY(5), 233, 17}, "Line Spacing:", 9.75, true},
    {"cmbLSpacing", 2, {264, rowY(5), 145, 21}, "No Change", 8.25, false},
    {"butHelp(8)", 2, {408, rowY(5), 65, 21}, "Help", 8.25, false},
    {"Label8(8)", 2, {24, rowY(6), 233, 17}, "Print Columns (ESC/POS Mode):", 9.75, true},
    {"cmbEPColumns", 2, {264, rowY(6), 145, 21}, "No Change", 8.25, false},
    {"butHelp(9)", 2, {408, rowY(6), 65, 21}, "Help", 8.25, false},
    {"Label8(13)", 2, {24, rowY(7), 233, 17}, "Font A Size (ESC/POS Mode):", 9.75, true},
    {"cmbEPFontSize", 2, {264, rowY(7), 145, 21}, "No Change", 8.25, false},
    {"butHelp(14)", 2, {408, rowY(7), 65, 21}, "Help", 8.25, false},
    {"Label8(14)", 2, {24, rowY(8), 233, 17}, "Extra Spacing (ESC/POS Mode):", 9.75, true},
    {"cmbEPSpacing", 2, {264, rowY(8), 145, 21}, "No Change", 8.25, false},
    {"butHelp(15)", 2, {408, rowY(8), 65, 21}, "Help", 8.25, false},
};

// Focusable controls in ascending designed tab order.
const char *const FocusOrder[] = {
    "SSTab1_tabs", "butTestPrint", "butDownload", "butClose",      "cmbFFAction", "butHelp(0)",
    "cmbSpeed",    "butHelp(4)",   "cmbDensity",  "butHelp(5)",    "cmbIntCSet",  "butHelp(2)",
    "cmbCPage",    "butHelp(3)",   "cmbZStyle",   "butHelp(1)",    "cmbCSpacing", "butHelp(6)",
    "cmbCRCode",   "butHelp(7)",   "cmbLSpacing", "cmbEPColumns",  "butHelp(8)",  "butHelp(9)",
    "cmbPWidth",   "butHelp(10)",  "cmbPNEnd",    "butHelp(11)",   "cmbPESignal", "butHelp(12)",
    "cmbBuffer",   "butHelp(13)",  "VelaComm1",   "cmbEPFontSize", "butHelp(14)", "cmbEPSpacing",
    "butHelp(15)",
};

QString textOf(QWidget *w) {
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QPushButton *>(w))
        return button->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    return {};
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir mConfigHome;
    std::unique_ptr<frmMain> mWindow;

    template <typename T = QWidget> T *find(const char *name) const {
        T *w = mWindow->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void select(const char *list, int index) { find<QComboBox>(list)->setCurrentIndex(index); }
    void pointAt(quint16 port) {
        ConnectionSettings s;
        s.kind = ConnectionSettings::Kind::Tcp;
        s.host = QStringLiteral("127.0.0.1");
        s.port = port;
        mWindow->VelaComm1()->setSettings(s);
    }
    // Clicks a button and waits for the send it starts to end; a message box
    // raised meanwhile is answered and returned.
    QString click(const char *button) {
        QString said;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&said] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                said = box->text();
                box->accept();
            }
        });
        answer.start(10);
        QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton);
        const auto ended = [this] {
            QTRY_VERIFY_WITH_TIMEOUT(!mWindow->runningJob() && !QApplication::activeModalWidget(),
                                     30000);
        };
        ended();
        return said;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", mConfigHome.path().toLocal8Bit());
        // No scheduler there: the panel's lookups fail at once (error 1030).
        qputenv("CUPS_SERVER",
                QByteArray("127.0.0.1:") + QByteArray::number(krv::test::closedPort()));
    }
    void init() {
        mWindow = std::make_unique<frmMain>();
        mWindow->Form_Load();
        mWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
    }
    void cleanup() { mWindow.reset(); }

    void controlsStandWhereDesigned_data();
    void controlsStandWhereDesigned();
    void windowIsFixedSizeWithTitleBarOnly();
    void stateRightAfterStart();
    void listsArePickOnlyAndFilledFromTheCatalogue();
    void versionLabelIsRed();
    void focusFollowsTheDesignedOrder();
    void pagesShowOnlyTheirOwnControls();
    void helpButtonOpensItsRowsTopic_data();
    void helpButtonOpensItsRowsTopic();
    void downloadSendsTheSameBatchTwice();
    void testPrintSendsThePage();
    void failingSendIsReportedAndNothingIsLost();
    void logoIsLoaded();
    void goodSendIsConfirmedForEveryone();
    void cancelledSendSaysHowFarItGotAndKeepsTheSelections();
    void closingDuringASendCancelsIt();
    void everyErrorHasTheSameReport_data();
    void everyErrorHasTheSameReport();
};

void TestMainWindow::controlsStandWhereDesigned_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(Controls)); ++i)
        QTest::newRow(Controls[i].name) << i;
}

void TestMainWindow::controlsStandWhereDesigned() {
    QFETCH(int, row);
    const Expected &e = Controls[row];
    QWidget *w = find(e.name);
    QCOMPARE(QRect(w->mapTo(mWindow.get(), QPoint(0, 0)), w->size()), e.rect);
    if (e.page >= 0)
        QCOMPARE(w->parentWidget(), mWindow->SSTab1()->page(e.page));
    if (e.text) {
        QCOMPARE(textOf(w), QString::fromLatin1(e.text));
        QCOMPARE(w->font().pointSizeF(), e.points);
        QCOMPARE(w->font().bold(), e.bold);
        // Drawn in the face that "MS Sans Serif" stands for on this machine.
        QFont designed(QStringLiteral("MS Sans Serif"));
        designed.setPointSizeF(e.points);
        designed.setBold(e.bold);
        designed.setStyleHint(QFont::SansSerif);
        const QFontInfo drawn(w->font());
        const QFontInfo wanted(designed);
        QCOMPARE(drawn.family(), wanted.family());
        QCOMPARE(drawn.pixelSize(), wanted.pixelSize());
        QCOMPARE(drawn.bold(), wanted.bold());
    }
}

void TestMainWindow::windowIsFixedSizeWithTitleBarOnly() {
    QCOMPARE(mWindow->size(), QSize(498, 304));
    QCOMPARE(mWindow->minimumSize(), QSize(498, 304));
    QCOMPARE(mWindow->maximumSize(), QSize(498, 304));
    const Qt::WindowFlags flags = mWindow->windowFlags();
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    const QList<QSize> iconSizes = mWindow->windowIcon().availableSizes();
    QVERIFY2(iconSizes.contains(QSize(32, 32)), "the window has its own 32 x 32 icon");
}

void TestMainWindow::stateRightAfterStart() {
    QCOMPARE(mWindow->windowTitle(), Title);
    QCOMPARE(find<QLabel>("labTitle")->text(), Title);
    QCOMPARE(find<QLabel>("labVersion")->text(), QStringLiteral("Version 1.4.1"));
    QCOMPARE(mWindow->SSTab1()->currentPage(), 0);
    QCOMPARE(mWindow->SSTab1()->tabBar()->count(), 3);
    QCOMPARE(mWindow->SSTab1()->tabBar()->tabText(0), QStringLiteral("Printer"));
    QCOMPARE(mWindow->SSTab1()->tabBar()->tabText(1), QStringLiteral("General"));
    QCOMPARE(mWindow->SSTab1()->tabBar()->tabText(2), QStringLiteral("Characters"));
    QCOMPARE(mWindow->SSTab1()->tabBar()->height(), 35);
    for (const krv::settings::Setting &s : krv::settings::catalogue()) {
        auto *list = find<QComboBox>(std::string(s.comboName).c_str());
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->currentText(), QStringLiteral("No Change"));
    }
    for (const QByteArray &topic : mWindow->helpDesk().HelpTopics())
        QVERIFY(topic.startsWith("{\\rtf1"));
    QVERIFY(mWindow->helpDesk().helpWindow());
    QVERIFY(!mWindow->helpDesk().helpWindow()->isVisible());
}

void TestMainWindow::listsArePickOnlyAndFilledFromTheCatalogue() {
    for (const krv::settings::Setting &s : krv::settings::catalogue()) {
        auto *list = find<QComboBox>(std::string(s.comboName).c_str());
        QVERIFY(!list->isEditable());
        QCOMPARE(list->count(), int(s.entries.size()));
        for (int i = 0; i < list->count(); ++i)
            QCOMPARE(list->itemText(i).toLatin1(),
                     QByteArray(s.entries[std::size_t(i)].text.data(),
                                qsizetype(s.entries[std::size_t(i)].text.size())));
        QTest::keyClicks(list, QStringLiteral("zzz")); // typing picks nothing new
        QVERIFY(list->currentIndex() >= 0 && list->currentIndex() < list->count());
    }
}

void TestMainWindow::versionLabelIsRed() {
    QCOMPARE(find<QLabel>("labVersion")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

void TestMainWindow::focusFollowsTheDesignedOrder() {
    QStringList chain;
    QWidget *w = find("SSTab1_tabs");
    QWidget *comm = mWindow->VelaComm1();
    const QSet<QString> wanted(std::begin(FocusOrder), std::end(FocusOrder));
    for (int i = 0; i < 400 && chain.size() < int(std::size(FocusOrder));
         ++i, w = w->nextInFocusChain()) {
        const QString name =
            comm->isAncestorOf(w) || w == comm ? QStringLiteral("VelaComm1") : w->objectName();
        if (wanted.contains(name) && !chain.contains(name))
            chain << name;
    }
    QStringList expected;
    for (const char *name : FocusOrder)
        expected << QString::fromLatin1(name);
    QCOMPARE(chain, expected);
}

void TestMainWindow::pagesShowOnlyTheirOwnControls() {
    select("cmbSpeed", 3);
    mWindow->SSTab1()->tabBar()->setCurrentIndex(1);
    QVERIFY(find("cmbSpeed")->isVisible());
    QVERIFY(!find("butDownload")->isVisible());
    QVERIFY(!find("cmbZStyle")->isVisible());
    mWindow->SSTab1()->tabBar()->setCurrentIndex(0);
    QVERIFY(find("butDownload")->isVisible());
    QVERIFY(!find("cmbSpeed")->isVisible());
    QCOMPARE(find<QComboBox>("cmbSpeed")->currentIndex(), 3);
}

void TestMainWindow::helpButtonOpensItsRowsTopic_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("title");
    const char *const rows[][2] = {
        {"Action on Form Feed:", "Action on Form Feed"},
        {"Zero Style:", "Zero Style"},
        {"International Character Set:", "International Character Set"},
        {"Character Code Page:", "Character Code Page"},
        {"Print Speed:", "Print Speed"},
        {"Print Density:", "Print Density"},
        {"Character Spacing:", "Character Spacing"},
        {"Carriage Return (<CR> code):", "Carriage Return (<CR> Code)"},
        {"Line Spacing:", "Line Spacing"},
        {"Print Columns (ESC/POS Mode):", "Print Columns (ESC/POS) Mode"},
        {"Print Width:", "Print Width"},
        {"Paper Near End Sensor:", "Print Near End Sensor"},
        {"Parallel Port Paper End Signal:", "Parallel Port Paper End Signal"},
        {"Data Buffer Size (ESC/POS):", "Data Buffer Size (ESC/POS)"},
        {"Font A Size (ESC/POS Mode):", "Font Size (ESC/POS) Mode"},
        {"Extra Spacing (ESC/POS Mode):", "Extra Spacing (ESC/POS) Mode"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

// The Help button is found as the one on the label's row, so a button wired
// to another row's topic shows up as the wrong title.
void TestMainWindow::helpButtonOpensItsRowsTopic() {
    QFETCH(QString, label);
    QLabel *caption = nullptr;
    for (QLabel *l : mWindow->findChildren<QLabel *>())
        if (l->text() == label)
            caption = l;
    QVERIFY(caption);
    QPushButton *help = nullptr;
    for (QPushButton *b : caption->parentWidget()->findChildren<QPushButton *>())
        if (b->text() == QLatin1String("Help") && b->y() == caption->y())
            help = b;
    QVERIFY(help);
    mWindow->SSTab1()->tabBar()->setCurrentIndex(
        caption->parentWidget() == mWindow->SSTab1()->page(1) ? 1 : 2);

    QString shown;
    QTimer::singleShot(0, this, [&] {
        auto *window = mWindow->helpDesk().helpWindow();
        if (window && window->isVisible()) {
            shown = window->rtbHelp()->toPlainText().section(u'\n', 0, 0);
            QTest::mouseClick(window->rtbHelp()->viewport(), Qt::LeftButton);
        }
    });
    QTest::mouseClick(help, Qt::LeftButton);
    QTEST(shown, "title");
    QVERIFY(!mWindow->helpDesk().helpWindow()->isVisible());
}

void TestMainWindow::downloadSendsTheSameBatchTwice() {
    krv::test::TcpPeer printer(krv::test::TcpPeer::Mode::ReadAll);
    pointAt(printer.port());
    select("cmbSpeed", 3);  // Low (50mm/s)
    select("cmbZStyle", 2); // Slashed
    QCOMPARE(click("butDownload"), QString());
    QCOMPARE(click("butDownload"), QString());
    const QByteArray expected = QByteArray::fromHex("1b1d232d32303033300a00"
                                                    "1b1d232b32303032300a00"
                                                    "1b1d232b31303031300a00"
                                                    "1b1d235730303030300a00");
    QVERIFY(printer.waitForJobs(2));
    QCOMPARE(printer.jobs(), QList<QByteArray>({expected, expected}));
    QCOMPARE(find<QComboBox>("cmbSpeed")->currentText(), QStringLiteral("Low (50mm/s)"));
}

void TestMainWindow::testPrintSendsThePage() {
    krv::test::TcpPeer printer(krv::test::TcpPeer::Mode::ReadAll);
    pointAt(printer.port());
    QCOMPARE(click("butTestPrint"), QString());
    QVERIFY(printer.waitForJobs(1));
    const QList<QByteArray> jobs = printer.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs[0].size(), 992);
    QVERIFY(jobs[0].startsWith("\x1b@\x1bi12Vela KRV520"));
    QVERIFY(jobs[0].endsWith("\x1b"
                             "d3"));
}

void TestMainWindow::failingSendIsReportedAndNothingIsLost() {
    pointAt(krv::test::closedPort());
    const ConnectionSettings connection = mWindow->VelaComm1()->settings();
    select("cmbDensity", 5);
    const QString said = click("butDownload");
    QVERIFY2(said.startsWith(QStringLiteral("Run-time error '")), qPrintable(said));
    QVERIFY2(said.contains(QString::number(connection.port)), qPrintable(said));
    QVERIFY(mWindow->isVisible());
    QCOMPARE(find<QComboBox>("cmbDensity")->currentIndex(), 5);
    QCOMPARE(mWindow->VelaComm1()->settings(), connection);
}

void TestMainWindow::logoIsLoaded() {
    const QPixmap logo = find<QLabel>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(239, 196));
    QVERIFY(find<QLabel>("Image1")->hasScaledContents());
}

void TestMainWindow::goodSendIsConfirmedForEveryone() {
    krv::test::TcpPeer printer(krv::test::TcpPeer::Mode::ReadAll);
    pointAt(printer.port());
    select("cmbSpeed", 3);
    select("cmbZStyle", 2);
    QCOMPARE(click("butDownload"), QString());
    const QString said = find<QLabel>("labJobResult")->text();
    const QString where = QStringLiteral("TCP/IP 127.0.0.1 port %1").arg(printer.port());
    QVERIFY2(said.startsWith(QStringLiteral("Sent 2 settings (44 bytes) to %1 at ").arg(where)),
             qPrintable(said));
    // What a screen reader reads out. (The Alert event itself goes out only
    // where a platform accessibility bridge is active, not offscreen.)
    QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(find("labJobResult"));
    QVERIFY(spoken);
    QCOMPARE(spoken->text(QAccessible::Name), said);
    // Other choices leave it standing.
    select("cmbDensity", 1);
    QCOMPARE(find<QLabel>("labJobResult")->text(), said);
}

void TestMainWindow::cancelledSendSaysHowFarItGotAndKeepsTheSelections() {
    krv::test::TcpPeer printer(krv::test::TcpPeer::Mode::NeverRead);
    pointAt(printer.port());
    select("cmbDensity", 2);
    const ConnectionSettings connection = mWindow->VelaComm1()->settings();
    QTest::mouseClick(find<QPushButton>("butTestPrint"), Qt::LeftButton);
    QVERIFY(mWindow->runningJob());
    // While it runs the lists take no input.
    mWindow->SSTab1()->tabBar()->setCurrentIndex(1);
    QTest::keyClick(find<QComboBox>("cmbDensity"), Qt::Key_Down);
    QCOMPARE(find<QComboBox>("cmbDensity")->currentIndex(), 2);
    QTRY_VERIFY(mWindow->runningJob() && mWindow->runningJob()->dialog() &&
                mWindow->runningJob()->dialog()->isVisible());
    QTest::keyClick(mWindow->runningJob()->dialog(), Qt::Key_Escape);
    QTRY_VERIFY(!mWindow->runningJob());
    const QString said = find<QLabel>("labJobResult")->text();
    QVERIFY2(
        said.startsWith(QStringLiteral("Cancelled the test page to TCP/IP 127.0.0.1 port %1 at ")
                            .arg(printer.port())),
        qPrintable(said));
    QVERIFY2(said.endsWith(QStringLiteral(": all 992 bytes had been handed over, but the printer "
                                          "had not confirmed them.")),
             qPrintable(said));
    QCOMPARE(find<QComboBox>("cmbDensity")->currentIndex(), 2);
    QCOMPARE(mWindow->VelaComm1()->settings(), connection);
    // A change of connection takes the line away.
    pointAt(krv::test::closedPort());
    QCOMPARE(find<QLabel>("labJobResult")->text(), QString());
}

void TestMainWindow::closingDuringASendCancelsIt() {
    krv::test::TcpPeer printer(krv::test::TcpPeer::Mode::NeverRead);
    pointAt(printer.port());
    const int fdsBefore = krv::test::openFileDescriptors();
    QTest::mouseClick(find<QPushButton>("butTestPrint"), Qt::LeftButton);
    QTRY_COMPARE(printer.connections(), 1);
    QElapsedTimer clock;
    clock.start();
    mWindow->close();
    QVERIFY(!mWindow->isVisible());
    QVERIFY(!mWindow->runningJob());
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    // Only the printer's own end of the connection is left open.
    QCOMPARE(krv::test::openFileDescriptors(), fdsBefore + 1);
}

void TestMainWindow::everyErrorHasTheSameReport_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("number");
    QTest::newRow("panel: Refresh, no scheduler") << QStringLiteral("butRefresh") << 1030;
    QTest::newRow("window: Download Settings, printer off")
        << QStringLiteral("butDownload") << 1011;
}

// The same title, icon and wording whichever part of the window failed.
void TestMainWindow::everyErrorHasTheSameReport() {
    QFETCH(QString, button);
    QFETCH(int, number);
    pointAt(krv::test::closedPort());
    if (button == QLatin1String("butRefresh")) {
        ConnectionSettings spooler;
        mWindow->VelaComm1()->setSettings(spooler);
    }
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->accept();
        }
    });
    answer.start(10);
    QTest::mouseClick(find<QPushButton>(qPrintable(button)), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 30000);
    QCOMPARE(title, Title);
    QCOMPARE(icon, QMessageBox::Critical);
    QVERIFY2(text.startsWith(QStringLiteral("Run-time error '%1':\n\nThe ").arg(number)),
             qPrintable(text));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
