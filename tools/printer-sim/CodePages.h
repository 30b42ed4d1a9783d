#pragma once

#include <array>
#include <optional>

namespace krv::sim {

// The characters of the upper half (0x80-0xFF) of a code page, index 0 being
// byte 0x80. A byte the code page leaves undefined holds 0.
using UpperHalf = std::array<char32_t, 128>;

// The converter name under which glibc's iconv knows the printer's code page
// `number` (437, 858, 1252, ...), or nullptr when the simulator does not draw
// it. Only pages whose printer table and iconv table are the same code page
// are listed; the printer's own national pages (3840-3848, 1001-3041, 928)
// and Katakana are not.
[[nodiscard]] const char *iconvNameForCodePage(int number);

// The upper half of `iconvName` as glibc converts it, byte by byte; nothing
// when iconv cannot open the converter.
[[nodiscard]] std::optional<UpperHalf> upperHalfFromIconv(const char *iconvName);

} // namespace krv::sim
