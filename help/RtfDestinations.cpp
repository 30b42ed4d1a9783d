#include "RtfDestinations.h"

#include "RtfFormatting.h"
#include "RtfReader.h"

#include <algorithm>
#include <array>

namespace krv::help {
namespace {

// Destinations whose content is never shown, whether or not \* marks them;
// sorted, since every control word is looked up here.
// clang-format off
constexpr std::array<std::string_view, 30> SkippedDestinations = {
    "annotation", "atnauthor", "atnid", "bkmkend", "bkmkstart", "colorschememapping", "datastore",
    "filetbl", "fldinst", "footer", "footerf", "footerl", "footerr", "footnote", "generator",
    "header", "headerf", "headerl", "headerr", "info", "latentstyles", "listoverridetable",
    "listtable", "object", "pict", "revtbl", "rsidtbl", "stylesheet", "themedata", "xmlnstbl"};
// clang-format on
static_assert(std::is_sorted(SkippedDestinations.begin(), SkippedDestinations.end()));

} // namespace

RtfDestinations::RtfDestinations(RtfDocumentWriter &writer, std::string_view input)
    : mWriter(writer), mTables(writer, mProblems) {
    mGroups.push_back(Group{});
    if (input.empty())
        mProblems.add(0, QStringLiteral("empty input, not an RTF document"));
    else if (input.substr(0, 5) != "{\\rtf")
        mProblems.add(0, QStringLiteral("does not begin with {\\rtf; read as plain RTF text"));
    else
        mWellFormedStart = true;
}

void RtfDestinations::take(const RtfToken &token) {
    if (token.faults != 0)
        mProblems.addFaults(token);
    switch (token.kind) {
    case RtfTokenKind::GroupStart:
        openGroup(token.offset);
        break;
    case RtfTokenKind::GroupEnd:
        closeGroup(token.offset);
        break;
    case RtfTokenKind::Word:
        if (!consumeFallback())
            controlWord(token);
        break;
    case RtfTokenKind::Symbol:
        if (!consumeFallback())
            controlSymbol(token.text.front(), token.offset);
        break;
    case RtfTokenKind::HexByte:
        if (!consumeFallback())
            textByte(static_cast<unsigned char>(token.param), token.offset);
        break;
    case RtfTokenKind::Text:
        // Each byte is one character, also as a fallback after \u.
        for (std::size_t i = 0; i < token.text.size(); ++i) {
            if (!consumeFallback())
                textByte(static_cast<unsigned char>(token.text[i]), token.offset + i);
        }
        break;
    case RtfTokenKind::Binary: // pictures and objects, which are not shown
    case RtfTokenKind::Broken:
        break;
    }
}

// After \uN the next N "characters" (text bytes, escapes, control words)
// are the fallback for readers without Unicode; a group boundary ends them.
bool RtfDestinations::consumeFallback() {
    if (mSkip == 0)
        return false;
    --mSkip;
    return true;
}

void RtfDestinations::openGroup(std::size_t offset) {
    mSkip = 0;
    if (int(mGroups.size()) > RtfMaxGroupDepth) {
        if (mOverflow++ == 0)
            mProblems.add(offset,
                          QStringLiteral("groups nested deeper than %1; deeper braces ignored")
                              .arg(RtfMaxGroupDepth));
        return;
    }
    Group inner = mGroups.back();
    inner.ignorable = false;
    mGroups.push_back(inner);
}

void RtfDestinations::closeGroup(std::size_t offset) {
    mSkip = 0;
    if (mOverflow > 0) {
        --mOverflow;
        return;
    }
    if (mGroups.size() == 1) {
        mProblems.add(offset, QStringLiteral("unmatched }"));
        return;
    }
    const Group &closing = mGroups.back();
    if (closing.destination == Destination::FontTable)
        mTables.endFontGroup();
    if (closing.destination == Destination::ColourTable)
        mTables.endColourGroup();
    if (mGroups.size() == 2)
        mOutermost = closing;
    mGroups.pop_back();
    if (mGroups.size() == 1 && mWellFormedStart)
        mEnded = true;
}

// Whitespace and NULs after the closing brace are common in files; anything else is not.
void RtfDestinations::checkTrailing(std::size_t offset, std::string_view rest) {
    const std::size_t at = rest.find_first_not_of(std::string_view("\r\n \t\0", 5));
    if (at != std::string_view::npos)
        mProblems.add(offset + at, QStringLiteral("content after the end of the document ignored"));
}

void RtfDestinations::controlSymbol(char c, std::size_t offset) {
    switch (c) {
    case '\\':
    case '{':
    case '}':
        textByte(static_cast<unsigned char>(c), offset);
        break;
    case '*':
        group().ignorable = true;
        break;
    case '~':
        textUnit(0x00A0);
        break;
    case '-':
        textUnit(0x00AD);
        break;
    case '_':
        textUnit(0x2011);
        break;
    case '\r':
    case '\n':
        paragraph();
        break;
    default:
        break; // other control symbols change nothing we render
    }
}

void RtfDestinations::controlWord(const RtfToken &t) {
    Group &g = group();
    if (g.destination == Destination::Skip)
        return;
    if (startsDestination(t))
        return;
    // Inside the tables a \* group (alternative names, panose data) is not table text.
    if (g.ignorable && g.destination != Destination::Text) {
        g.destination = Destination::Skip;
        return;
    }
    switch (g.destination) {
    case Destination::FontTable:
        mTables.fontWord(t);
        return;
    case Destination::ColourTable:
        mTables.colourWord(t);
        return;
    case Destination::Text:
        if (!textWord(t) && g.ignorable)
            g.destination = Destination::Skip; // an unknown \* destination
        return;
    case Destination::Skip:
        return;
    }
}

bool RtfDestinations::startsDestination(const RtfToken &t) {
    Group &g = group();
    if (t.text == "fonttbl") {
        g.destination = Destination::FontTable;
        mTables.startFontTable();
        return true;
    }
    if (t.text == "colortbl") {
        g.destination = Destination::ColourTable;
        mTables.startColourTable();
        return true;
    }
    if (std::binary_search(SkippedDestinations.begin(), SkippedDestinations.end(), t.text)) {
        g.destination = Destination::Skip;
        return true;
    }
    return false;
}

// Returns whether the word is one this reader knows.
bool RtfDestinations::textWord(const RtfToken &t) {
    Group &g = group();
    RtfCharState &c = g.chr;
    RtfParaState &p = g.para;
    const std::string_view w = t.text;
    if (w == "par" || w == "sect" || w == "page")
        paragraph();
    else if (w == "line")
        textUnit(0x2028);
    else if (w == "tab")
        textUnit(u'\t');
    else if (w == "plain")
        c = RtfCharState{mWriter.defaultFont()};
    else if (applyFormatting(t, c, p))
        return true;
    else if (w == "f")
        c.font = fontIndex(t);
    else if (w == "fs")
        c.halfPoints = fontSize(t);
    else if (w == "cf")
        c.colour = colourIndex(t);
    else if (w == "u")
        unicode(t);
    else if (w == "uc")
        g.unicodeSkip = std::clamp(t.param, 0, 255);
    else if (w == "deff")
        mWriter.setDefaultFont(t.param);
    else if (w == "ansicpg")
        setCodePage(t);
    else if (w == "ansi" || w == "rtf")
        return true;
    else if (w == "emdash")
        textUnit(0x2014);
    else if (w == "endash")
        textUnit(0x2013);
    else if (w == "lquote")
        textUnit(0x2018);
    else if (w == "rquote")
        textUnit(0x2019);
    else if (w == "ldblquote")
        textUnit(0x201C);
    else if (w == "rdblquote")
        textUnit(0x201D);
    else if (w == "bullet")
        textUnit(0x2022);
    else
        return false; // words that change nothing we render end up here too
    return true;
}

int RtfDestinations::fontIndex(const RtfToken &t) {
    const int index = t.hasParam ? t.param : 0;
    if (mWriter.hasFonts() && !mWriter.hasFont(index))
        mProblems.add(t.offset, QStringLiteral("font %1 is not in the font table").arg(index));
    return index;
}

int RtfDestinations::fontSize(const RtfToken &t) {
    if (!t.hasParam)
        return RtfDefaultHalfPoints;
    // RTF allows up to 1638 points; below one point nothing is readable.
    if (t.param < 2 || t.param > 3276) {
        mProblems.add(t.offset,
                      QStringLiteral("font size %1 half-points out of range").arg(t.param));
        return std::clamp(t.param, 2, 3276);
    }
    return t.param;
}

int RtfDestinations::colourIndex(const RtfToken &t) {
    const int index = t.hasParam ? t.param : 0;
    const int count = mWriter.colourCount();
    if (count > 0 && (index < 0 || index >= count)) {
        mProblems.add(t.offset, QStringLiteral("colour %1 is not in the colour table").arg(index));
        return 0;
    }
    return index;
}

void RtfDestinations::unicode(const RtfToken &t) {
    int value = t.param;
    if (value < 0)
        value += 0x10000; // RTF writes code units above 32767 as negative numbers
    if (value < 0 || value > 0xFFFF) {
        mProblems.add(t.offset, QStringLiteral("\\u%1 is not a UTF-16 code unit").arg(t.param));
        value = 0xFFFD;
    }
    textUnit(char16_t(value));
    mSkip = group().unicodeSkip;
}

void RtfDestinations::setCodePage(const RtfToken &t) {
    if (!mCodePage.select(t.param))
        mProblems.add(t.offset,
                      QStringLiteral("code page %1 unknown here; read as 1252").arg(t.param));
}

void RtfDestinations::textByte(unsigned char b, std::size_t offset) {
    switch (group().destination) {
    case Destination::FontTable:
        mTables.fontByte(b);
        return;
    case Destination::ColourTable:
        mTables.colourByte(b);
        return;
    case Destination::Skip:
        return;
    case Destination::Text:
        break;
    }
    if (b < 0x80) {
        if (b == '\t')
            textUnit(u'\t');
        else if (b >= 0x20 && b != 0x7F)
            textUnit(char16_t(b));
        return;
    }
    if (mCodePage.isDecoded()) {
        for (QChar ch : mCodePage.decode(b))
            textUnit(ch.unicode());
        return;
    }
    char16_t unit = RtfCodePage::cp1252(b);
    if (unit == 0) {
        mProblems.add(offset, QStringLiteral("byte 0x%1 has no character in code page 1252")
                                  .arg(int(b), 2, 16, QLatin1Char('0')));
        unit = 0xFFFD;
    }
    textUnit(unit);
}

void RtfDestinations::textUnit(char16_t unit) {
    if (group().destination == Destination::Text)
        mWriter.text(unit, group().chr);
}

void RtfDestinations::paragraph() {
    if (group().destination == Destination::Text)
        mWriter.paragraph(group().para, group().chr);
}

QStringList RtfDestinations::finish(std::size_t inputSize) {
    if (mOverflow > 0 || mGroups.size() > 1) {
        const std::size_t open = mGroups.size() - 1 + std::size_t(mOverflow);
        mProblems.add(inputSize,
                      QStringLiteral("%1 group(s) not closed at the end of the input").arg(open));
    }
    const Group &last = mEnded ? mOutermost : mGroups.back();
    mWriter.finish(group().chr, last.para, last.chr);
    return mProblems.take();
}

} // namespace krv::help
