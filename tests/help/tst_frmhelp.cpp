// The help window and the Help buttons' handler, offscreen. While the window
// is modal a zero-delay timer looks at it and clicks it, which ends exec().
#include "ExpectedTopics.h"
#include "HelpDesk.h"
#include "RuntimeError.h"
#include "frmHelp.h"

#include <QApplication>
#include <QPalette>
#include <QPointer>
#include <QStyle>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using namespace krv::help;

namespace {

// What each topic shows, its paragraphs joined by line breaks.
QStringList expectedTexts() {
    QStringList texts;
    for (const QStringList &paragraphs : expectedParagraphs())
        texts << paragraphs.join(u'\n');
    return texts;
}

const QStringList &expectedText() {
    static const QStringList texts = expectedTexts();
    return texts;
}

struct Seen {
    bool modalWasHelp = false; // the active modal widget was the help window
    bool visible = false;
    QString text;
    QRect frame;
    QImage page; // the text box as drawn
    bool watchdogFired = false;
};

enum class ClickOn { Text, Window, EscapeKey, DragOverText };

// Calls butHelp_Click(index) and, once the help window runs modally, records
// what it shows and clicks it. A watchdog hides it if the click does not.
Seen clickHelp(HelpDesk &desk, QWidget *owner, std::int16_t index, ClickOn where = ClickOn::Text) {
    Seen seen;
    QTimer::singleShot(0, owner, [&] {
        auto *help = qobject_cast<frmHelp *>(QApplication::activeModalWidget());
        if (!help)
            return;
        seen.modalWasHelp = help == desk.helpWindow();
        seen.visible = help->isVisible();
        seen.text = help->rtbHelp()->toPlainText();
        seen.frame = help->frameGeometry();
        seen.page = help->rtbHelp()->grab().toImage();
        switch (where) {
        case ClickOn::Text:
            QTest::mouseClick(help->rtbHelp()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
            break;
        case ClickOn::Window:
            QTest::mouseClick(help, Qt::LeftButton, {}, QPoint(2, 2));
            break;
        case ClickOn::DragOverText:
            QTest::mousePress(help->rtbHelp()->viewport(), Qt::LeftButton, {}, QPoint(5, 30));
            QTest::mouseMove(help->rtbHelp()->viewport(), QPoint(250, 90));
            QTest::mouseRelease(help->rtbHelp()->viewport(), Qt::LeftButton, {}, QPoint(250, 90));
            break;
        case ClickOn::EscapeKey:
            QTest::keyClick(help, Qt::Key_Escape);
            break;
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, owner, [&] {
        seen.watchdogFired = true;
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    });
    watchdog.start(5000);
    desk.butHelp_Click(index);
    return seen;
}

struct Fixture {
    std::unique_ptr<QWidget> owner = std::make_unique<QWidget>();
    HelpDesk desk{owner.get()};
    Fixture() {
        owner->setGeometry(200, 150, 640, 480);
        owner->show();
        desk.LoadHelpTopics();
        desk.loadHelpWindow();
    }
};

// Relative luminance and contrast ratio as the web's accessibility rules define them.
double luminance(QRgb c) {
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark desktop for one test: Fusion with a dark palette or a dark style sheet.
struct DarkDesktop {
    const QPalette before = QApplication::palette();
    const QString styleBefore = QApplication::style()->name();
    DarkDesktop(const QPalette &palette, const QString &sheet) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(palette);
        qApp->setStyleSheet(sheet);
    }
    ~DarkDesktop() {
        qApp->setStyleSheet(QString());
        QApplication::setPalette(before);
        QApplication::setStyle(styleBefore);
    }
};

} // namespace

Q_DECLARE_METATYPE(ClickOn)

class TestFrmHelp : public QObject {
    Q_OBJECT
private slots:
    void loadsTopicsAndHiddenWindow();
    void showsEachTopicModally_data();
    void showsEachTopicModally();
    void clickOnTextHidesAndKeepsContent();
    void hidesOn_data();
    void hidesOn();
    void dragOverTextSelectsNothing();
    void nextHelpReplacesContent();
    void sameTopicTwiceShowsItOnce();
    void indexOutsideRangeRaisesError9_data();
    void indexOutsideRangeRaisesError9();
    void indexOutsideRangeCreatesNoWindow();
    void missingWindowIsCreatedByClick();
    void windowHasStatedGeometry();
    void textIsReadableOnADarkDesktop_data();
    void textIsReadableOnADarkDesktop();
    void opensCentredOverOwner();
    void unloadDestroysWindowOnce();
    void ownerMayGoFirst();
};

void TestFrmHelp::loadsTopicsAndHiddenWindow() {
    QWidget owner;
    HelpDesk desk(&owner);
    for (const QByteArray &topic : desk.HelpTopics())
        QVERIFY(topic.isEmpty());
    QVERIFY(!desk.helpWindow());
    desk.LoadHelpTopics();
    for (int i = 0; i < HelpTopicCount; ++i)
        QCOMPARE(desk.HelpTopics()[std::size_t(i)], helpDocument(i));
    desk.loadHelpWindow();
    frmHelp *help = desk.helpWindow();
    QVERIFY(help);
    QVERIFY(!help->isVisible());
    desk.loadHelpWindow();
    QCOMPARE(desk.helpWindow(), help);
}

void TestFrmHelp::showsEachTopicModally_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < HelpTopicCount; ++i)
        QTest::addRow("butHelp(%d)", i) << i;
}

void TestFrmHelp::showsEachTopicModally() {
    QFETCH(int, index);
    Fixture f;
    const Seen seen = clickHelp(f.desk, f.owner.get(), std::int16_t(index));
    QVERIFY(!seen.watchdogFired);
    QVERIFY(seen.modalWasHelp);
    QVERIFY(seen.visible);
    QCOMPARE(seen.text, expectedText().at(index));
    QVERIFY(f.desk.helpWindow()->contentProblems().isEmpty());
}

void TestFrmHelp::clickOnTextHidesAndKeepsContent() {
    Fixture f;
    const Seen seen = clickHelp(f.desk, f.owner.get(), 4);
    QVERIFY(!seen.watchdogFired);
    frmHelp *help = f.desk.helpWindow();
    QVERIFY(help);
    QVERIFY(!help->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(help->rtbHelp()->toPlainText(), expectedText().at(4));
}

void TestFrmHelp::hidesOn_data() {
    QTest::addColumn<ClickOn>("where");
    QTest::newRow("click on the text") << ClickOn::Text;
    QTest::newRow("click on the window") << ClickOn::Window;
    QTest::newRow("Escape key") << ClickOn::EscapeKey;
}

void TestFrmHelp::hidesOn() {
    QFETCH(ClickOn, where);
    Fixture f;
    const Seen seen = clickHelp(f.desk, f.owner.get(), 11, where);
    QVERIFY(!seen.watchdogFired);
    QVERIFY(seen.modalWasHelp);
    QVERIFY(!f.desk.helpWindow()->isVisible());
    QCOMPARE(f.desk.helpWindow()->rtbHelp()->toPlainText(), expectedText().at(11));
}

void TestFrmHelp::dragOverTextSelectsNothing() {
    Fixture f;
    const Seen seen = clickHelp(f.desk, f.owner.get(), 6, ClickOn::DragOverText);
    QVERIFY(!seen.watchdogFired);
    QVERIFY(!f.desk.helpWindow()->isVisible());
    QVERIFY(!f.desk.helpWindow()->rtbHelp()->textCursor().hasSelection());
}

void TestFrmHelp::nextHelpReplacesContent() {
    Fixture f;
    frmHelp *help = f.desk.helpWindow();
    QCOMPARE(clickHelp(f.desk, f.owner.get(), 3).text, expectedText().at(3));
    const Seen second = clickHelp(f.desk, f.owner.get(), 7);
    QVERIFY(!second.watchdogFired);
    QCOMPARE(f.desk.helpWindow(), help);
    QCOMPARE(second.text, expectedText().at(7));
}

void TestFrmHelp::sameTopicTwiceShowsItOnce() {
    Fixture f;
    const Seen first = clickHelp(f.desk, f.owner.get(), 14);
    const Seen second = clickHelp(f.desk, f.owner.get(), 14);
    QCOMPARE(first.text, expectedText().at(14));
    QCOMPARE(second.text, expectedText().at(14));
}

void TestFrmHelp::indexOutsideRangeRaisesError9_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("16") << 16;
    QTest::newRow("-1") << -1;
    QTest::newRow("32767") << 32767;
    QTest::newRow("-32768") << -32768;
}

void TestFrmHelp::indexOutsideRangeRaisesError9() {
    QFETCH(int, index);
    Fixture f;
    clickHelp(f.desk, f.owner.get(), 5);
    frmHelp *help = f.desk.helpWindow();
    const auto topicsBefore = f.desk.HelpTopics();
    const QTextDocument *documentBefore = help->rtbHelp()->document();

    bool modalAppeared = false;
    QTimer::singleShot(0, f.owner.get(),
                       [&] { modalAppeared = QApplication::activeModalWidget(); });
    try {
        f.desk.butHelp_Click(std::int16_t(index));
        QFAIL("no error raised");
    } catch (const krv::RuntimeError &e) {
        QCOMPARE(e.number(), 9);
        QCOMPARE(e.description(), QStringLiteral("Subscript out of range"));
    }
    QCoreApplication::processEvents();
    QVERIFY(!modalAppeared);
    QCOMPARE(f.desk.helpWindow(), help);
    QVERIFY(!help->isVisible());
    QCOMPARE(help->rtbHelp()->document(), documentBefore);
    QCOMPARE(help->rtbHelp()->toPlainText(), expectedText().at(5));
    QVERIFY(f.desk.HelpTopics() == topicsBefore);
}

void TestFrmHelp::indexOutsideRangeCreatesNoWindow() {
    QWidget owner;
    HelpDesk desk(&owner);
    desk.LoadHelpTopics();
    QVERIFY_THROWS_EXCEPTION(krv::RuntimeError, desk.butHelp_Click(16));
    QVERIFY(!desk.helpWindow());
}

void TestFrmHelp::missingWindowIsCreatedByClick() {
    QWidget owner;
    owner.show();
    HelpDesk desk(&owner);
    desk.LoadHelpTopics();
    const Seen seen = clickHelp(desk, &owner, 2);
    QVERIFY(seen.modalWasHelp);
    QCOMPARE(seen.text, expectedText().at(2));
    QVERIFY(desk.helpWindow());
    QVERIFY(!desk.helpWindow()->isVisible());
}

void TestFrmHelp::windowHasStatedGeometry() {
    Fixture f;
    frmHelp *help = f.desk.helpWindow();
    // 4695 x 3435 twips at 15 twips per pixel, inside a frame of 45 twips.
    QCOMPARE(help->size(), QSize(319, 235));
    QCOMPARE(help->minimumSize(), QSize(319, 235));
    QCOMPARE(help->maximumSize(), QSize(319, 235));
    QCOMPARE(help->rtbHelp()->geometry(), QRect(3, 3, 313, 229));
    QCOMPARE(help->rtbHelp()->parentWidget(), help);
    QVERIFY(help->rtbHelp()->isReadOnly());
    QVERIFY(help->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(help->windowType(), Qt::Dialog);
    QVERIFY(help->windowTitle().isEmpty());
    QVERIFY(help->isModal());
    QCOMPARE(help->parentWidget(), f.owner.get());
}

void TestFrmHelp::opensCentredOverOwner() {
    Fixture f;
    const Seen seen = clickHelp(f.desk, f.owner.get(), 0);
    // Owner frame 200,150 640x480: centre (519,389); a 319x235 window centred there.
    QVERIFY2(qAbs(seen.frame.left() - 360) <= 1 && qAbs(seen.frame.top() - 272) <= 1,
             qPrintable(QStringLiteral("at %1,%2").arg(seen.frame.left()).arg(seen.frame.top())));
    // setGeometry places the client area; the frame around it is the same on every side.
    f.owner->setGeometry(10, 20, 640, 480);
    const Seen moved = clickHelp(f.desk, f.owner.get(), 1);
    QVERIFY2(qAbs(moved.frame.left() - 170) <= 1 && qAbs(moved.frame.top() - 142) <= 1,
             qPrintable(QStringLiteral("at %1,%2").arg(moved.frame.left()).arg(moved.frame.top())));
}

void TestFrmHelp::textIsReadableOnADarkDesktop_data() {
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<QString>("sheet");
    QPalette dark;
    for (const auto &[role, colour] : {std::pair{QPalette::Window, QColor(0x35, 0x35, 0x35)},
                                       {QPalette::Base, QColor(0x20, 0x20, 0x20)},
                                       {QPalette::Text, QColor(0xee, 0xee, 0xee)},
                                       {QPalette::WindowText, QColor(0xee, 0xee, 0xee)},
                                       {QPalette::Button, QColor(0x35, 0x35, 0x35)},
                                       {QPalette::ButtonText, QColor(0xee, 0xee, 0xee)}})
        dark.setColor(role, colour);
    QTest::newRow("dark palette") << dark << QString();
    QTest::newRow("dark style sheet")
        << QPalette() << QStringLiteral("QWidget { background: #202020; color: #eeeeee; }");
}

// The paper is the commonest colour of the box; the text, its pixel that
// stands out most from the paper.
void TestFrmHelp::textIsReadableOnADarkDesktop() {
    QFETCH(QPalette, palette);
    QFETCH(QString, sheet);
    const DarkDesktop desktop(palette, sheet);
    Fixture f;
    const QImage page =
        clickHelp(f.desk, f.owner.get(), 0).page.convertToFormat(QImage::Format_RGB32);
    QVERIFY(!page.isNull());
    QHash<QRgb, int> counts;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            ++counts[page.pixel(x, y)];
    const QRgb paper = std::max_element(counts.cbegin(), counts.cend()).key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(it.key(), paper));
    QVERIFY2(best >= 4.5, qPrintable(QStringLiteral("contrast %1:1").arg(best)));
    QVERIFY2(luminance(paper) > 0.5, qPrintable(QColor(paper).name())); // dark on light
}

void TestFrmHelp::unloadDestroysWindowOnce() {
    Fixture f;
    QPointer<frmHelp> help = f.desk.helpWindow();
    f.desk.unloadHelpWindow();
    QVERIFY(help.isNull());
    QVERIFY(!f.desk.helpWindow());
    f.desk.unloadHelpWindow();
    QVERIFY(!f.desk.helpWindow());
}

void TestFrmHelp::ownerMayGoFirst() {
    auto owner = std::make_unique<QWidget>();
    HelpDesk desk(owner.get());
    desk.loadHelpWindow();
    owner.reset();
    QVERIFY(!desk.helpWindow());
    desk.unloadHelpWindow();
}

QTEST_MAIN(TestFrmHelp)
#include "tst_frmhelp.moc"
