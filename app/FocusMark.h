#pragma once

class QApplication;

namespace krv::app {

// Draws the keyboard focus as a 2 px frame in the highlight colour over the
// application's style, which otherwise marks it with a faint 1 px line.
void installFocusMark(QApplication &application);

} // namespace krv::app
