#pragma once

#include "CodePages.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace krv::sim {

// What the stored memory switches make of printed text, read through the
// settings catalogue: the character each byte prints as and the geometry of
// the page in dots (203 dpi, 8 dots per mm).
//
// Speed, density, the form-feed and CR actions, the buffer, the sensors and
// the port signal change nothing on the page and are not held here.
struct PrintSettings {
    // A byte the code page leaves undefined prints as a hollow box; a byte of
    // a code page the simulator does not know as this mark.
    static constexpr char32_t NoCharacter = 0;
    static constexpr char32_t Unknown = 0xFFFD;

    std::array<char32_t, 256> characters{}; // by byte; below 0x20 unused
    bool slashedZero = false;
    int paperWidth = 576; // dots: 72 mm, or 406 for 50.8 mm
    int pitch = 12;       // dots from one character to the next at 1x
    int lineSpacing = 32; // dots: 4 mm, or 24 for 3 mm
    int cellWidth = 12;   // the font A cell at 1x
    int cellHeight = 24;
    QString codePage; // entry texts, for the report
    QString characterSet;
    QStringList notes; // what the simulator cannot draw, one line each

    // The settings of the printer's defaults (every switch 0).
    [[nodiscard]] static PrintSettings defaults();
    // The settings the sixteen switch values select.
    [[nodiscard]] static PrintSettings fromValues(const std::array<std::uint16_t, 16> &values);
};

} // namespace krv::sim
