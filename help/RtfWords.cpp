#include "RtfWords.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace krv::help {
namespace {

using W = RtfWord;

// clang-format off
constexpr std::pair<std::string_view, RtfWord> Words[] = {
    {"fonttbl", W::FontTable}, {"colortbl", W::ColourTable},
    {"annotation", W::SkippedDestination}, {"atnauthor", W::SkippedDestination},
    {"atnid", W::SkippedDestination}, {"bkmkend", W::SkippedDestination},
    {"bkmkstart", W::SkippedDestination}, {"colorschememapping", W::SkippedDestination},
    {"datastore", W::SkippedDestination}, {"filetbl", W::SkippedDestination},
    {"fldinst", W::SkippedDestination}, {"footer", W::SkippedDestination},
    {"footerf", W::SkippedDestination}, {"footerl", W::SkippedDestination},
    {"footerr", W::SkippedDestination}, {"footnote", W::SkippedDestination},
    {"generator", W::SkippedDestination}, {"header", W::SkippedDestination},
    {"headerf", W::SkippedDestination}, {"headerl", W::SkippedDestination},
    {"headerr", W::SkippedDestination}, {"info", W::SkippedDestination},
    {"latentstyles", W::SkippedDestination}, {"listoverridetable", W::SkippedDestination},
    {"listtable", W::SkippedDestination}, {"object", W::SkippedDestination},
    {"pict", W::SkippedDestination}, {"revtbl", W::SkippedDestination},
    {"rsidtbl", W::SkippedDestination}, {"stylesheet", W::SkippedDestination},
    {"themedata", W::SkippedDestination}, {"xmlnstbl", W::SkippedDestination},
    {"par", W::Paragraph}, {"sect", W::Paragraph}, {"page", W::Paragraph},
    {"line", W::Line}, {"tab", W::Tab}, {"plain", W::Plain}, {"f", W::Font}, {"fs", W::FontSize}, {"cf", W::Colour},
    {"u", W::Unicode}, {"uc", W::UnicodeSkip}, {"deff", W::DefaultFont},
    {"ansicpg", W::CodePage}, {"ansi", W::Header}, {"rtf", W::Header}, {"emdash", W::EmDash},
    {"endash", W::EnDash}, {"lquote", W::LeftQuote}, {"rquote", W::RightQuote},
    {"ldblquote", W::LeftDoubleQuote}, {"rdblquote", W::RightDoubleQuote},
    {"bullet", W::Bullet},
    {"pard", W::ParagraphDefaults}, {"b", W::Bold}, {"i", W::Italic}, {"ul", W::Underline},
    {"ulnone", W::UnderlineNone}, {"strike", W::Strike}, {"qc", W::AlignCentre},
    {"ql", W::AlignLeft}, {"qr", W::AlignRight}, {"qj", W::AlignJustify},
    {"li", W::LeftIndent}, {"ri", W::RightIndent}, {"fi", W::FirstLineIndent},
    {"sb", W::SpaceBefore}, {"sa", W::SpaceAfter},
    {"fswiss", W::FamilySwiss}, {"froman", W::FamilyRoman}, {"fmodern", W::FamilyModern},
    {"fscript", W::FamilyScript}, {"fdecor", W::FamilyDecor},
    {"red", W::Red}, {"green", W::Green}, {"blue", W::Blue}};
// clang-format on

constexpr std::size_t LongestWord =
    std::max_element(std::begin(Words), std::end(Words), [](const auto &a, const auto &b) {
        return a.first.size() < b.first.size();
    }) -> first.size();

// An open-addressing hash table, filled at compile time and at most a third
// full, so a lookup is mostly one name comparison.
constexpr std::size_t Slots = 256;
static_assert(std::size(Words) * 3 <= Slots);

constexpr std::size_t hash(std::string_view name) {
    std::uint32_t h = 2166136261u; // FNV-1a
    for (const char c : name)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h % Slots;
}

constexpr auto Table = [] {
    std::array<std::pair<std::string_view, RtfWord>, Slots> table{};
    for (const auto &word : Words) {
        std::size_t i = hash(word.first);
        while (table[i].second != RtfWord::Unknown)
            i = (i + 1) % Slots;
        table[i] = word;
    }
    return table;
}();

} // namespace

RtfWord rtfWord(std::string_view name) {
    if (name.size() > LongestWord)
        return RtfWord::Unknown;
    for (std::size_t i = hash(name);; i = (i + 1) % Slots) {
        const auto &slot = Table[i];
        if (slot.second == RtfWord::Unknown || slot.first == name)
            return slot.second;
    }
}

char16_t rtfWordCharacter(RtfWord word) {
    switch (word) {
    case RtfWord::Tab:
        return u'\t';
    case RtfWord::Line:
        return 0x2028;
    case RtfWord::EmDash:
        return 0x2014;
    case RtfWord::EnDash:
        return 0x2013;
    case RtfWord::LeftQuote:
        return 0x2018;
    case RtfWord::RightQuote:
        return 0x2019;
    case RtfWord::LeftDoubleQuote:
        return 0x201C;
    case RtfWord::RightDoubleQuote:
        return 0x201D;
    case RtfWord::Bullet:
        return 0x2022;
    default:
        return 0;
    }
}

} // namespace krv::help
