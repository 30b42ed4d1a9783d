#include "ProductInfo.h"
#include "frmMain.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// `--version` answers before QApplication exists, so installers and package
// tests can check the program on a machine without a display.
bool asksForVersion(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    }
    return false;
}

int printVersion() {
    std::printf("krv520-config %s\n", krv::app::PackageVersion);
    // A version that never reached stdout (closed pipe, full disk) is a failure.
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    if (asksForVersion(argc, argv))
        return printVersion();
    QApplication application(argc, argv);
    krv::app::frmMain window;
    window.Form_Load();
    window.showCentred();
    return application.exec();
}
