#include "AccessibleNames.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace krv::app {

namespace {

class NamedList : public QAccessibleWidget {
public:
    explicit NamedList(QComboBox *list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            // A list without a name of its own still speaks its entry.
            return list()->accessibleName().isEmpty() ? list()->currentText()
                                                      : list()->accessibleName();
        case QAccessible::Value:
            return list()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    // The entries, and the field of a list one can type in, as Qt's own
    // list interface offers them.
    int childCount() const override { return list()->lineEdit() ? 2 : 1; }
    QAccessibleInterface *child(int index) const override {
        QObject *child = nullptr;
        if (index == 0)
            child = list()->view();
        else if (index == 1)
            child = list()->lineEdit();
        return child ? QAccessible::queryAccessibleInterface(child) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        const QObject *object = child ? child->object() : nullptr;
        if (!object)
            return -1;
        if (object == list()->view())
            return 0;
        return object == list()->lineEdit() ? 1 : -1;
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override {
        if (action == showMenuAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    [[nodiscard]] QComboBox *list() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *namedListFactory(const QString &className, QObject *object) {
    if (className != QLatin1String("QComboBox") || !object || !object->isWidgetType())
        return nullptr;
    // Asked for as soon as a list is filled, before it is named: the name is
    // read when a screen reader asks, not now.
    return new NamedList(static_cast<QComboBox *>(object));
}

} // namespace

void installAccessibleListNames() {
    static const bool installed = [] {
        QAccessible::installFactory(namedListFactory);
        return true;
    }();
    (void)installed;
}

} // namespace krv::app
