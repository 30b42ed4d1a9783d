#include "Icons.h"

#include "IconPixels.h"

#include <QImage>
#include <QPixmap>

namespace krv::app {

QIcon applicationIcon() {
    QIcon icon;
    for (const IconPixels &image : windowIconPixels())
        icon.addPixmap(
            QPixmap::fromImage(QImage(reinterpret_cast<const uchar *>(image.pixels), image.size,
                                      image.size, QImage::Format_ARGB32_Premultiplied)));
    return icon;
}

} // namespace krv::app
