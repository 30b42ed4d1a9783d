// krv520-cli: the window program's settings, test page and connections for
// terminals and scripts.
#include "Runner.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krv520-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = krv::cli::runProgram(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
