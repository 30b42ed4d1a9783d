// The RTF reader in three layers, each knowing only the one below it: the
// tokenizer splits the bytes, the destinations give the tokens their meaning,
// and the document writer builds what is shown.
#include "RtfReader.h"

#include "RtfDestinations.h"
#include "RtfDocumentWriter.h"
#include "RtfTokenizer.h"

#include <string_view>

namespace krv::help {

RtfResult readRtf(const QByteArray &rtf) {
    const std::string_view input(rtf.constData(), std::size_t(rtf.size()));
    RtfDocumentWriter writer;
    RtfDestinations destinations(writer, input);
    RtfTokenizer tokenizer(input);
    RtfToken token;
    while (!destinations.ended() && tokenizer.next(token))
        destinations.take(token);
    if (destinations.ended())
        destinations.checkTrailing(tokenizer.position(), tokenizer.rest());
    QStringList problems = destinations.finish(input.size());
    return {writer.takeDocument(), std::move(problems)};
}

} // namespace krv::help
