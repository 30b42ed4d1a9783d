#pragma once

#include "SendJob.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QLabel;
class QPushButton;
class QWidget;

namespace krv::app {

// Runs one send job for a window. While it runs the window takes no input
// but keeps painting; after ShowAfterMs a small window-modal progress says
// what goes where and for how long, with "Cancel" (Escape does the same).
// finished carries the job's outcome once its connection is closed.
class JobProgress : public QObject {
    Q_OBJECT
public:
    static constexpr int ShowAfterMs = 300;

    // `what` names the content ("the test page"), `where` the connection.
    JobProgress(QWidget *window, std::unique_ptr<comm::SendJob> job, QString what, QString where);
    ~JobProgress() override;

    void start();
    void cancel();
    [[nodiscard]] QDialog *dialog() const { return mDialog; }

signals:
    void finished(const krv::comm::SendOutcome &outcome);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showDialog();
    void updateText();

    QWidget *const mWindow;
    const std::unique_ptr<comm::SendJob> mJob;
    const QString mWhat;
    const QString mWhere;
    comm::SendPhase mPhase = comm::SendPhase::Waiting;
    bool mCancelling = false;
    QElapsedTimer mClock;
    QTimer mShowTimer;
    QTimer mTick;
    QPointer<QDialog> mDialog;
    QLabel *mText = nullptr;
    QPushButton *mCancel = nullptr;
};

} // namespace krv::app
