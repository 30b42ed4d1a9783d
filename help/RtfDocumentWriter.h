// The last layer of the RTF reader: what becomes the QTextDocument. It takes
// characters with the character state they are shown in, paragraph ends with
// their paragraph state, and the document's font and colour tables, and knows
// nothing of RTF syntax. A run of text keeps its state as numbers into the
// tables and becomes a QTextCharFormat only when the run ends, from the tables
// as they are then.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>

#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace krv::help {

inline constexpr int RtfDefaultHalfPoints = 24;

struct RtfCharState {
    int font = 0; // number in the font table
    int halfPoints = RtfDefaultHalfPoints;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int colour = 0; // index in the colour table
    bool operator==(const RtfCharState &) const = default;
};

struct RtfParaState {
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftTwips = 0;
    int rightTwips = 0;
    int firstLineTwips = 0;
    int beforeTwips = 0;
    int afterTwips = 0;
};

struct RtfFont {
    QString name;
    QFont::StyleHint hint = QFont::AnyStyle;
};

class RtfDocumentWriter {
public:
    RtfDocumentWriter();

    void defineFont(int number, RtfFont font);
    [[nodiscard]] bool hasFonts() const { return !mFonts.empty(); }
    [[nodiscard]] bool hasFont(int number) const { return mFonts.count(number) != 0; }
    // The font of a state whose font number is not in the table.
    void setDefaultFont(int number) { mDefaultFont = number; }
    [[nodiscard]] int defaultFont() const { return mDefaultFont; }

    void clearColours() { mColours.clear(); }
    // An entry without a colour stands for the viewer's default colour.
    void addColour(std::optional<QColor> colour);
    [[nodiscard]] int colourCount() const { return int(mColours.size()); }

    void text(char16_t unit, const RtfCharState &state);
    // Printable ASCII and tabs only, which text() would take unchanged.
    void plainText(std::string_view ascii, const RtfCharState &state);
    void paragraph(const RtfParaState &para, const RtfCharState &chr);
    // `textState` is the state where the input ended; the last paragraph
    // takes `para` and `chr`, the formatting in force where the text ended.
    void finish(const RtfCharState &textState, const RtfParaState &para, const RtfCharState &chr);
    [[nodiscard]] std::unique_ptr<QTextDocument> takeDocument() { return std::move(mDocument); }

private:
    void dropLoneSurrogate(const RtfCharState &state);
    void append(char16_t unit, const RtfCharState &state);
    void flushText();
    [[nodiscard]] QTextCharFormat charFormat(const RtfCharState &s) const;

    std::unique_ptr<QTextDocument> mDocument;
    QTextCursor mCursor;

    std::map<int, RtfFont> mFonts;
    int mDefaultFont = 0;
    std::vector<std::optional<QColor>> mColours;

    QString mPendingText;
    RtfCharState mPendingState;
    char16_t mHighSurrogate = 0;
};

} // namespace krv::help
