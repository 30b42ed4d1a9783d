#include "RtfDestinations.h"

#include "RtfFormatting.h"
#include "RtfReader.h"

#include <algorithm>

namespace krv::help {
namespace {

// Bytes that stand for themselves in shown text: printable ASCII and the tab.
bool isPlain(char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t';
}

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
        textRun(token.text, token.offset);
        break;
    case RtfTokenKind::Binary: // pictures and objects, which are not shown
    case RtfTokenKind::Broken:
        break;
    }
}

// Each byte is one character, also as a fallback after \u. Printable ASCII
// in shown text reaches the writer a run at a time: it needs no decoding.
void RtfDestinations::textRun(std::string_view bytes, std::size_t offset) {
    std::size_t i = 0;
    while (i < bytes.size() && consumeFallback())
        ++i;
    const bool shown = group().destination == Destination::Text;
    while (i < bytes.size()) {
        std::size_t end = i;
        while (shown && end < bytes.size() && isPlain(bytes[end]))
            ++end;
        if (end > i) {
            mWriter.plainText(bytes.substr(i, end - i), group().chr);
            i = end;
            continue;
        }
        textByte(static_cast<unsigned char>(bytes[i]), offset + i);
        ++i;
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
    const RtfWord word = rtfWord(t.text);
    if (startsDestination(word))
        return;
    // Inside the tables a \* group (alternative names, panose data) is not table text.
    if (g.ignorable && g.destination != Destination::Text) {
        g.destination = Destination::Skip;
        return;
    }
    switch (g.destination) {
    case Destination::FontTable:
        mTables.fontWord(word, t);
        return;
    case Destination::ColourTable:
        mTables.colourWord(word, t);
        return;
    case Destination::Text:
        if (!textWord(word, t) && g.ignorable)
            g.destination = Destination::Skip; // an unknown \* destination
        return;
    case Destination::Skip:
        return;
    }
}

bool RtfDestinations::startsDestination(RtfWord word) {
    Group &g = group();
    switch (word) {
    case RtfWord::FontTable:
        g.destination = Destination::FontTable;
        mTables.startFontTable();
        return true;
    case RtfWord::ColourTable:
        g.destination = Destination::ColourTable;
        mTables.startColourTable();
        return true;
    case RtfWord::SkippedDestination:
        g.destination = Destination::Skip;
        return true;
    default:
        return false;
    }
}

// Returns whether the word is one this reader knows.
bool RtfDestinations::textWord(RtfWord word, const RtfToken &t) {
    Group &g = group();
    switch (word) {
    case RtfWord::Paragraph:
        paragraph();
        return true;
    case RtfWord::Plain:
        g.chr = RtfCharState{mWriter.defaultFont()};
        return true;
    case RtfWord::Font:
        g.chr.font = fontIndex(t);
        return true;
    case RtfWord::FontSize:
        g.chr.halfPoints = fontSize(t);
        return true;
    case RtfWord::Colour:
        g.chr.colour = colourIndex(t);
        return true;
    case RtfWord::Unicode:
        unicode(t);
        return true;
    case RtfWord::UnicodeSkip:
        g.unicodeSkip = std::clamp(t.param, 0, 255);
        return true;
    case RtfWord::DefaultFont:
        mWriter.setDefaultFont(t.param);
        return true;
    case RtfWord::CodePage:
        setCodePage(t);
        return true;
    case RtfWord::Header:
        return true;
    default:
        break;
    }
    if (const char16_t unit = rtfWordCharacter(word)) {
        textUnit(unit);
        return true;
    }
    // Words that change nothing we render end up false here too.
    return applyFormatting(word, t, g.chr, g.para);
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
