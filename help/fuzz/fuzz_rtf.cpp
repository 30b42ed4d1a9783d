// Feeds arbitrary bytes to the RTF reader. Any crash, sanitizer report or
// hang is a fault; the reader must always hand back a document.
#include "RtfReader.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Text layout needs the font system, which needs an application object.
    static int argc = 1;
    static char name[] = "fuzz_rtf";
    static char *argv[] = {name, nullptr};
    static QGuiApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)app;

    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    krv::help::RtfResult result = krv::help::readRtf(input);
    if (!result.document)
        std::abort();
    // Lay the text out as the help window would.
    result.document->setTextWidth(313);
    (void)result.document->size();
    (void)result.document->toPlainText();
    return 0;
}
