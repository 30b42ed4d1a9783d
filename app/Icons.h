#pragma once

#include <QIcon>

namespace krv::app {

// The product's icon for the window: the artwork's transparent images from
// 16 to 64 px, so the desktop and scaled screens pick a drawn size.
[[nodiscard]] QIcon applicationIcon();

} // namespace krv::app
