#include "ScaledLogo.h"

#include "LogoPixels.h"

#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace krv::app {

ScaledLogo::ScaledLogo(QWidget *parent) : QLabel(parent) {
    const LogoPixels logo = logoPixels();
    QImage image(logo.pixels, logo.width, logo.height, logo.bytesPerLine, QImage::Format_Indexed8);
    image.setColorTable(QList<QRgb>(logo.colours.begin(), logo.colours.end()));
    setPixmap(QPixmap::fromImage(image, Qt::NoFormatConversion));
    setScaledContents(true);
}

void ScaledLogo::paintEvent(QPaintEvent *event) {
    QPixmap picture = pixmap();
    if (picture.isNull() || !hasScaledContents()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    // Greyed when disabled, as QLabel shows a disabled picture.
    if (!isEnabled()) {
        QStyleOption option;
        option.initFrom(this);
        picture = style()->generatedIconPixmap(QIcon::Disabled, picture, &option);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(contentsRect(), picture);
}

} // namespace krv::app
