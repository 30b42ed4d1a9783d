// The control words the RTF reader's destination layer acts on, looked up
// once per word so that the layer dispatches on a number instead of comparing
// the name against each word it knows.
#pragma once

#include <cstdint>
#include <string_view>

namespace krv::help {

enum class RtfWord : std::uint8_t {
    Unknown, // every word this reader ignores
    // destinations
    FontTable,
    ColourTable,
    SkippedDestination, // content never shown, whether or not \* marks it
    // text
    Paragraph, // \par, \sect and \page alike
    Line,
    Tab,
    Plain,
    Font, // \f, also a font table entry's number
    FontSize,
    Colour,
    Unicode,
    UnicodeSkip,
    DefaultFont,
    CodePage,
    Header, // \rtf and \ansi, known but changing nothing
    EmDash,
    EnDash,
    LeftQuote,
    RightQuote,
    LeftDoubleQuote,
    RightDoubleQuote,
    Bullet,
    // character and paragraph formatting
    ParagraphDefaults,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Strike,
    AlignCentre,
    AlignLeft,
    AlignRight,
    AlignJustify,
    LeftIndent,
    RightIndent,
    FirstLineIndent,
    SpaceBefore,
    SpaceAfter,
    // font families in the font table
    FamilySwiss,
    FamilyRoman,
    FamilyModern,
    FamilyScript,
    FamilyDecor,
    // colour table components
    Red,
    Green,
    Blue,
};

[[nodiscard]] RtfWord rtfWord(std::string_view name);
// The character a word stands for (\tab, \line, \emdash, ...); 0 for a
// word that stands for none.
[[nodiscard]] char16_t rtfWordCharacter(RtfWord word);

} // namespace krv::help
