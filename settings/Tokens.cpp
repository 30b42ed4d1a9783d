#include "Tokens.h"

#include "Catalogue.h"

#include <cstdio>

namespace krv::settings {
namespace {

std::string upperHex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

// Only entries the list really has are encoded: the rules would otherwise
// spill an out-of-range index into a neighbouring setting's bits.
bool isListedEntry(const Setting &setting, std::int16_t index) {
    return index > 0 && static_cast<std::size_t>(index) < setting.entries.size();
}

std::vector<Token> fixedTokens(const Setting &setting, std::int16_t index) {
    std::vector<Token> tokens;
    for (std::string_view token : setting.entries[static_cast<std::size_t>(index)].tokens) {
        if (!token.empty())
            tokens.emplace_back(token);
    }
    return tokens;
}

std::vector<Token> internationalCharSetTokens(std::int16_t index) {
    return {"#-1000F", "#+1000" + upperHex(index - 1)};
}

std::vector<Token> codePageTokens(std::int16_t index) {
    // The last two characters of "00" and the value: always two digits.
    const std::string padded = "00" + CodePageHex(index);
    return {"#-3FF00", "#+3" + padded.substr(padded.size() - 2) + "00"};
}

} // namespace

std::string CodePageHex(std::int16_t selectedIndex) {
    const int v = selectedIndex - 1;
    if (v <= 21)
        return upperHex(v); // "Normal" to "874 (Thai)": 00 to 15
    if (v <= 24)
        return upperHex(v + 10); // the three Windows code pages: 20 to 22
    return upperHex(v + 39);     // "3840 (IBM-Russian)" onwards: 40 upwards
}

std::vector<Token> tokensFor(const Setting &setting, std::int16_t selectedIndex) {
    if (!isListedEntry(setting, selectedIndex))
        return {};
    switch (setting.encoding) {
    case Encoding::Fixed:
        return fixedTokens(setting, selectedIndex);
    case Encoding::InternationalCharSet:
        return internationalCharSetTokens(selectedIndex);
    case Encoding::CodePage:
        return codePageTokens(selectedIndex);
    }
    return {};
}

} // namespace krv::settings
