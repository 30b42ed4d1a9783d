// The first layer of the RTF reader: bytes to tokens. Braces, control words
// with their parameters, control symbols, \'hh escapes, runs of text and the
// data of \bin. It knows nothing of what a token means; a token that breaks
// the syntax carries its faults, and the layer above reports them. Tokens are
// views into the input, so reading allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace krv::help {

inline constexpr int RtfMaxWordLength = 32;    // longer control words are not RTF
inline constexpr int RtfMaxParam = 0x7fffffff; // parameters are clamped to +-this

enum class RtfTokenKind : std::uint8_t {
    GroupStart,
    GroupEnd,
    Word,    // \name or \nameN: `text` is the name, `param` the number
    Symbol,  // \ and one character that is not a letter nor ': `text` is that character
    HexByte, // \'hh: `param` is the byte
    Text,    // bytes outside control words, never empty; CR and LF are not text
    Binary,  // \binN: `text` is the data, as much of it as the input holds
    Broken,  // a \ or \' cut short: only its faults matter
};

struct RtfToken {
    enum Fault : std::uint8_t {
        WordTooLong = 1,
        ParamOutOfRange = 2,
        BinaryPastEnd = 4,
        BackslashAtEnd = 8,
        EscapeTruncated = 16,
        EscapeNotHex = 32,
    };

    RtfTokenKind kind = RtfTokenKind::Text;
    std::uint8_t faults = 0; // Fault bits
    bool hasParam = false;
    int param = 0;
    std::string_view text;
    std::size_t offset = 0; // where the token begins in the input
};

class RtfTokenizer {
public:
    explicit RtfTokenizer(std::string_view input) : mInput(input) {}

    // Reads the next token; false at the end of the input.
    bool next(RtfToken &token);

    [[nodiscard]] std::size_t position() const { return mPos; }
    [[nodiscard]] std::string_view rest() const { return mInput.substr(mPos); }

private:
    void readText(RtfToken &token);
    void readControl(RtfToken &token);
    void readWord(RtfToken &token);
    void readBinary(RtfToken &token);
    void readEscape(RtfToken &token);

    std::string_view mInput;
    std::size_t mPos = 0;
};

} // namespace krv::help
