#include "RtfReader.h"

#include "Twips.h"

#include <QColor>
#include <QFont>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace krv::help {
namespace {

constexpr int MaxWordLength = 32;  // longer control words are not RTF
constexpr int MaxParamDigits = 10; // enough for any 32-bit parameter
constexpr std::int64_t MaxParam = 0x7fffffff;
constexpr int DefaultHalfPoints = 24;

// The upper half of code page 1252 where it differs from Latin-1; 0 marks the
// five unassigned codes.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Destinations whose content is never shown, whether or not \* marks them.
// clang-format off
constexpr std::array<std::string_view, 30> SkippedDestinations = {
    "info", "stylesheet", "pict", "object", "header", "headerl", "headerr", "headerf",
    "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "listtable",
    "listoverridetable", "revtbl", "rsidtbl", "xmlnstbl", "filetbl", "themedata",
    "colorschememapping", "datastore", "latentstyles", "generator", "bkmkstart", "bkmkend",
    "annotation", "atnid", "atnauthor"};
// clang-format on

enum class Destination { Text, FontTable, ColourTable, Skip };

struct CharState {
    int font = 0;
    int halfPoints = DefaultHalfPoints;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int colour = 0;
    bool operator==(const CharState &) const = default;
};

struct ParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftTwips = 0;
    int rightTwips = 0;
    int firstLineTwips = 0;
    int beforeTwips = 0;
    int afterTwips = 0;
};

// What '{' saves and '}' restores.
struct Group {
    CharState chr;
    ParaState para;
    Destination destination = Destination::Text;
    int unicodeSkip = 1; // \uc: fallback characters after each \u
    bool ignorable = false;
};

struct FontDef {
    QString name;
    QFont::StyleHint hint = QFont::AnyStyle;
};

struct Token {
    std::string_view word;
    bool hasParam = false;
    int param = 0;
    qsizetype offset = 0;
};

