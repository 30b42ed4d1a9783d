#include "AccessibleNames.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

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

    // The entries, as Qt's own list interface offers them.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child && child->object() == list()->view() ? 0 : -1;
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
