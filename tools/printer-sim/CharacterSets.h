#pragma once

#include <QString>

#include <array>
#include <optional>

namespace krv::sim {

// The twelve ASCII positions an international character set replaces, in
// this order.
inline constexpr std::array<unsigned char, 12> NationalPositions = {
    0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};

using NationalCharacters = std::array<char32_t, 12>;

// The characters the set named `entry` (the catalogue's entry text, "USA",
// "Germany", ...) prints at NationalPositions, or nothing when the simulator
// does not know that set.
[[nodiscard]] std::optional<NationalCharacters> nationalCharacters(const QString &entry);

} // namespace krv::sim
