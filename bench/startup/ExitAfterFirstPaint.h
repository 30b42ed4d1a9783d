#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace krv::bench {

// Closes the window once its first frame is on the screen. The top-level
// widget is painted first in a frame; the close is queued behind the rest of
// that frame (the children and the flush to the window system), so the
// program ends the way an operator's Close would, right after the frame.
class ExitAfterFirstPaint : public QObject {
public:
    explicit ExitAfterFirstPaint(QWidget *window) : mWindow(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (!mPainted && watched == mWindow && event->type() == QEvent::Paint) {
            mPainted = true;
            QMetaObject::invokeMethod(mWindow, &QWidget::close, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget *const mWindow;
    bool mPainted = false;
};

} // namespace krv::bench