int clampParam(std::int64_t v) {
    return int(std::clamp<std::int64_t>(v, -MaxParam, MaxParam));
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Fonts a desktop may lack get names it is likely to have; the style hint
// lets the font system fall back to its ordinary face of that kind.
QStringList familiesFor(const QString &name) {
    if (name.compare(u"Arial", Qt::CaseInsensitive) == 0)
        return {name, QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica")};
    if (name.compare(u"MS Sans Serif", Qt::CaseInsensitive) == 0)
        return {name, QStringLiteral("Microsoft Sans Serif")};
    if (name.compare(u"Symbol", Qt::CaseInsensitive) == 0)
        return {name, QStringLiteral("Standard Symbols PS")};
    return {name};
}

class Reader {
public:
    explicit Reader(const QByteArray &rtf)
        : mData(rtf.constData()), mSize(rtf.size()), mDocument(std::make_unique<QTextDocument>()),
          mCursor(mDocument.get()) {
        mGroups.push_back(Group{});
    }

    RtfResult run() {
        checkStart();
        while (mPos < mSize && !mEnded)
            step();
        finish();
        return {std::move(mDocument), std::move(mProblems)};
    }

private:
    // --- problems --------------------------------------------------------

    void problem(qsizetype offset, const QString &what) {
        ++mProblemCount;
        if (mProblemCount <= RtfMaxProblems)
            mProblems << QStringLiteral("byte %1: %2").arg(offset).arg(what);
    }

    // --- the input -------------------------------------------------------

    void checkStart() {
        if (mSize == 0) {
            problem(0, QStringLiteral("empty input, not an RTF document"));
            return;
        }
        if (std::string_view(mData, std::size_t(std::min<qsizetype>(mSize, 5))) != "{\\rtf") {
            problem(0, QStringLiteral("does not begin with {\\rtf; read as plain RTF text"));
            return;
        }
        mWellFormedStart = true;
    }

    void step() {
        const char c = mData[mPos];
        switch (c) {
        case '{':
            ++mPos;
            openGroup();
            break;
        case '}':
            closeGroup(mPos++);
            break;
        case '\\':
            readControl();
            break;
        case '\r':
        case '\n':
            ++mPos; // line breaks in the source are not text
            break;
        default:
            ++mPos;
            if (consumeFallback())
                break;
            textByte(static_cast<unsigned char>(c), mPos - 1);
        }
    }

    void openGroup() {
        mSkip = 0;
        if (int(mGroups.size()) > RtfMaxGroupDepth) {
            if (mOverflow++ == 0)
                problem(mPos - 1,
                        QStringLiteral("groups nested deeper than %1; deeper braces ignored")
                            .arg(RtfMaxGroupDepth));
            return;
        }
        Group inner = mGroups.back();
        inner.ignorable = false;
        mGroups.push_back(inner);
    }

    void closeGroup(qsizetype offset) {
        mSkip = 0;
        if (mOverflow > 0) {
            --mOverflow;
            return;
        }
        if (mGroups.size() == 1) {
            problem(offset, QStringLiteral("unmatched }"));
            return;
        }
        const Group &closing = mGroups.back();
        if (closing.destination == Destination::FontTable)
            commitFont();
        if (closing.destination == Destination::ColourTable && mColourPending)
            commitColour();
        if (mGroups.size() == 2)
            mOutermost = closing;
        mGroups.pop_back();
        if (mGroups.size() == 1 && mWellFormedStart) {
            mEnded = true;
            checkTrailing();
        }
    }

    // Whitespace and NULs after the closing brace are common in files; anything else is not.
    void checkTrailing() {
        for (qsizetype i = mPos; i < mSize; ++i) {
            const char c = mData[i];
            if (c != '\r' && c != '\n' && c != ' ' && c != '\t' && c != '\0') {
                problem(i, QStringLiteral("content after the end of the document ignored"));
                return;
            }
        }
    }

    void readControl() {
        const qsizetype start = mPos++;
        if (mPos >= mSize) {
            problem(start, QStringLiteral("backslash at the end of the input"));
            return;
        }
        const char c = mData[mPos];
        if (isLetter(c)) {
            readWord(start);
            return;
        }
        if (c == '\'') {
            ++mPos;
            readHexEscape(start);
            return;
        }
        ++mPos;
        if (consumeFallback())
            return;
        controlSymbol(c, start);
    }

    void readWord(qsizetype start) {
        const qsizetype nameStart = mPos;
        while (mPos < mSize && isLetter(mData[mPos]))
            ++mPos;
        Token token;
        token.offset = start;
        token.word = std::string_view(mData + nameStart, std::size_t(mPos - nameStart));
        if (token.word.size() > MaxWordLength)
            problem(start,
                    QStringLiteral("control word longer than %1 letters").arg(MaxWordLength));

        bool negative = false;
        if (mPos + 1 < mSize && mData[mPos] == '-' && isDigit(mData[mPos + 1])) {
            negative = true;
            ++mPos;
        }
        std::int64_t value = 0;
        int digits = 0;
        while (mPos < mSize && isDigit(mData[mPos])) {
            if (digits < MaxParamDigits + 1) // stays far below int64 overflow
                value = value * 10 + (mData[mPos] - '0');
            ++digits;
            ++mPos;
        }
        if (digits > 0) {
            token.hasParam = true;
            if (digits > MaxParamDigits || value > MaxParam)
                problem(start,
                        QStringLiteral("numeric parameter of \\%1 out of range")
                            .arg(QLatin1String(token.word.data(), qsizetype(token.word.size()))));
            token.param = clampParam(negative ? -value : value);
        }
        if (mPos < mSize && mData[mPos] == ' ')
            ++mPos; // the delimiting space belongs to the control word

        if (token.word == "bin") {
            skipBinary(token);
            return;
        }
        if (consumeFallback())
            return;
        controlWord(token);
    }

    void skipBinary(const Token &token) {
        const qsizetype count = token.hasParam ? std::max(0, token.param) : 0;
        if (count > mSize - mPos) {
            problem(token.offset, QStringLiteral("binary data runs past the end of the input"));
            mPos = mSize;
            return;
        }
        mPos += count;
    }

    void readHexEscape(qsizetype start) {
        if (mPos >= mSize || !isHex(mData[mPos])) {
            problem(start, mPos >= mSize ? QStringLiteral("truncated \\' escape")
                                         : QStringLiteral("\\' not followed by two hex digits"));
            return;
        }
        if (mPos + 1 >= mSize || !isHex(mData[mPos + 1])) {
            ++mPos; // the one hex digit is consumed with the broken escape
            problem(start, mPos >= mSize ? QStringLiteral("truncated \\' escape")
                                         : QStringLiteral("\\' not followed by two hex digits"));
            return;
        }
        const int byte = hexValue(mData[mPos]) * 16 + hexValue(mData[mPos + 1]);
        mPos += 2;
        if (consumeFallback())
            return;
        textByte(static_cast<unsigned char>(byte), start);
    }

    // After \uN the next N "characters" (text bytes, escapes, control words)
    // are the fallback for readers without Unicode; a group boundary ends them.
    bool consumeFallback() {
        if (mSkip == 0)
            return false;
        --mSkip;
        return true;
    }

    // --- dispatch --------------------------------------------------------

    Group &group() { return mGroups.back(); }

    void controlSymbol(char c, qsizetype offset) {
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

    void controlWord(const Token &t) {
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
            fontTableWord(t);
            return;
        case Destination::ColourTable:
            colourTableWord(t);
            return;
        case Destination::Text:
            if (!textWord(t) && g.ignorable)
                g.destination = Destination::Skip; // an unknown \* destination
            return;
        case Destination::Skip:
            return;
        }
    }

    bool startsDestination(const Token &t) {
        Group &g = group();
        if (t.word == "fonttbl") {
            g.destination = Destination::FontTable;
            mFontPending = false;
            return true;
        }
        if (t.word == "colortbl") {
            g.destination = Destination::ColourTable;
            mColours.clear();
            mColourPending = false;
            return true;
        }
        if (std::find(SkippedDestinations.begin(), SkippedDestinations.end(), t.word) !=
            SkippedDestinations.end()) {
            g.destination = Destination::Skip;
            return true;
        }
        return false;
    }

    static bool on(const Token &t) { return !t.hasParam || t.param != 0; }

    // Returns whether the word is one this reader knows.
    bool textWord(const Token &t) {
        Group &g = group();
        CharState &c = g.chr;
        ParaState &p = g.para;
        const std::string_view w = t.word;
        if (w == "par" || w == "sect" || w == "page")
            paragraph();
        else if (w == "line")
            textUnit(0x2028);
        else if (w == "tab")
            textUnit(u'\t');
        else if (w == "plain")
            c = CharState{mDefaultFont};
        else if (w == "pard")
            p = ParaState{};
        else if (w == "b")
            c.bold = on(t);
        else if (w == "i")
            c.italic = on(t);
        else if (w == "ul")
            c.underline = on(t);
        else if (w == "ulnone")
            c.underline = false;
        else if (w == "strike")
            c.strike = on(t);
        else if (w == "f")
            c.font = fontIndex(t);
        else if (w == "fs")
            c.halfPoints = fontSize(t);
        else if (w == "cf")
            c.colour = colourIndex(t);
        else if (w == "qc")
            p.alignment = Qt::AlignHCenter;
        else if (w == "ql")
            p.alignment = Qt::AlignLeft;
        else if (w == "qr")
            p.alignment = Qt::AlignRight;
        else if (w == "qj")
            p.alignment = Qt::AlignJustify;
        else if (w == "li")
            p.leftTwips = t.param;
        else if (w == "ri")
            p.rightTwips = t.param;
        else if (w == "fi")
            p.firstLineTwips = t.param;
        else if (w == "sb")
            p.beforeTwips = t.param;
        else if (w == "sa")
            p.afterTwips = t.param;
        else if (w == "u")
            unicode(t);
        else if (w == "uc")
            g.unicodeSkip = std::clamp(t.param, 0, 255);
        else if (w == "deff")
            mDefaultFont = t.param;
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

    int fontIndex(const Token &t) {
        const int index = t.hasParam ? t.param : 0;
        if (!mFonts.empty() && !mFonts.count(index))
            problem(t.offset, QStringLiteral("font %1 is not in the font table").arg(index));
        return index;
    }

    int fontSize(const Token &t) {
        if (!t.hasParam)
            return DefaultHalfPoints;
        // RTF allows up to 1638 points; below one point nothing is readable.
        if (t.param < 2 || t.param > 3276) {
            problem(t.offset, QStringLiteral("font size %1 half-points out of range").arg(t.param));
            return std::clamp(t.param, 2, 3276);
        }
        return t.param;
    }

    int colourIndex(const Token &t) {
        const int index = t.hasParam ? t.param : 0;
        if (!mColours.empty() && (index < 0 || index >= int(mColours.size()))) {
            problem(t.offset, QStringLiteral("colour %1 is not in the colour table").arg(index));
            return 0;
        }
        return index;
    }

    void unicode(const Token &t) {
        int value = t.param;
        if (value < 0)
            value += 0x10000; // RTF writes code units above 32767 as negative numbers
        if (value < 0 || value > 0xFFFF) {
            problem(t.offset, QStringLiteral("\\u%1 is not a UTF-16 code unit").arg(t.param));
            value = 0xFFFD;
        }
        textUnit(char16_t(value));
        mSkip = group().unicodeSkip;
    }

    void setCodePage(const Token &t) {
        mCodePage = t.param;
        mDecoder.reset();
        if (mCodePage == 1252)
            return;
        const QByteArray name = "windows-" + QByteArray::number(mCodePage);
        mDecoder.emplace(name.constData());
        if (!mDecoder->isValid()) {
            problem(t.offset,
                    QStringLiteral("code page %1 unknown here; read as 1252").arg(mCodePage));
            mDecoder.reset();
        }
    }

    // --- font and colour tables -----------------------------------------

    void fontTableWord(const Token &t) {
        const std::string_view w = t.word;
        if (w == "f") {
            commitFont();
            mFontPending = true;
            mPendingNumber = t.param;
            mPendingFont = FontDef{};
            mPendingName.clear();
        } else if (w == "fswiss") {
            mPendingFont.hint = QFont::SansSerif;
        } else if (w == "froman") {
            mPendingFont.hint = QFont::Serif;
        } else if (w == "fmodern") {
            mPendingFont.hint = QFont::TypeWriter;
        } else if (w == "fscript") {
            mPendingFont.hint = QFont::Cursive;
        } else if (w == "fdecor") {
            mPendingFont.hint = QFont::Decorative;
        }
    }

    void fontTableByte(unsigned char b) {
        if (!mFontPending)
            return;
        if (b == ';') {
            commitFont();
            return;
        }
        if (b >= 0x20 && mPendingName.size() < 256)
            mPendingName.append(char(b));
    }

    void commitFont() {
        if (!mFontPending)
            return;
        mFontPending = false;
        mPendingFont.name = QString::fromLatin1(mPendingName).trimmed();
        mFonts[mPendingNumber] = mPendingFont;
    }

    void colourTableWord(const Token &t) {
        const std::string_view w = t.word;
        int *channel = w == "red" ? &mRed : w == "green" ? &mGreen : w == "blue" ? &mBlue : nullptr;
        if (!channel)
            return;
        if (t.param < 0 || t.param > 255)
            problem(t.offset, QStringLiteral("colour component %1 out of range").arg(t.param));
        *channel = std::clamp(t.param, 0, 255);
        mColourPending = true;
    }

    void colourTableByte(unsigned char b) {
        if (b == ';')
            commitColour();
    }

    // An entry without components is the reader's default colour.
    void commitColour() {
        if (mColours.size() < 1024)
            mColours.push_back(mColourPending ? std::optional<QColor>(QColor(mRed, mGreen, mBlue))
                                              : std::nullopt);
        mColourPending = false;
        mRed = mGreen = mBlue = 0;
    }

    // --- text ------------------------------------------------------------

    void textByte(unsigned char b, qsizetype offset) {
        switch (group().destination) {
        case Destination::FontTable:
            fontTableByte(b);
            return;
        case Destination::ColourTable:
            colourTableByte(b);
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
        if (mDecoder) {
            const char raw = char(b);
            const QString decoded = (*mDecoder)(QByteArrayView(&raw, 1));
            for (QChar ch : decoded)
                textUnit(ch.unicode());
            return;
        }
        char16_t unit = b >= 0xA0 ? char16_t(b) : Cp1252High[b - 0x80];
        if (unit == 0) {
            problem(offset, QStringLiteral("byte 0x%1 has no character in code page 1252")
                                .arg(int(b), 2, 16, QLatin1Char('0')));
            unit = 0xFFFD;
        }
        textUnit(unit);
    }

    // Characters QTextDocument reserves for its own structure never come from the input.
    static char16_t safeUnit(char16_t u) {
        switch (u) {
        case 0x2029:
        case 0xFDD0:
        case 0xFDD1:
        case 0xFFFC:
            return 0xFFFD;
        default:
            return u;
        }
    }

    void textUnit(char16_t unit) {
        if (group().destination != Destination::Text)
            return;
        if (unit < 0x20 && unit != u'\t')
            return;
        unit = safeUnit(unit);
        if (QChar::isHighSurrogate(unit)) {
            dropLoneSurrogate();
            mHighSurrogate = unit;
            return;
        }
        if (QChar::isLowSurrogate(unit)) {
            if (mHighSurrogate == 0) {
                append(0xFFFD);
                return;
            }
            append(mHighSurrogate);
            mHighSurrogate = 0;
            append(unit);
            return;
        }
        dropLoneSurrogate();
        append(unit);
    }

    void dropLoneSurrogate() {
        if (mHighSurrogate != 0) {
            mHighSurrogate = 0;
            append(0xFFFD);
        }
    }

    void append(char16_t unit) {
        const CharState &state = group().chr;
        if (!mPendingText.isEmpty() && !(state == mPendingState))
            flushText();
        if (mPendingText.isEmpty())
            mPendingState = state;
        mPendingText.append(QChar(unit));
    }

    void flushText() {
        if (mPendingText.isEmpty())
            return;
        mCursor.insertText(mPendingText, charFormat(mPendingState));
        mPendingText.clear();
    }

    void paragraph() {
        if (group().destination != Destination::Text)
            return;
        dropLoneSurrogate();
        flushText();
        const QTextBlockFormat format = blockFormat(group().para);
        mCursor.setBlockFormat(format);
        mCursor.insertBlock(format, charFormat(group().chr));
    }

    void finish() {
        if (mOverflow > 0 || mGroups.size() > 1) {
            const std::size_t open = mGroups.size() - 1 + std::size_t(mOverflow);
            problem(mSize,
                    QStringLiteral("%1 group(s) not closed at the end of the input").arg(open));
        }
        // The last paragraph takes the formatting in force where the text ends.
        dropLoneSurrogate();
        flushText();
        const Group &last = mEnded ? mOutermost : mGroups.back();
        mCursor.setBlockFormat(blockFormat(last.para));
        if (mCursor.block().length() <= 1)
            mCursor.setBlockCharFormat(charFormat(last.chr));
        if (mProblemCount > RtfMaxProblems)
            mProblems << QStringLiteral("%1 further problem(s) not listed")
                             .arg(mProblemCount - RtfMaxProblems);
    }

    QTextCharFormat charFormat(const CharState &s) const {
        QTextCharFormat format;
        auto font = mFonts.find(s.font);
        if (font == mFonts.end())
            font = mFonts.find(mDefaultFont);
        if (font != mFonts.end() && !font->second.name.isEmpty()) {
            format.setFontFamilies(familiesFor(font->second.name));
            format.setFontStyleHint(font->second.hint);
        }
        format.setFontPointSize(s.halfPoints / 2.0);
        format.setFontWeight(s.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(s.italic);
        format.setFontUnderline(s.underline);
        format.setFontStrikeOut(s.strike);
        if (s.colour >= 0 && s.colour < int(mColours.size()) && mColours[std::size_t(s.colour)])
            format.setForeground(*mColours[std::size_t(s.colour)]);
        return format;
    }

    static QTextBlockFormat blockFormat(const ParaState &p) {
        QTextBlockFormat format;
        format.setAlignment(p.alignment);
        format.setLeftMargin(twipsToPixelsF(p.leftTwips));
        format.setRightMargin(twipsToPixelsF(p.rightTwips));
        format.setTextIndent(twipsToPixelsF(p.firstLineTwips));
        format.setTopMargin(twipsToPixelsF(p.beforeTwips));
        format.setBottomMargin(twipsToPixelsF(p.afterTwips));
        return format;
    }

    const char *mData;
    qsizetype mSize;
    qsizetype mPos = 0;
    bool mWellFormedStart = false;
    bool mEnded = false;

    std::unique_ptr<QTextDocument> mDocument;
    QTextCursor mCursor;
    QStringList mProblems;
    int mProblemCount = 0;

    std::vector<Group> mGroups; // [0] is the state outside every group
    Group mOutermost;           // the outermost group as it was when it closed
    int mOverflow = 0;          // braces opened beyond the depth limit
    int mSkip = 0;              // \uc fallback characters still to drop

    int mDefaultFont = 0;
    int mCodePage = 1252;
    std::optional<QStringDecoder> mDecoder; // for code pages other than 1252

    std::map<int, FontDef> mFonts;
    bool mFontPending = false;
    int mPendingNumber = 0;
    FontDef mPendingFont;
    QByteArray mPendingName;

    std::vector<std::optional<QColor>> mColours;
    bool mColourPending = false;
    int mRed = 0, mGreen = 0, mBlue = 0;

    QString mPendingText;
    CharState mPendingState;
    char16_t mHighSurrogate = 0;
};

} // namespace

RtfResult readRtf(const QByteArray &rtf) {
    return Reader(rtf).run();
}

} // namespace krv::help
