#pragma once

#include "SettingsBatch.h"
#include "Tokens.h"

namespace krv::bench {

// For every setting the entry that sends the most commands: the longest
// download an operator can ask for.
inline settings::Selection longestSelection() {
    settings::Selection selection{};
    for (std::size_t i = 0; i < settings::SettingCount; ++i) {
        const settings::Setting &setting = settings::catalogue()[i];
        std::size_t most = 0;
        for (std::size_t entry = 0; entry < setting.entries.size(); ++entry) {
            const std::size_t count = settings::tokensFor(setting, std::int16_t(entry)).size();
            if (count > most) {
                most = count;
                selection[i] = std::int16_t(entry);
            }
        }
    }
    return selection;
}

} // namespace krv::bench
