// krv520-cli: the window program's settings, test page and connections for
// terminals and scripts.
#include "CommandLine.h"
#include "HeldLines.h"
#include "Runner.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krv520-cli"));
    // Ctrl+C or a SIGTERM in the middle of a serial job still lets go of the
    // line as a normal end would, before the program ends by the signal.
    if (!krv::comm::held_lines::stopOnSignals())
        std::fputs("krv520-cli: the signal handlers could not be installed; a Ctrl+C may leave "
                   "a serial port marked for exclusive use\n",
                   stderr);
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (const QString refused = krv::cli::undecodableArgument(argc, argv); !refused.isEmpty()) {
        err << "krv520-cli: " << refused << '\n';
        return krv::cli::ExitUsage;
    }
    const int code = krv::cli::runProgram(QCoreApplication::arguments().mid(1), out, err);
    // Whatever the C library still holds must reach its file too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fflush(stderr) != 0 ||
        std::ferror(stderr))
        return krv::cli::ExitFailure;
    return code;
}
