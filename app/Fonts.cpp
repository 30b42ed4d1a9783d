#include "Fonts.h"

#include <QStringList>

namespace krv::app {
namespace {
const QString MsSansSerif = QStringLiteral("MS Sans Serif");
}

void installFontSubstitutes() {
    const QStringList standIns = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                  QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(MsSansSerif, standIns);
}

QFont msSansSerif(double pointSize, bool bold) {
    QFont font(MsSansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont dialogFont() {
    return msSansSerif(8.25, false);
}

} // namespace krv::app
