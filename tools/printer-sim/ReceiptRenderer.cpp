#include "ReceiptRenderer.h"

#include "Decoder.h"

#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>

#include <algorithm>
#include <utility>

namespace krv::sim {
namespace {

constexpr int TopMargin = 16;
constexpr int BottomMargin = 16;
constexpr int LineGap = 8; // between a tall line and the next

// Glyphs are drawn into a 12 x 24 cell and scaled to the real one. DejaVu
// Sans Mono at 20 px advances 12 px; its descent of about 5 px stays inside.
constexpr int DesignWidth = 12;
constexpr int DesignHeight = 24;
constexpr qreal PixelSize = 20;
constexpr qreal Baseline = -5;

constexpr auto FontDir = "/usr/share/fonts/truetype/dejavu/";

QRawFont loadFont(const char *file) {
    return QRawFont(QString::fromLatin1(FontDir) + QLatin1String(file), PixelSize,
                    QFont::PreferNoHinting);
}

struct Fonts {
    // The monospaced face first; the proportional one has more scripts.
    QRawFont faces[2][2] = {
        {loadFont("DejaVuSansMono.ttf"), loadFont("DejaVuSans.ttf")},
        {loadFont("DejaVuSansMono-Bold.ttf"), loadFont("DejaVuSans-Bold.ttf")},
    };
};

// The glyph of `c` in `font`, or nothing (an empty list).
QList<quint32> glyphOf(const QRawFont &font, char32_t c) {
    if (!font.isValid())
        return {};
    const QList<quint32> glyphs = font.glyphIndexesForString(QString::fromUcs4(&c, 1));
    return glyphs.size() == 1 && glyphs[0] != 0 ? glyphs : QList<quint32>();
}

// Draws `c` with its origin at the bottom-left of a design cell. False when
// neither face has the character.
bool drawCharacter(QPainter &painter, const Fonts &fonts, bool bold, char32_t c) {
    for (const QRawFont &font : fonts.faces[bold ? 1 : 0]) {
        const QList<quint32> glyphs = glyphOf(font, c);
        if (glyphs.isEmpty())
            continue;
        const qreal advance = font.advancesForGlyphIndexes(glyphs).value(0).x();
        painter.save();
        // A wider proportional glyph is narrowed into the cell.
        if (advance > DesignWidth)
            painter.scale(DesignWidth / advance, 1);
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes(glyphs);
        const qreal left = advance < DesignWidth ? (DesignWidth - advance) / 2 : 0;
        run.setPositions({QPointF(left, Baseline)});
        painter.drawGlyphRun(QPointF(0, 0), run);
        painter.restore();
        return true;
    }
    return false;
}

void drawHollowBox(QPainter &painter) {
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(2, -DesignHeight + 4, DesignWidth - 4, DesignHeight - 8));
}

// The stroke through the zero, corner to corner of its oval.
void drawSlash(QPainter &painter) {
    painter.save();
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(QPointF(2.5, Baseline + 1), QPointF(9.5, Baseline - 16));
    painter.restore();
}

// A thermal head burns a dot or leaves it: grey edges become black or white.
QImage toDots(const QImage &image) {
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        uchar *line = grey.scanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            line[x] = line[x] < 128 ? 0 : 255;
    }
    return grey;
}

} // namespace

ReceiptRenderer::ReceiptRenderer(PrintSettings settings) : mSettings(std::move(settings)) {}

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
        feed(event.lines * mSettings.lineSpacing);
        break;
    case Event::Kind::Return:
        mX = 0;
        break;
    case Event::Kind::LineFeed:
        printLine();
        break;
    case Event::Kind::Switch:
    case Event::Kind::StatusRequest:
        break;
    }
}

void ReceiptRenderer::putCharacter(unsigned char code) {
    const int w = mSettings.pitch * mWidth;
    if (mX + w > mSettings.paperWidth && mX > 0)
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
    const int cellBottom = mY + mSettings.cellHeight * tallest;
    for (const Glyph &g : mLine) {
        if (cellBottom <= MaxHeight)
            mPlaced.push_back({cellBottom, g});
    }
    mLine.clear();
    mX = 0;
    feed(tallest == 1 ? std::max(mSettings.lineSpacing, mSettings.cellHeight)
                      : mSettings.cellHeight * tallest + LineGap);
}

void ReceiptRenderer::feed(int dots) {
    mAnything = true;
    mY = std::min(mY + dots, MaxHeight);
    if (mY >= MaxHeight)
        mTruncated = true;
}

int ReceiptRenderer::charactersWithoutGlyph() const {
    const Fonts fonts;
    int missing = 0;
    for (const char32_t c : mSettings.characters) {
        if (c == PrintSettings::NoCharacter || c == PrintSettings::Unknown)
            continue;
        const auto &faces = fonts.faces[0];
        missing += glyphOf(faces[0], c).isEmpty() && glyphOf(faces[1], c).isEmpty();
    }
    return missing;
}

std::vector<ReceiptRenderer::Cell> ReceiptRenderer::cells() const {
    std::vector<Cell> cells;
    for (const Placed &p : mPlaced) {
        const Glyph &g = p.glyph;
        const int w = mSettings.cellWidth * g.width;
        const int h = mSettings.cellHeight * g.height;
        cells.push_back({QRect(g.x, TopMargin + p.y - h, w, h), g.code});
    }
    return cells;
}

QImage ReceiptRenderer::finish() {
    if (!mLine.empty())
        printLine();
    if (!mAnything)
        return {};
    QImage image(mSettings.paperWidth, TopMargin + mY + BottomMargin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    const Fonts fonts;
    for (const Placed &p : mPlaced) {
        const Glyph &g = p.glyph;
        const char32_t c = mSettings.characters[g.code];
        painter.save();
        // Scale a design cell whose bottom-left corner is the origin.
        painter.translate(g.x, TopMargin + p.y);
        painter.scale(qreal(mSettings.cellWidth * g.width) / DesignWidth,
                      qreal(mSettings.cellHeight * g.height) / DesignHeight);
        if (c == PrintSettings::NoCharacter || !drawCharacter(painter, fonts, g.bold, c))
            drawHollowBox(painter);
        else if (c == U'0' && mSettings.slashedZero)
            drawSlash(painter);
        painter.restore();
    }
    painter.end();
    return toDots(image);
}

QImage renderReceipt(const std::vector<Event> &events, const PrintSettings &settings) {
    ReceiptRenderer renderer(settings);
    for (const Event &event : events)
        renderer.apply(event);
    return renderer.finish();
}

} // namespace krv::sim
