#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace krv::settings {

struct Setting;

// A memory-switch token: "#", the operation ("+", "-" or "W"), the switch
// digit and the four-digit mask, always 7 characters of uppercase hex.
using Token = std::string;

// The tokens that `selectedIndex` of `setting` sends, in order. "No Change"
// (0), no selection (-1) and any index the setting does not list send none.
[[nodiscard]] std::vector<Token> tokensFor(const Setting &setting, std::int16_t selectedIndex);

// The code-page value of entry `selectedIndex` of the code-page list as
// uppercase hexadecimal without leading zeros ("0", "F", "4F"). Only
// meaningful for entries 1 to 41.
[[nodiscard]] std::string CodePageHex(std::int16_t selectedIndex);

} // namespace krv::settings
