#include "Icons.h"

namespace krv::app {

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64})
        icon.addFile(QStringLiteral(":/krv520/icons/krv520-config-%1.png").arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace krv::app
