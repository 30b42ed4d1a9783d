// The program's own start-up, line for line, ending after the first frame.
#include "ExitAfterFirstPaint.h"
#include "FocusMark.h"
#include "frmMain.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QGuiApplication::setDesktopFileName(QStringLiteral("krv520-config"));
    QApplication application(argc, argv);
    krv::app::installFocusMark(application);
    krv::app::frmMain window;
    const krv::bench::ExitAfterFirstPaint exitAfterFirstPaint(&window);
    window.Form_Load();
    window.showCentred();
    return application.exec();
}
