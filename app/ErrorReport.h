#pragma once

#include "RuntimeError.h"

#include <exception>
#include <new>

class QWidget;

namespace krv::app {

// Shows a run-time error's number and description in a message box.
void showRuntimeError(QWidget *parent, const RuntimeError &error);

// The one place run-time errors stop: every click and every start-up or
// shut-down step that can fail runs inside it, so no exception ever crosses
// Qt's event loop and the window stays up with its selections.
template <typename Handler> void runGuarded(QWidget *parent, Handler &&handler) {
    try {
        handler();
    } catch (const RuntimeError &error) {
        showRuntimeError(parent, error);
    } catch (const std::bad_alloc &) {
        showRuntimeError(parent, RuntimeError(7, QStringLiteral("Out of memory")));
    } catch (const std::exception &error) {
        showRuntimeError(parent, RuntimeError(51, QStringLiteral("Internal error: %1")
                                                      .arg(QString::fromLocal8Bit(error.what()))));
    }
}

} // namespace krv::app
