#pragma once

#include <span>

namespace krv::app {

// The window icon's images as premultiplied ARGB pixels, decoded from the
// artwork's PNG files when the program is built (make_icon_pixels.cpp).
struct IconPixels {
    int size; // width and height
    const unsigned int *pixels;
};

[[nodiscard]] std::span<const IconPixels> windowIconPixels();

} // namespace krv::app
