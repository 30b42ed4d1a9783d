// The floor plus the libraries the printer connections need: the bare window
// with the CUPS client (and its TLS, Kerberos and DNS-SD chain) and Qt
// Network loaded, but not used. It shows what loading them costs on its own,
// apart from the window's widgets and text.
#include "ExitAfterFirstPaint.h"

#include <QApplication>
#include <QTcpSocket>
#include <QWidget>

#include <cups/cups.h>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    // Taking the addresses keeps both libraries among the program's needs
    // without calling into them.
    volatile auto spooler = &cupsGetDests2;
    volatile auto network = &QTcpSocket::staticMetaObject;
    (void)spooler;
    (void)network;
    QWidget window;
    window.setFixedSize(498, 304);
    const krv::bench::ExitAfterFirstPaint exitAfterFirstPaint(&window);
    window.show();
    return application.exec();
}
