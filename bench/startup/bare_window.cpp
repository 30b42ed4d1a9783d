// The floor: the least a Qt Widgets program does to put one window of the
// main window's size on the screen.
#include "ExitAfterFirstPaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(498, 304);
    const krv::bench::ExitAfterFirstPaint exitAfterFirstPaint(&window);
    window.show();
    return application.exec();
}
