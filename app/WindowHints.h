#pragma once

#include <QMargins>
#include <QObject>

class QWidget;

namespace krv::app {

// Where a frame with `frame` margins around a client area of `client` size
// must stand for the frame to be centred on `available`.
[[nodiscard]] QPoint centredFramePosition(const QRect &available, const QSize &client,
                                          const QMargins &frame);

// Tells the window manager what a fixed-size main window allows (moving and
// closing, nothing else) and keeps the window's frame centred on its screen's
// available area until the window manager's frame is known. Lives as a child
// of the window it looks after.
class WindowHints : public QObject {
    Q_OBJECT
public:
    enum class Placement {
        CentreOnScreen, // the main window
        ByManager,      // a dialog, which the manager places over its parent
    };

    explicit WindowHints(QWidget *window, Placement placement = Placement::CentreOnScreen);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void centre(bool frameKnown);
    void leaveImposedState();

    static constexpr Qt::WindowStates ImposedStates{Qt::WindowMaximized | Qt::WindowFullScreen};

    QWidget *const mWindow;
    const Placement mPlacement;
    QMargins mCentredWith;
    bool mCentring = false; // from each show until the frame is centred
    bool mWatchingHandle = false;
    bool mLeaveImposedState = false; // once the imposed size is drawn
};

} // namespace krv::app
