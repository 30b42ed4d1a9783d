#pragma once

#include <QRect>
#include <QSize>

namespace krv {

// The window was designed in twips (1/1440 inch); 15 of them make one
// device-independent pixel, which Qt scales for high-density screens.
inline constexpr int TwipsPerPixel = 15;

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

// For lengths that need not fall on whole pixels (paragraph indents).
[[nodiscard]] constexpr double twipsToPixelsF(int twips) {
    return double(twips) / TwipsPerPixel;
}

[[nodiscard]] constexpr int twipsToPixels(int twips) {
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

[[nodiscard]] inline QRect toPixels(const TwipsRect &r) {
    return {twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width),
            twipsToPixels(r.height)};
}

[[nodiscard]] inline QSize toPixels(int widthTwips, int heightTwips) {
    return {twipsToPixels(widthTwips), twipsToPixels(heightTwips)};
}

} // namespace krv
