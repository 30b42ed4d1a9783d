// Writes the test page as the program builds it to the file named on the
// command line, so that the end-to-end tests can compare what the printer got.
#include "TestPage.h"

#include <QFile>

#include <cstdio>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_test_page FILE\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    const QByteArray page = krv::testprint::makeTestPage();
    if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size() || !file.flush()) {
        std::fprintf(stderr, "write_test_page: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
