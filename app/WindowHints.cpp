#include "WindowHints.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#ifdef KRV_HAVE_XCB
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#endif

#include <utility>

namespace krv::app {

namespace {

#ifdef KRV_HAVE_XCB

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The name the running window manager gives itself, empty without one.
QByteArray windowManagerName(xcb_connection_t *connection, xcb_window_t root) {
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
    const xcb_atom_t name = internAtom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = internAtom(connection, "UTF8_STRING");
    const auto readProperty = [connection](xcb_window_t window, xcb_atom_t property,
                                           xcb_atom_t type) {
        QByteArray value;
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, property, type, 0, 64), nullptr);
        if (reply && reply->type == type)
            value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        std::free(reply);
        return value;
    };
    const QByteArray supporting = readProperty(root, check, XCB_ATOM_WINDOW);
    if (supporting.size() != sizeof(xcb_window_t))
        return {};
    xcb_window_t wm = 0;
    std::memcpy(&wm, supporting.constData(), sizeof wm);
    return readProperty(wm, name, utf8);
}

// Qt's xcb plugin always offers resizing in the Motif hints of a window with
// a title bar, and Openbox keeps minimise and full screen for every normal
// window whatever the Motif hints say; it drops them for its helper window
// types, which keep the title bar, the close box, the focus and Alt+Tab.
// Set on the created, not yet mapped window, so the manager reads them when
// it takes the window on.
void setX11Hints(QWidget *window) {
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window->winId());

    enum : std::uint32_t { FunctionsFlag = 1, DecorationsFlag = 2 };
    enum : std::uint32_t { Move = 4, Close = 32 };
    enum : std::uint32_t { Border = 2, Title = 8, Menu = 16 };
    const std::array<std::uint32_t, 5> motif{FunctionsFlag | DecorationsFlag, Move | Close,
                                             Border | Title | Menu, 0, 0};
    const xcb_atom_t motifAtom = internAtom(connection, "_MOTIF_WM_HINTS");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, motifAtom, motifAtom, 32,
                        std::uint32_t(motif.size()), motif.data());

    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen && windowManagerName(connection, screen->root) == "Openbox") {
        const xcb_atom_t type = internAtom(connection, "_NET_WM_WINDOW_TYPE_TOOLBAR");
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
                            internAtom(connection, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1,
                            &type);
    }
    xcb_flush(connection);
}

#else

void setX11Hints(QWidget *) {}

#endif

// Asked of the window itself: the widget's copy is only renewed when it moves.
QMargins frameMargins(const QWidget *window) {
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

bool isWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

QPoint centredFramePosition(const QRect &available, const QSize &client, const QMargins &frame) {
    const QSize outer = client.grownBy(frame);
    return available.topLeft() + QPoint((available.width() - outer.width()) / 2,
                                        (available.height() - outer.height()) / 2);
}

void WindowHints::leaveImposedState() {
    mWindow->setWindowState(mWindow->windowState() & ~ImposedStates);
}

WindowHints::WindowHints(QWidget *window, Placement placement)
    : QObject(window), mWindow(window), mPlacement(placement) {
    window->installEventFilter(this);
}

void WindowHints::centre(bool frameKnown) {
    const QScreen *screen =
        mWindow->screen() ? mWindow->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    mCentredWith = frameKnown ? frameMargins(mWindow) : QMargins();
    const QPoint frameAt =
        centredFramePosition(screen->availableGeometry(), mWindow->size(), mCentredWith);
    if (QWindow *handle = mWindow->windowHandle())
        handle->setFramePosition(frameAt);
    else
        mWindow->move(frameAt);
}

// A window manager frames the window after it is mapped, before its first
// expose; a move follows only where it shifts the client. Either is the
// moment to centre the frame now known.
bool WindowHints::eventFilter(QObject *watched, QEvent *event) {
    QWindow *handle = mWindow->windowHandle();
    if (watched == handle && handle) {
        if (event->type() == QEvent::Expose && mCentring && handle->isExposed() &&
            frameMargins(mWindow) != mCentredWith)
            centre(true);
        // The frame at the imposed size is being drawn and committed now;
        // only after it may the state be given up (see WindowStateChange).
        const QEvent::Type type = event->type();
        if ((type == QEvent::UpdateRequest || type == QEvent::Paint || type == QEvent::Expose) &&
            std::exchange(mLeaveImposedState, false))
            QTimer::singleShot(0, this, &WindowHints::leaveImposedState);
        return false;
    }
    if (watched != mWindow)
        return false;
    switch (event->type()) {
    case QEvent::WindowStateChange:
        // A fixed window is never maximised or full screen, yet a compositor
        // may make it so on its own (a key binding, a tiling layout), and a
        // Wayland one ends a client that does not draw itself at the size
        // it imposed. Under Wayland the imposed size is drawn once, then
        // the state is given up; elsewhere it is given up at once.
        if (mWindow->windowState() & ImposedStates) {
            if (isWayland())
                mLeaveImposedState = true;
            else
                leaveImposedState();
        }
        break;
    case QEvent::Resize:
        // A compositor that sized the window without maximising it gets the
        // fixed size back, which Wayland lets a client choose.
        if (isWayland() && !(mWindow->windowState() & ImposedStates) &&
            mWindow->size() != mWindow->maximumSize())
            QTimer::singleShot(0, this, [this] {
                if (!(mWindow->windowState() & ImposedStates))
                    mWindow->resize(mWindow->maximumSize());
            });
        break;
    case QEvent::Show:
        if (mPlacement == Placement::ByManager) {
            if (!event->spontaneous() && QGuiApplication::platformName() == QLatin1String("xcb"))
                setX11Hints(mWindow);
            break;
        }
        if (!event->spontaneous() && !mCentring) {
            // Shown for the first time, or again after being hidden.
            if (QGuiApplication::platformName() == QLatin1String("xcb"))
                setX11Hints(mWindow);
            // Qt's Wayland plugin keeps a window within its maximum size
            // even where the protocol requires the compositor's; the widget
            // keeps its own fixed size and the compositor its minimum.
            if (isWayland() && handle)
                handle->setMaximumSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
            if (handle && !mWatchingHandle) {
                handle->installEventFilter(this);
                mWatchingHandle = true;
            }
            mCentring = true;
            centre(false);
        }
        break;
    case QEvent::Move:
        // A move with the frame unchanged after centring is the operator's,
        // or our own, and ends the centring.
        if (mCentring && mWindow->isVisible()) {
            if (frameMargins(mWindow) != mCentredWith)
                centre(true);
            else if (!mCentredWith.isNull())
                mCentring = false;
        }
        break;
    case QEvent::Hide:
        if (!event->spontaneous())
            mCentring = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace krv::app
