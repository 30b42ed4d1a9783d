#include "RtfDocumentWriter.h"

#include "Twips.h"

#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>

namespace krv::help {
namespace {

constexpr std::size_t MaxColours = 1024; // bounds memory on hostile input

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

// Characters QTextDocument reserves for its own structure never come from the input.
char16_t safeUnit(char16_t u) {
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

QTextBlockFormat blockFormat(const RtfParaState &p) {
    QTextBlockFormat format;
    format.setAlignment(p.alignment);
    format.setLeftMargin(twipsToPixelsF(p.leftTwips));
    format.setRightMargin(twipsToPixelsF(p.rightTwips));
    format.setTextIndent(twipsToPixelsF(p.firstLineTwips));
    format.setTopMargin(twipsToPixelsF(p.beforeTwips));
    format.setBottomMargin(twipsToPixelsF(p.afterTwips));
    return format;
}

} // namespace

RtfDocumentWriter::RtfDocumentWriter()
    : mDocument(std::make_unique<QTextDocument>()), mCursor(mDocument.get()) {}

void RtfDocumentWriter::defineFont(int number, RtfFont font) {
    mFonts[number] = std::move(font);
}

void RtfDocumentWriter::addColour(std::optional<QColor> colour) {
    if (mColours.size() < MaxColours)
        mColours.push_back(colour);
}

void RtfDocumentWriter::text(char16_t unit, const RtfCharState &state) {
    if (unit < 0x20 && unit != u'\t')
        return;
    unit = safeUnit(unit);
    if (QChar::isHighSurrogate(unit)) {
        dropLoneSurrogate(state);
        mHighSurrogate = unit;
        return;
    }
    if (QChar::isLowSurrogate(unit)) {
        if (mHighSurrogate == 0) {
            append(0xFFFD, state);
            return;
        }
        append(mHighSurrogate, state);
        mHighSurrogate = 0;
        append(unit, state);
        return;
    }
    dropLoneSurrogate(state);
    append(unit, state);
}

void RtfDocumentWriter::plainText(std::string_view ascii, const RtfCharState &state) {
    dropLoneSurrogate(state);
    if (!mPendingText.isEmpty() && !(state == mPendingState))
        flushText();
    if (mPendingText.isEmpty())
        mPendingState = state;
    mPendingText.append(QLatin1String(ascii.data(), qsizetype(ascii.size())));
}

// A high surrogate with no low one after it is shown as a replacement character.
void RtfDocumentWriter::dropLoneSurrogate(const RtfCharState &state) {
    if (mHighSurrogate != 0) {
        mHighSurrogate = 0;
        append(0xFFFD, state);
    }
}

void RtfDocumentWriter::append(char16_t unit, const RtfCharState &state) {
    if (!mPendingText.isEmpty() && !(state == mPendingState))
        flushText();
    if (mPendingText.isEmpty())
        mPendingState = state;
    mPendingText.append(QChar(unit));
}

void RtfDocumentWriter::flushText() {
    if (mPendingText.isEmpty())
        return;
    mCursor.insertText(mPendingText, charFormat(mPendingState));
    mPendingText.clear();
}

void RtfDocumentWriter::paragraph(const RtfParaState &para, const RtfCharState &chr) {
    dropLoneSurrogate(chr);
    flushText();
    const QTextBlockFormat format = blockFormat(para);
    mCursor.setBlockFormat(format);
    mCursor.insertBlock(format, charFormat(chr));
}

void RtfDocumentWriter::finish(const RtfCharState &textState, const RtfParaState &para,
                               const RtfCharState &chr) {
    dropLoneSurrogate(textState);
    flushText();
    mCursor.setBlockFormat(blockFormat(para));
    if (mCursor.block().length() <= 1)
        mCursor.setBlockCharFormat(charFormat(chr));
}

QTextCharFormat RtfDocumentWriter::charFormat(const RtfCharState &s) const {
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

} // namespace krv::help
