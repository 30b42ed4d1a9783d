#include "JobConfirmation.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>

namespace krv::app {

namespace {

QString tr(const char *text, int n = -1) {
    return QCoreApplication::translate("JobConfirmation", text, nullptr, n);
}

QString timeText(const QDateTime &when) {
    return QLocale().toString(when.time(), QStringLiteral("HH:mm:ss"));
}

} // namespace

QString testPageContent() {
    return tr("the test page");
}

QString settingsContent(int changedSettings) {
    return changedSettings == 1 ? tr("1 setting") : tr("%1 settings").arg(changedSettings);
}

QString jobResultText(const comm::SendOutcome &outcome, const QString &content,
                      const QString &destination) {
    switch (outcome.result) {
    case comm::SendOutcome::Result::Sent:
        return tr("Sent %1 (%2 bytes) to %3 at %4.")
            .arg(content)
            .arg(outcome.bytes)
            .arg(destination, timeText(outcome.endedAt));
    case comm::SendOutcome::Result::Cancelled:
        return tr("Cancelled %1 to %2 at %3: %4.")
            .arg(content, destination, timeText(outcome.endedAt), comm::handedOverText(outcome));
    case comm::SendOutcome::Result::Failed:
        break;
    }
    return {};
}

void announce(QLabel *label, const QString &text) {
    label->setText(text);
    label->setAccessibleName(text);
    if (text.isEmpty())
        return;
    QAccessibleEvent changed(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent alert(label, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

} // namespace krv::app
