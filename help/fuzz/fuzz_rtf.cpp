// Feeds arbitrary bytes to the RTF reader. Any crash, sanitizer report or
// hang is a fault; the reader must always hand back a document.
//
// Text layout is left out: it belongs to Qt, and fontconfig's caching of each
// new family name a fuzzed font table invents would be reported as leaks.
#include "RtfReader.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

namespace {
int argc = 1;
char name[] = "fuzz_rtf";
char *argv[] = {name, nullptr};
} // namespace

// One application object for the whole run, as in the program.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const krv::help::RtfResult result = krv::help::readRtf(input);
    if (!result.document)
        std::abort();
    (void)result.document->toPlainText();
    return 0;
}
