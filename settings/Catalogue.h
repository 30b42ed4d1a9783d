#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace krv::settings {

enum class Page { General, Characters };

// How a setting turns its selected index into memory-switch tokens.
enum class Encoding {
    Fixed,                // each entry lists its own tokens
    InternationalCharSet, // "#-1000F", then "#+1000" and the digit of index - 1
    CodePage,             // "#-3FF00", then "#+3", CodePageHex padded to two digits, "00"
};

// One drop-down entry; `tokens` is used by fixed settings only, in send order.
struct Entry {
    std::string_view text;
    std::array<std::string_view, 2> tokens{};
};

struct Setting {
    std::string_view comboName; // e.g. "cmbFFAction"
    std::string_view caption;   // the label beside the list, e.g. "Action on Form Feed:"
    Page page;
    int helpTopic; // index into HelpTopics and of the row's Help button
    int switchNumber;
    std::uint16_t mask; // the bits of the switch this setting owns
    Encoding encoding;
    std::span<const Entry> entries; // entry 0 is always "No Change"
};

inline constexpr std::size_t SettingCount = 16;

// The sixteen settings in the order Download Settings visits them: the
// "General" page top to bottom, then the "Characters" page top to bottom.
[[nodiscard]] const std::array<Setting, SettingCount> &catalogue();

// The setting whose combo box is named `comboName`, or nullptr.
[[nodiscard]] const Setting *findSetting(std::string_view comboName);

[[nodiscard]] std::string_view pageTitle(Page page);

} // namespace krv::settings
