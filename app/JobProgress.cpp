#include "JobProgress.h"

#include "WindowHints.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace krv::app {

namespace {

QString stepText(comm::SendPhase phase) {
    switch (phase) {
    case comm::SendPhase::Waiting:
    case comm::SendPhase::Opening:
        return JobProgress::tr("Connecting");
    case comm::SendPhase::Sending:
        return JobProgress::tr("Sending");
    case comm::SendPhase::Asking:
        return JobProgress::tr("Asking the printer how it is");
    case comm::SendPhase::Closing:
        return JobProgress::tr("Waiting for the printer to confirm");
    case comm::SendPhase::Ended:
        break;
    }
    return JobProgress::tr("Finishing");
}

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

} // namespace

JobProgress::JobProgress(QWidget *window, std::unique_ptr<comm::SendJob> job, QString what,
                         QString where)
    : QObject(window), mWindow(window), mJob(std::move(job)), mWhat(std::move(what)),
      mWhere(std::move(where)) {
    mShowTimer.setSingleShot(true);
    connect(&mShowTimer, &QTimer::timeout, this, &JobProgress::showDialog);
    connect(&mTick, &QTimer::timeout, this, &JobProgress::updateText);
    connect(mJob.get(), &comm::SendJob::phaseChanged, this, [this](comm::SendPhase phase) {
        mPhase = phase;
        updateText();
    });
    connect(mJob.get(), &comm::SendJob::finished, this, [this](const comm::SendOutcome &outcome) {
        qApp->removeEventFilter(this);
        mShowTimer.stop();
        mTick.stop();
        // Gone from the screen before the outcome is shown: an error box
        // runs its own event loop, in which a deleteLater never comes.
        if (mDialog) {
            mDialog->hide();
            mDialog->deleteLater();
        }
        emit finished(outcome);
    });
}

JobProgress::~JobProgress() {
    qApp->removeEventFilter(this);
    if (mDialog)
        delete mDialog;
}

void JobProgress::start() {
    // Input to the window is held, not the window disabled: nothing greys
    // out or loses focus for a job that ends in a blink.
    qApp->installEventFilter(this);
    mClock.start();
    mShowTimer.start(ShowAfterMs);
    mJob->start();
}

void JobProgress::cancel() {
    if (mCancelling)
        return;
    mCancelling = true;
    if (mCancel)
        mCancel->setEnabled(false);
    updateText();
    mJob->cancel();
}

bool JobProgress::eventFilter(QObject *watched, QEvent *event) {
    if (isInput(event->type()) && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == mWindow)
        return true;
    return QObject::eventFilter(watched, event);
}

void JobProgress::showDialog() {
    // Transient for the window (its parent), with a title and nothing to
    // minimise: some managers minimise the whole family with it.
    auto *dialog = new QDialog(mWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog->setObjectName(QStringLiteral("jobProgress"));
    dialog->setWindowTitle(tr("Sending to the printer"));
    dialog->setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(dialog);
    mText = new QLabel(dialog);
    mText->setObjectName(QStringLiteral("labJobProgress"));
    mText->setTextFormat(Qt::PlainText); // paths and host names are shown as typed
    mText->setWordWrap(true);
    mText->setMinimumWidth(320);
    layout->addWidget(mText);
    auto *bar = new QProgressBar(dialog);
    bar->setRange(0, 0); // how far a printer has got cannot be known
    bar->setTextVisible(false);
    layout->addWidget(bar);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, dialog);
    mCancel = buttons->button(QDialogButtonBox::Cancel);
    mCancel->setText(tr("Cancel"));
    mCancel->setObjectName(QStringLiteral("butCancelJob"));
    layout->addWidget(buttons);
    // Cancel, Escape and the window's close button all reject.
    connect(dialog, &QDialog::rejected, this, &JobProgress::cancel);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    mDialog = dialog;
    updateText();
    new WindowHints(dialog, WindowHints::Placement::ByManager);
    dialog->show();
    mTick.start(1000);
}

void JobProgress::updateText() {
    if (!mText)
        return;
    const qint64 seconds = mClock.elapsed() / 1000;
    mText->setText(tr("Sending %1 (%2 bytes) to %3.\n%4... %5 s")
                       .arg(mWhat)
                       .arg(mJob->size())
                       .arg(mWhere, mCancelling ? tr("Cancelling") : stepText(mPhase))
                       .arg(seconds));
    mText->setAccessibleName(mText->text());
}

} // namespace krv::app
