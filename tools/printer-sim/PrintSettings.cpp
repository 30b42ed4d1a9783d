#include "PrintSettings.h"

#include "Catalogue.h"
#include "CharacterSets.h"
#include "MemorySwitches.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace krv::sim {
namespace {

constexpr int DotsPerMm = 8; // 203 dpi
constexpr double Dpi = 203.0;

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

const settings::Setting &setting(std::string_view comboName) {
    return *settings::findSetting(comboName);
}

// The entry text of the setting `comboName` the switches hold, or an empty
// text when none; `bits` then says what the switch holds.
QString heldText(const std::array<std::uint16_t, 16> &values, std::string_view comboName,
                 QString *bits = nullptr) {
    const settings::Setting &s = setting(comboName);
    const std::uint16_t value = values[std::size_t(s.switchNumber)];
    const int entry = entryFor(s, value, value); // the entry the switch holds
    if (bits)
        *bits = QStringLiteral("switch %1 bits %2")
                    .arg(QString::number(s.switchNumber, 16).toUpper())
                    .arg(QString::number(value & s.mask, 16).toUpper().rightJustified(4, u'0'));
    return entry > 0 ? text(s.entries[std::size_t(entry)].text) : QString();
}

// The number an entry starts with: 12 for "12 dot", 50.8 for "50.8mm".
double leadingNumber(const QString &entry) {
    static const QRegularExpression number(QStringLiteral("^\\d+(\\.\\d+)?"));
    return number.match(entry).captured().toDouble();
}

void applyCodePage(PrintSettings &p, const std::array<std::uint16_t, 16> &values) {
    QString bits;
    p.codePage = heldText(values, "cmbCPage", &bits);
    // "Normal" is the printer's built-in table, code page 437.
    const int number = p.codePage == QLatin1String("Normal") ? 437 : int(leadingNumber(p.codePage));
    std::optional<UpperHalf> half;
    if (const char *name = iconvNameForCodePage(number))
        half = upperHalfFromIconv(name);
    if (half) {
        std::copy(half->begin(), half->end(), p.characters.begin() + 0x80);
        return;
    }
    std::fill(p.characters.begin() + 0x80, p.characters.end(), PrintSettings::Unknown);
    p.notes += p.codePage.isEmpty()
                   ? QStringLiteral("code page of %1 is listed by no entry; bytes 128-255 are "
                                    "drawn as substitute marks")
                         .arg(bits)
                   : QStringLiteral("code page %1 is not known to the simulator; bytes 128-255 "
                                    "are drawn as substitute marks")
                         .arg(p.codePage);
}

void applyCharacterSet(PrintSettings &p, const std::array<std::uint16_t, 16> &values) {
    p.characterSet = heldText(values, "cmbIntCSet");
    const auto national = nationalCharacters(p.characterSet);
    if (!national) {
        p.notes += QStringLiteral("international character set %1 is not known to the "
                                  "simulator; drawn as USA")
                       .arg(p.characterSet);
        return;
    }
    for (std::size_t i = 0; i < NationalPositions.size(); ++i)
        p.characters[NationalPositions[i]] = (*national)[i];
}

void applyGeometry(PrintSettings &p, const std::array<std::uint16_t, 16> &values) {
    QString bits;
    const QString width = heldText(values, "cmbPWidth", &bits);
    if (width.isEmpty())
        p.notes +=
            QStringLiteral("print width of %1 is listed by no entry; drawn at 72mm").arg(bits);
    else
        p.paperWidth = int(std::floor(leadingNumber(width) * DotsPerMm));

    p.slashedZero = heldText(values, "cmbZStyle") == QLatin1String("Slashed");
    p.lineSpacing = int(leadingNumber(heldText(values, "cmbLSpacing"))) * DotsPerMm;

    // The large font is font A of a 180 dpi printer drawn at 203 dpi: 12 x 24
    // dots there are 14 x 27 here.
    const QString font = heldText(values, "cmbEPFontSize");
    static const QRegularExpression dpi(QStringLiteral("(\\d+)dpi"));
    if (const auto match = dpi.match(font); match.hasMatch()) {
        const double scale = Dpi / match.captured(1).toDouble();
        p.cellWidth = int(std::lround(12 * scale));
        p.cellHeight = int(std::lround(24 * scale));
    }
    const int spacing = int(leadingNumber(heldText(values, "cmbCSpacing")));
    const int extra = int(leadingNumber(heldText(values, "cmbEPSpacing")));
    p.pitch = std::max(spacing, p.cellWidth) + extra;
}

} // namespace

PrintSettings PrintSettings::defaults() {
    return fromValues({});
}

PrintSettings PrintSettings::fromValues(const std::array<std::uint16_t, 16> &values) {
    PrintSettings p;
    for (int c = 0x20; c < 0x7F; ++c)
        p.characters[std::size_t(c)] = char32_t(c);
    applyCodePage(p, values);
    applyCharacterSet(p, values);
    applyGeometry(p, values);
    return p;
}

} // namespace krv::sim
