#include "ErrorReport.h"
#include "FocusMark.h"
#include "ProductInfo.h"
#include "frmMain.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

enum class Ask { Window, Version, Help };

// `--version` and `--help` answer before QApplication exists, so installers,
// package tests and a terminal without a display get their answer.
Ask whatIsAsked(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return Ask::Version;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return Ask::Help;
    }
    return Ask::Window;
}

int answer(Ask asked) {
    if (asked == Ask::Version)
        std::printf("krv520-config %s\n", krv::app::PackageVersion);
    else
        std::printf("Usage: krv520-config [QT-OPTION...] [PROFILE]\n"
                    "       krv520-config --version | --help\n"
                    "\n"
                    "Opens the window that configures a KRV520 receipt printer, with\n"
                    "the settings of PROFILE chosen when one is given.\n"
                    "Qt's own options (-platform NAME, -style NAME, -stylesheet FILE)\n"
                    "are accepted. See krv520-config(1).\n");
    // An answer that never reached stdout (closed pipe, full disk) is a failure.
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    if (const Ask asked = whatIsAsked(argc, argv); asked != Ask::Window)
        return answer(asked);
    // The application id under Wayland and the desktop entry the icon and
    // name come from on every desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("krv520-config"));
    QApplication application(argc, argv);
    krv::app::installFocusMark(application);
    // Qt has taken its own options out; what is left is the profile to open.
    const QStringList files = application.arguments().mid(1);
    if (files.size() > 1) {
        std::fprintf(stderr, "krv520-config: one profile at a time, not %lld.\n",
                     static_cast<long long>(files.size()));
        return 2;
    }
    krv::app::frmMain window;
    window.Form_Load();
    if (!files.isEmpty())
        krv::app::runGuarded(&window, [&] { window.openProfile(files.front()); });
    window.showCentred();
    return application.exec();
}
