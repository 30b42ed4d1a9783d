// The font and colour table destinations of the RTF reader: \fonttbl entries
// (number, family kind, name up to ';') and \colortbl entries (\red, \green,
// \blue up to ';'), each complete entry handed to the document writer.
#pragma once

#include "RtfDocumentWriter.h"
#include "RtfProblems.h"
#include "RtfTokenizer.h"
#include "RtfWords.h"

#include <QByteArray>

namespace krv::help {

class RtfTables {
public:
    RtfTables(RtfDocumentWriter &writer, RtfProblems &problems)
        : mWriter(writer), mProblems(problems) {}

    void startFontTable() { mFontPending = false; }
    void fontWord(RtfWord w, const RtfToken &t);
    void fontByte(unsigned char b);
    // An entry whose ';' is missing still counts when its group closes.
    void endFontGroup() { commitFont(); }

    void startColourTable();
    void colourWord(RtfWord w, const RtfToken &t);
    void colourByte(unsigned char b);
    void endColourGroup();

private:
    void commitFont();
    void commitColour();

    RtfDocumentWriter &mWriter;
    RtfProblems &mProblems;

    bool mFontPending = false;
    int mPendingNumber = 0;
    RtfFont mPendingFont;
    QByteArray mPendingName;

    bool mColourPending = false;
    int mRed = 0, mGreen = 0, mBlue = 0;
};

} // namespace krv::help
