#include "RtfTables.h"

#include <algorithm>

namespace krv::help {

void RtfTables::fontWord(const RtfToken &t) {
    const std::string_view w = t.text;
    if (w == "f") {
        commitFont();
        mFontPending = true;
        mPendingNumber = t.param;
        mPendingFont = RtfFont{};
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

void RtfTables::colourWord(const RtfToken &t) {
    const std::string_view w = t.text;
    int *channel = w == "red" ? &mRed : w == "green" ? &mGreen : w == "blue" ? &mBlue : nullptr;
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
