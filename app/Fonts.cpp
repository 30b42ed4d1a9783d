#include "Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace krv::app {
namespace {
const QString MsSansSerif = QStringLiteral("MS Sans Serif");

const QStringList &standIns() {
    static const QStringList families = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                         QStringLiteral("DejaVu Sans")};
    return families;
}

// The family the window's text is drawn in: "MS Sans Serif" where it is
// installed, else the first stand-in that is, as the substitution would
// choose. Naming it outright spares the font system, for every size and
// weight, a search for a missing family and a sorted list of all installed
// fonts (fontconfig's slowest call) to fall back on.
const QString &windowFamily() {
    static const QString family = [] {
        if (QFontDatabase::hasFamily(MsSansSerif))
            return MsSansSerif;
        for (const QString &standIn : standIns())
            if (QFontDatabase::hasFamily(standIn))
                return standIn;
        return MsSansSerif; // the font system's own fallback then
    }();
    return family;
}
} // namespace

void installFontSubstitutes() {
    QFont::insertSubstitutions(MsSansSerif, standIns());
}

QFont msSansSerif(double pointSize, bool bold) {
    QFont font(windowFamily());
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont dialogFont() {
    return msSansSerif(8.25, false);
}

} // namespace krv::app
