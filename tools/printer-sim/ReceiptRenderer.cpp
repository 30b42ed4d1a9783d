#include "ReceiptRenderer.h"

#include "Decoder.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace krv::sim {
namespace {

constexpr int TopMargin = 16;
constexpr int BottomMargin = 16;
constexpr int LineGap = 8; // between a tall line and the next

bool hasGlyph(unsigned char code) {
    return code >= 32 && (code < 127 || code > 159);
}

QFont cellFont(bool bold) {
    // DejaVu Sans Mono at 20 px advances 12 px, one font-A cell.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(20);
    font.setBold(bold);
    font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace

void ReceiptRenderer::apply(const Event &event) {
    switch (event.kind) {
    case Event::Kind::Text:
        for (char c : event.text)
            putCharacter(static_cast<unsigned char>(c));
        break;
    case Event::Kind::Reset:
        mLine.clear();
        mX = 0;
        mWidth = mHeight = 1;
        mBold = false;
        break;
    case Event::Kind::Size:
        mWidth = event.width;
        mHeight = event.height;
        break;
    case Event::Kind::BoldOn:
        mBold = true;
        break;
    case Event::Kind::BoldOff:
        mBold = false;
        break;
    case Event::Kind::Feed:
        printLine();
        feed(event.lines * LineSpacing);
        break;
    case Event::Kind::Return:
        mX = 0;
        break;
    case Event::Kind::LineFeed:
        printLine();
        break;
    case Event::Kind::Switch:
        break;
    }
}

void ReceiptRenderer::putCharacter(unsigned char code) {
    const int w = CellWidth * mWidth;
    if (mX + w > Width && mX > 0)
        printLine();
    mLine.push_back({mX, code, mBold, mWidth, mHeight});
    mX += w;
}

// Prints the pending characters on one line whose height is that of its
// tallest character, and moves to the next line.
void ReceiptRenderer::printLine() {
    mAnything = true;
    int tallest = 1;
    for (const Glyph &g : mLine)
        tallest = std::max(tallest, g.height);
    const int cellBottom = mY + CellHeight * tallest;
    for (const Glyph &g : mLine) {
        if (cellBottom <= MaxHeight)
            mPlaced.push_back({cellBottom, g});
    }
    mLine.clear();
    mX = 0;
    feed(tallest == 1 ? LineSpacing : CellHeight * tallest + LineGap);
}

void ReceiptRenderer::feed(int dots) {
    mAnything = true;
    mY = std::min(mY + dots, MaxHeight);
    if (mY >= MaxHeight)
        mTruncated = true;
}

QImage ReceiptRenderer::finish() {
    if (!mLine.empty())
        printLine();
    if (!mAnything)
        return {};
    QImage image(Width, TopMargin + mY + BottomMargin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    const QFont regular = cellFont(false);
    const QFont bold = cellFont(true);
    for (const Placed &p : mPlaced) {
        const Glyph &g = p.glyph;
        painter.save();
        // Scale a 1x1 cell whose bottom-left corner is the origin.
        painter.translate(g.x, TopMargin + p.y);
        painter.scale(g.width, g.height);
        if (hasGlyph(g.code)) {
            painter.setFont(g.bold ? bold : regular);
            // The descent of DejaVu at 20 px is about 5 px: leave it inside the cell.
            painter.drawText(QPointF(0, -5), QString(QChar(g.code)));
        } else {
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(2, -CellHeight + 4, CellWidth - 4, CellHeight - 8));
        }
        painter.restore();
    }
    painter.end();
    return image;
}

QImage renderReceipt(const std::vector<Event> &events) {
    ReceiptRenderer renderer;
    for (const Event &event : events)
        renderer.apply(event);
    return renderer.finish();
}

} // namespace krv::sim
