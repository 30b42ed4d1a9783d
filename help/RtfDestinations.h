// The middle layer of the RTF reader: what the tokens mean. It keeps the
// group stack, each group's character and paragraph state and destination
// (text, font table, colour table or skipped), turns \'hh and text bytes into
// characters through the code page, drops the fallback characters after \uN,
// and lists the problems it finds, the tokenizer's faults among them. What is
// shown goes to the document writer.
#pragma once

#include "RtfCodePage.h"
#include "RtfDocumentWriter.h"
#include "RtfProblems.h"
#include "RtfTables.h"
#include "RtfTokenizer.h"
#include "RtfWords.h"

#include <QStringList>

#include <string_view>
#include <vector>

namespace krv::help {

class RtfDestinations {
public:
    // `input` is the whole document; only its first bytes are looked at here.
    RtfDestinations(RtfDocumentWriter &writer, std::string_view input);

    void take(const RtfToken &token);
    // True once the outermost group of a well-formed document has closed.
    [[nodiscard]] bool ended() const { return mEnded; }
    // What follows the end, from `offset` on.
    void checkTrailing(std::size_t offset, std::string_view rest);
    // Reports groups left open, hands the last paragraph's formatting to the
    // writer and returns the problems.
    [[nodiscard]] QStringList finish(std::size_t inputSize);

private:
    enum class Destination { Text, FontTable, ColourTable, Skip };

    // What '{' saves and '}' restores.
    struct Group {
        RtfCharState chr;
        RtfParaState para;
        Destination destination = Destination::Text;
        int unicodeSkip = 1; // \uc: fallback characters after each \u
        bool ignorable = false;
    };

    void textRun(std::string_view bytes, std::size_t offset);
    bool consumeFallback();
    void openGroup(std::size_t offset);
    void closeGroup(std::size_t offset);
    void controlSymbol(char c, std::size_t offset);
    void controlWord(const RtfToken &t);
    bool startsDestination(RtfWord word);
    bool textWord(RtfWord word, const RtfToken &t);
    int fontIndex(const RtfToken &t);
    int fontSize(const RtfToken &t);
    int colourIndex(const RtfToken &t);
    void unicode(const RtfToken &t);
    void setCodePage(const RtfToken &t);
    void textByte(unsigned char b, std::size_t offset);
    void textUnit(char16_t unit);
    void paragraph();

    Group &group() { return mGroups.back(); }

    RtfDocumentWriter &mWriter;
    RtfProblems mProblems;
    RtfTables mTables;
    bool mWellFormedStart = false;
    bool mEnded = false;

    std::vector<Group> mGroups; // [0] is the state outside every group
    Group mOutermost;           // the outermost group as it was when it closed
    int mOverflow = 0;          // braces opened beyond the depth limit
    int mSkip = 0;              // \uc fallback characters still to drop
    RtfCodePage mCodePage;
};

} // namespace krv::help
