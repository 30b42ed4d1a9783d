// An application style sheet leaves the fixed layout as designed: every
// control keeps its font (unless the sheet sets one) and every text that fits
// its box without the sheet fits with it.
#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStyleOption>
#include <QTest>

namespace {

// Per control, by object name and text: its font, whether it is a button,
// and for each text it shows whether the room its style leaves holds it.
struct Look {
    QFont font;
    bool button;
    QList<bool> fits;
};

QMap<QString, Look> looks() {
    krv::app::frmMain window;
    window.show();
    QMap<QString, Look> result;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        w->ensurePolished(); // those on hidden pages too
        const auto fits = [w](const QString &text, const QRect &room) {
            return w->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&'))) <=
                   room.width();
        };
        Look look{w->font(), qobject_cast<QPushButton *>(w) != nullptr, {}};
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QStyleOptionButton o;
            o.initFrom(button);
            look.fits << fits(button->text(),
                              w->style()->subElementRect(QStyle::SE_PushButtonContents, &o, w));
        } else if (auto *list = qobject_cast<QComboBox *>(w)) {
            QStyleOptionComboBox o;
            o.initFrom(list);
            o.editable = list->isEditable();
            const QRect room = w->style()->subControlRect(QStyle::CC_ComboBox, &o,
                                                          QStyle::SC_ComboBoxEditField, w);
            for (int i = 0; i < list->count(); ++i)
                look.fits << fits(list->itemText(i), room);
        } else if (auto *label = qobject_cast<QLabel *>(w); label && !label->wordWrap()) {
            look.fits << fits(label->text(), label->contentsRect());
        } else {
            continue;
        }
        const auto *label = qobject_cast<QLabel *>(w);
        result.insert(w->objectName() + (label && w->objectName().isEmpty() ? label->text() : ""),
                      look);
    }
    return result;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void styleSheetKeepsTheLayout_data() {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<double>("buttonPoints"); // 0: the layout's
        QTest::newRow("colours") << "QWidget { background-color: #2b2b2b; color: #e6e6e6 }" << 0.0;
        QTest::newRow("borders") << "QPushButton, QComboBox { border: 1px solid gray }" << 0.0;
        QTest::newRow("own font") << "QPushButton { font: 7pt }" << 7.0;
    }
    void styleSheetKeepsTheLayout() {
        QFETCH(QString, sheet);
        QFETCH(double, buttonPoints);
        const QMap<QString, Look> plain = looks();
        qApp->setStyleSheet(sheet);
        const QMap<QString, Look> styled = looks();
        qApp->setStyleSheet(QString());
        QCOMPARE(styled.keys(), plain.keys());
        for (auto it = plain.cbegin(); it != plain.cend(); ++it) {
            const Look &now = styled[it.key()];
            const bool sheetFont = buttonPoints > 0 && it->button;
            QCOMPARE(now.font.pointSizeF(), sheetFont ? buttonPoints : it->font.pointSizeF());
            for (qsizetype i = 0; i < it->fits.size(); ++i)
                QVERIFY2(!it->fits[i] || now.fits[i], qPrintable(it.key() + " clipped"));
        }
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
