// The window on a styled desktop and between sessions: an application style
// sheet leaves the fixed layout's fonts and captions as designed, and the
// connection reaches the store once the operator stops typing, not on every key.
#include "frmMain.h"

#include "ConnectionSettings.h"
#include "VelaComm.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>

using krv::app::frmMain;
using krv::comm::ConnectionSettings;

namespace {

const QString Key = QStringLiteral("KRV520Config");

// Each control's font and, for each text it can show, whether that text
// fits the room the style leaves for it.
struct Look {
    QFont font;
    QList<bool> fits;
    bool button = false;
};

QString plain(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

bool fitsIn(const QWidget *w, const QString &text, int room) {
    return w->fontMetrics().horizontalAdvance(plain(text)) <= room;
}

QMap<QString, Look> looks(const QWidget &window) {
    QMap<QString, Look> result;
    const QList<QWidget *> all = window.findChildren<QWidget *>();
    for (QWidget *w : all) {
        w->ensurePolished(); // controls on hidden pages too
        Look look{w->font(), {}, qobject_cast<const QPushButton *>(w) != nullptr};
        if (const auto *button = qobject_cast<const QPushButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect room =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            look.fits << fitsIn(button, button->text(), room.width());
        } else if (const auto *list = qobject_cast<const QComboBox *>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            option.editable = list->isEditable();
            const QRect room = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                             QStyle::SC_ComboBoxEditField, list);
            for (int i = 0; i < list->count(); ++i)
                look.fits << fitsIn(list, list->itemText(i), room.width());
        } else if (const auto *label = qobject_cast<const QLabel *>(w)) {
            if (!label->wordWrap())
                look.fits << fitsIn(label, label->text(), label->contentsRect().width());
        } else {
            continue;
        }
        QString path = w->objectName();
        for (const QObject *p = w->parent(); p && p != &window; p = p->parent())
            path.prepend(p->objectName() + QLatin1Char('/'));
        // Unnamed siblings (the panel's labels) are told apart by their text.
        if (const auto *label = qobject_cast<const QLabel *>(w); label && path.isEmpty())
            path += QLatin1Char('[') + label->text() + QLatin1Char(']');
        result.insert(path, look);
    }
    return result;
}

QMap<QString, Look> looksOfAShownWindow() {
    frmMain window;
    window.Form_Load();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the window was not shown");
    return looks(window);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
    QTemporaryDir mHome;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", mHome.path().toLocal8Bit()); }
    void cleanup() { qApp->setStyleSheet(QString()); }

    void styleSheetKeepsTheLayoutsFontsAndCaptions_data() {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<double>("points"); // 0: the layout's own
        QTest::newRow("colours only")
            << QStringLiteral("QWidget { background-color: #2b2b2b; color: #e6e6e6 }") << 0.0;
        QTest::newRow("buttons and lists outlined")
            << QStringLiteral("QPushButton, QComboBox { border: 1px solid #888; }") << 0.0;
        QTest::newRow("a font the sheet sets")
            << QStringLiteral("QPushButton { font: 7pt; }") << 7.0;
    }
    void styleSheetKeepsTheLayoutsFontsAndCaptions() {
        QFETCH(QString, sheet);
        QFETCH(double, points);
        const QMap<QString, Look> plainLook = looksOfAShownWindow();
        qApp->setStyleSheet(sheet);
        const QMap<QString, Look> styled = looksOfAShownWindow();
        QCOMPARE(styled.keys(), plainLook.keys());
        QStringList wrong;
        for (auto it = plainLook.cbegin(); it != plainLook.cend(); ++it) {
            const Look &now = styled[it.key()];
            const bool sheetFont = points > 0 && it->button;
            const double want = sheetFont ? points : it->font.pointSizeF();
            if (now.font.pointSizeF() != want || now.font.bold() != it->font.bold())
                wrong << QStringLiteral("%1: %2 pt, not %3")
                             .arg(it.key())
                             .arg(now.font.pointSizeF())
                             .arg(want);
            for (qsizetype i = 0; i < it->fits.size(); ++i) {
                if (it->fits[i] && !now.fits.value(i))
                    wrong << QStringLiteral("%1: text %2 clipped").arg(it.key()).arg(i);
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1String("; "))));
    }

    void connectionIsStoredOnceTypingStops() {
        ConnectionSettings tcp;
        tcp.kind = ConnectionSettings::Kind::Tcp;
        tcp.host = QStringLiteral("127.0.0.1");
        tcp.port = 9100;
        krv::comm::writeConnectionSettings(Key, tcp);
        frmMain window;
        window.Form_Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy written(window.VelaComm1(), &krv::comm::VelaComm::configWritten);
        auto *host = window.findChild<QLineEdit *>(QStringLiteral("txtHost"));
        QVERIFY(host);
        host->selectAll();
        QTest::keyClicks(host, QStringLiteral("127.0.0.42"));
        QCOMPARE(written.count(), 0); // not on every key
        QTRY_VERIFY(written.count() > 0);
        QCOMPARE(krv::comm::readConnectionSettings(Key).host, QStringLiteral("127.0.0.42"));
        // Close stores it again, as always.
        const auto before = written.count();
        window.close();
        QCOMPARE(written.count(), before + 1);
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
