#pragma once

#include "Catalogue.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <string_view>

namespace krv::settings {

// The selected index of each setting's list, in catalogue (visiting) order.
using Selection = std::array<std::int16_t, SettingCount>;

inline constexpr std::string_view ClosingToken = "#W00000";
inline constexpr int SwitchCommandSize = 11;

// One framed memory-switch command: ESC GS token LF NUL (11 bytes).
[[nodiscard]] QByteArray makeSwitchCommand(std::string_view token);

// Every selected entry's commands in visiting order, then the closing
// command. Printer data: it holds NULs, so it always travels with its length.
[[nodiscard]] QByteArray makeSettingsBatch(const Selection &selection);

} // namespace krv::settings
