#pragma once

#include <QLabel>

namespace krv::app {

// The logo: a label with scaled contents that draws its picture stretched
// over its box as it paints. A plain QLabel keeps a full-colour copy of the
// picture and a scaled copy beside the pixmap; this one keeps only the
// pixmap, in the logo's own 256 colours.
class ScaledLogo : public QLabel {
public:
    explicit ScaledLogo(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace krv::app
