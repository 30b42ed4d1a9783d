#pragma once

#include <span>

namespace krv::app {

// The logo as its palette and one byte per pixel, read from the artwork's
// GIF file when the program is built (make_logo_pixels.cpp).
struct LogoPixels {
    int width;
    int height;
    int bytesPerLine; // rows start on 4-byte boundaries, as QImage wants
    std::span<const unsigned int> colours;
    const unsigned char *pixels;
};

[[nodiscard]] LogoPixels logoPixels();

} // namespace krv::app
