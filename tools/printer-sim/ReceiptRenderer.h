#pragma once

#include <QImage>

#include <vector>

namespace krv::sim {

struct Event;

// Draws the printable stream of a job as the receipt would come out: 576 dots
// wide (72 mm at 203 dpi), black on white.
//
// The character cell is 12 x 24 dots (font A, 48 columns) and lines advance by
// 32 dots (4 mm) or by the tallest character plus 8 dots. ESC "i" wh scales the
// cell: the first digit is the width multiplier minus one, the second the
// height multiplier minus one ("i00" is 1x1, "i12" 2 wide and 3 tall).
// ESC "E"/"F" switch bold on and off; ESC "@" resets size and bold and drops
// the unprinted line. CR returns to the left margin, LF prints the line and
// feeds, ESC "d" n prints the line and feeds n lines. A character that does
// not fit wraps to the next line. Bytes 128-255 are drawn as Latin-1; those
// without a glyph there (127-159) as a hollow box.
//
// Text is drawn with QPainter, which needs a QGuiApplication (the offscreen
// platform is enough).
class ReceiptRenderer {
public:
    static constexpr int Width = 576;
    static constexpr int CellWidth = 12;
    static constexpr int CellHeight = 24;
    static constexpr int LineSpacing = 32;
    // About 2.5 m of paper; a job that feeds further is cut off there.
    static constexpr int MaxHeight = 20000;

    // Events other than the printable stream's (switch commands) are ignored.
    void apply(const Event &event);

    // Prints what is left in the line and returns the receipt. Null when
    // nothing was printed or fed.
    [[nodiscard]] QImage finish();

    [[nodiscard]] bool truncated() const { return mTruncated; }

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

    std::vector<Glyph> mLine;
    struct Placed {
        int y; // baseline of the bottom of the cell
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

[[nodiscard]] QImage renderReceipt(const std::vector<Event> &events);

} // namespace krv::sim
