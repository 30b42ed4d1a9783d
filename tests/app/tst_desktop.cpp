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

// Per control (by name, or text where it has none): its font, and per text
// it shows, whether the room its style leaves holds it.
struct Look {
    QFont font;
    QList<bool> fits;
};

QMap<QString, Look> looks() {
    krv::app::frmMain window;
    window.show();
    QMap<QString, Look> result;
    for (QWidget *w : window.findChildren<QWidget *>()) {
        w->ensurePolished(); // those on hidden pages too
        QList<bool> fits;
        const auto fit = [&](const QString &text, const QRect &room) {
            fits << (w->fontMetrics().horizontalAdvance(QString(text).remove('&')) <= room.width());
        };
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QStyleOptionButton o;
            o.initFrom(w);
            fit(button->text(), w->style()->subElementRect(QStyle::SE_PushButtonContents, &o, w));
        } else if (auto *list = qobject_cast<QComboBox *>(w)) {
            QStyleOptionComboBox o;
            o.initFrom(w);
            o.editable = list->isEditable();
            const QRect room = w->style()->subControlRect(QStyle::CC_ComboBox, &o,
                                                          QStyle::SC_ComboBoxEditField, w);
            for (int i = 0; i < list->count(); ++i)
                fit(list->itemText(i), room);
        } else if (auto *label = qobject_cast<QLabel *>(w); label && !label->wordWrap()) {
            fit(label->text(), label->contentsRect());
        } else {
            continue;
        }
        const auto *label = qobject_cast<QLabel *>(w);
        result.insert(w->objectName() + (label && w->objectName().isEmpty() ? label->text() : ""),
                      {w->font(), fits});
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
            const bool sheetFont = buttonPoints > 0 && it.key().startsWith("but");
            QCOMPARE(now.font.pointSizeF(), sheetFont ? buttonPoints : it->font.pointSizeF());
            for (qsizetype i = 0; i < it->fits.size(); ++i)
                QVERIFY2(!it->fits[i] || now.fits[i], qPrintable(it.key() + " clipped"));
        }
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
