#include "JobConfirmation.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QPalette>

namespace krv::app {

namespace {

QString tr(const char *text, int n = -1) {
    return QCoreApplication::translate("JobConfirmation", text, nullptr, n);
}

QString timeText(const QDateTime &when) {
    return QLocale().toString(when.time(), QStringLiteral("HH:mm:ss"));
}

using C = comm::PrinterStatus::Condition;

// What it takes for the printer to print, for each condition, in the order
// of the status requests; the first that applies is said.
struct Remedy {
    C condition;
    const char *text;
};
constexpr Remedy Remedies[] = {
    {C::CoverOpen, QT_TRANSLATE_NOOP("JobConfirmation", "It prints once the cover is closed.")},
    {C::FedByButton,
     QT_TRANSLATE_NOOP("JobConfirmation", "It prints once the feed button is released.")},
    {C::PaperOutStop, QT_TRANSLATE_NOOP("JobConfirmation", "It prints once paper is loaded.")},
    {C::PaperEnd, QT_TRANSLATE_NOOP("JobConfirmation", "It prints once paper is loaded.")},
    {C::AutoCutterError,
     QT_TRANSLATE_NOOP("JobConfirmation", "Clear the paper jammed at the cutter.")},
    {C::UnrecoverableError,
     QT_TRANSLATE_NOOP("JobConfirmation", "Switch it off and on; it may need service.")},
    {C::AutoRecoverableError,
     QT_TRANSLATE_NOOP("JobConfirmation", "It goes on once the cause has passed.")},
    {C::ErrorOccurred, QT_TRANSLATE_NOOP("JobConfirmation", "Switch it off and on.")},
    {C::Offline, QT_TRANSLATE_NOOP("JobConfirmation", "It prints once it is back online.")},
    {C::PaperNearEnd, QT_TRANSLATE_NOOP("JobConfirmation", "Have a new roll ready.")},
};

// The conditions worth naming: "offline" and "an error occurred" are left
// out where the printer gives their cause, the paper near its end where it
// has run out.
unsigned namedConditions(const comm::PrinterStatus &status) {
    unsigned conditions = status.conditions;
    if (conditions & (C::PaperOutStop | C::PaperEnd))
        conditions &= ~unsigned(C::PaperNearEnd);
    if (conditions & (C::CoverOpen | C::PaperOutStop | C::PaperEnd | C::FedByButton))
        conditions &= ~unsigned(C::Offline);
    if (conditions & (C::AutoCutterError | C::UnrecoverableError | C::AutoRecoverableError))
        conditions &= ~unsigned(C::ErrorOccurred);
    return conditions;
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
    case comm::SendOutcome::Result::Sent: {
        const QString sent = tr("Sent %1 (%2 bytes) to %3 at %4.")
                                 .arg(content)
                                 .arg(outcome.bytes)
                                 .arg(destination, timeText(outcome.endedAt));
        const QString said = printerStatusText(outcome.status);
        return said.isEmpty() ? sent : sent + QLatin1Char(' ') + said;
    }
    case comm::SendOutcome::Result::Cancelled:
        return tr("Cancelled %1 to %2 at %3: %4.")
            .arg(content, destination, timeText(outcome.endedAt), comm::handedOverText(outcome));
    case comm::SendOutcome::Result::Failed:
        break;
    }
    return {};
}

QString printerStatusText(const std::optional<comm::PrinterStatus> &status) {
    if (!status || status->outcome == comm::PrinterStatus::Outcome::NotAvailable)
        return {};
    if (!status->answered())
        return tr("The printer did not answer the status request; check that it printed.");
    if (status->ready())
        return tr("The printer is ready.");
    comm::PrinterStatus named = *status;
    named.conditions = namedConditions(*status);
    QString text =
        tr("The printer reports: %1.").arg(comm::conditionNames(named).join(QStringLiteral(", ")));
    for (const Remedy &remedy : Remedies)
        if (named.has(remedy.condition))
            return text + QLatin1Char(' ') + tr(remedy.text);
    return text;
}

bool needsAttention(const comm::SendOutcome &outcome) {
    return outcome.result == comm::SendOutcome::Result::Sent && outcome.status &&
           outcome.status->answered() &&
           (outcome.status->conditions & ~unsigned(C::PaperNearEnd)) != 0;
}

void markAttention(QLabel *label, bool attention) {
    QPalette palette = label->parentWidget() ? label->parentWidget()->palette() : QPalette();
    if (attention) {
        // Dark red on a light window, light red on a dark one: either reads
        // at more than 4.5:1 against its background.
        const bool darkWindow = palette.color(QPalette::Window).lightness() < 128;
        palette.setColor(QPalette::WindowText,
                         darkWindow ? QColor(0xff, 0x8a, 0x80) : QColor(0xa0, 0x00, 0x00));
    }
    label->setPalette(palette);
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
