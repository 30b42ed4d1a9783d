#include "RtfTables.h"

#include <algorithm>

namespace krv::help {

void RtfTables::fontWord(RtfWord w, const RtfToken &t) {
    switch (w) {
    case RtfWord::Font:
        commitFont();
        mFontPending = true;
        mPendingNumber = t.param;
        mPendingFont = RtfFont{};
        mPendingName.clear();
        break;
    case RtfWord::FamilySwiss:
        mPendingFont.hint = QFont::SansSerif;
        break;
    case RtfWord::FamilyRoman:
        mPendingFont.hint = QFont::Serif;
        break;
    case RtfWord::FamilyModern:
        mPendingFont.hint = QFont::TypeWriter;
        break;
    case RtfWord::FamilyScript:
        mPendingFont.hint = QFont::Cursive;
        break;
    case RtfWord::FamilyDecor:
        mPendingFont.hint = QFont::Decorative;
        break;
    default:
        break;
    }
}

void RtfTables::fontByte(unsigned char b) {
    if (!mFontPending)
        return;
    if (b == ';') {
        commitFont();
        return;
    }
    if (b >= 0x20 && mPendingName.size() < 256)
        mPendingName.append(char(b));
}

void RtfTables::commitFont() {
    if (!mFontPending)
        return;
    mFontPending = false;
    mPendingFont.name = QString::fromLatin1(mPendingName).trimmed();
    mWriter.defineFont(mPendingNumber, mPendingFont);
}

void RtfTables::startColourTable() {
    mWriter.clearColours();
    mColourPending = false;
}

void RtfTables::colourWord(RtfWord w, const RtfToken &t) {
    int *channel = w == RtfWord::Red     ? &mRed
                   : w == RtfWord::Green ? &mGreen
                   : w == RtfWord::Blue  ? &mBlue
                                         : nullptr;
    if (!channel)
        return;
    if (t.param < 0 || t.param > 255)
        mProblems.add(t.offset, QStringLiteral("colour component %1 out of range").arg(t.param));
    *channel = std::clamp(t.param, 0, 255);
    mColourPending = true;
}

void RtfTables::colourByte(unsigned char b) {
    if (b == ';')
        commitColour();
}

void RtfTables::endColourGroup() {
    if (mColourPending)
        commitColour();
}

// An entry without components is the viewer's default colour.
void RtfTables::commitColour() {
    mWriter.addColour(mColourPending ? std::optional<QColor>(QColor(mRed, mGreen, mBlue))
                                     : std::nullopt);
    mColourPending = false;
    mRed = mGreen = mBlue = 0;
}

} // namespace krv::help
