// The floor once text is involved: the bare window with one line of text.
// The first text a Qt program measures starts its font system (fontconfig's
// configuration and caches, a font file), which the bare window never pays
// for; this program shows how much of the distance to the floor that is.
#include "ExitAfterFirstPaint.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(498, 304);
    QLabel text(QStringLiteral("Vela KRV520 Configuration Utility"), &window);
    text.move(8, 8);
    const krv::bench::ExitAfterFirstPaint exitAfterFirstPaint(&window);
    window.show();
    return application.exec();
}
