// Feeds arbitrary bytes to the RTF tokenizer alone and checks what it hands
// back: tokens in input order, each inside the input, every byte belonging to
// a token except the line breaks between them, and the parts of each token as
// its kind promises. Any violation, crash or sanitizer report is a fault.
#include "RtfTokenizer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using krv::help::RtfToken;
using krv::help::RtfTokenizer;
using krv::help::RtfTokenKind;

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isInside(std::string_view part, std::string_view input) {
    return part.data() >= input.data() && part.data() + part.size() <= input.data() + input.size();
}

void checkToken(const RtfToken &t, std::string_view input, std::size_t end) {
    require(t.offset < end && end <= input.size());
    require(t.text.empty() || isInside(t.text, input));
    require(t.param >= -krv::help::RtfMaxParam && t.param <= krv::help::RtfMaxParam);
    switch (t.kind) {
    case RtfTokenKind::GroupStart:
    case RtfTokenKind::GroupEnd:
        require(end == t.offset + 1 && t.faults == 0);
        require(input[t.offset] == (t.kind == RtfTokenKind::GroupStart ? '{' : '}'));
        break;
    case RtfTokenKind::Word:
        require(!t.text.empty() && input[t.offset] == '\\');
        for (char c : t.text)
            require(isLetter(c));
        break;
    case RtfTokenKind::Symbol:
        require(t.text.size() == 1 && !isLetter(t.text[0]) && t.text[0] != '\'');
        require(end == t.offset + 2);
        break;
    case RtfTokenKind::HexByte:
        require(t.param >= 0 && t.param <= 255 && end == t.offset + 4);
        break;
    case RtfTokenKind::Text:
        require(!t.text.empty() && t.text.data() == input.data() + t.offset);
        require(t.text.data() + t.text.size() == input.data() + end);
        require(t.text.find_first_of(std::string_view("{}\\\r\n")) == std::string_view::npos);
        break;
    case RtfTokenKind::Binary:
        require(t.text.data() + t.text.size() == input.data() + end || t.text.empty());
        require(t.text.size() <= std::size_t(t.param < 0 ? 0 : t.param));
        break;
    case RtfTokenKind::Broken:
        require(t.faults != 0);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    RtfTokenizer tokenizer(input);
    RtfToken token;
    std::size_t previousEnd = 0;
    while (tokenizer.next(token)) {
        require(token.offset >= previousEnd);
        for (std::size_t i = previousEnd; i < token.offset; ++i)
            require(input[i] == '\r' || input[i] == '\n');
        checkToken(token, input, tokenizer.position());
        previousEnd = tokenizer.position();
    }
    for (std::size_t i = previousEnd; i < input.size(); ++i)
        require(input[i] == '\r' || input[i] == '\n');
    require(tokenizer.position() == input.size());
    return 0;
}
