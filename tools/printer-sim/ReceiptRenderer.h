#pragma once

#include "PrintSettings.h"

#include <QImage>
#include <QRect>

#include <vector>

namespace krv::sim {

struct Event;

// Draws the printable stream of a job as the receipt would come out of a
// printer holding `settings`: the paper is the print width in dots (576 for
// 72 mm at 203 dpi), black dots on white.
//
// Each character stands in a font A cell (12 x 24 dots, or 14 x 27 for the
// large font) and characters follow each other at the settings' pitch
// (character spacing plus extra spacing); lines advance by the line spacing
// (32 dots for 4 mm) or by the tallest character plus 8 dots. ESC "i" wh
// scales cell and pitch: the first digit is the width multiplier minus one,
// the second the height multiplier minus one ("i00" is 1x1, "i12" 2 wide and
// 3 tall). ESC "E"/"F" switch bold on and off; ESC "@" resets size and bold
// and drops the unprinted line. CR returns to the left margin, LF prints the
// line and feeds, ESC "d" n prints the line and feeds n lines. A character
// that does not fit wraps to the next line. Each byte is drawn as the
// character the settings give it; one without a character as a hollow box.
//
// The glyphs come from DejaVu Sans Mono (DejaVu Sans where it has none),
// loaded by path so that a receipt is the same dot for dot wherever it is
// drawn. Text is drawn with QPainter, which needs a QGuiApplication (the
// offscreen platform is enough).
class ReceiptRenderer {
public:
    // About 2.5 m of paper; a job that feeds further is cut off there.
    static constexpr int MaxHeight = 20000;

    ReceiptRenderer() : ReceiptRenderer(PrintSettings::defaults()) {}
    explicit ReceiptRenderer(PrintSettings settings);

    // Events other than the printable stream's (switch commands) are ignored.
    void apply(const Event &event);

    // Prints what is left in the line and returns the receipt (8-bit grey,
    // only black and white). Null when nothing was printed or fed.
    [[nodiscard]] QImage finish();

    [[nodiscard]] bool truncated() const { return mTruncated; }
    [[nodiscard]] const PrintSettings &settings() const { return mSettings; }

    // How many of the characters the settings give bytes have a glyph in
    // neither face; they are drawn as hollow boxes.
    [[nodiscard]] int charactersWithoutGlyph() const;

    // Where each printed byte's cell lies on the receipt returned by finish().
    struct Cell {
        QRect rect;
        unsigned char code;
    };
    [[nodiscard]] std::vector<Cell> cells() const;

private:
    struct Glyph {
        int x;
        unsigned char code;
        bool bold;
        int width, height;
    };

    void putCharacter(unsigned char code);
    void printLine();
    void feed(int dots);

    PrintSettings mSettings;
    std::vector<Glyph> mLine;
    struct Placed {
        int y; // the bottom of the cell
        Glyph glyph;
    };
    std::vector<Placed> mPlaced;
    int mX = 0;
    int mY = 0; // top of the next line
    int mWidth = 1, mHeight = 1;
    bool mBold = false;
    bool mTruncated = false;
    bool mAnything = false;
};

[[nodiscard]] QImage renderReceipt(const std::vector<Event> &events,
                                   const PrintSettings &settings = PrintSettings::defaults());

} // namespace krv::sim
