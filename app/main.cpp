#include "frmMain.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    krv::app::frmMain window;
    window.Form_Load();
    window.showCentred();
    return application.exec();
}
