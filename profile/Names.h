#pragma once

#include "Catalogue.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace krv::profile {

// The name a profile uses for a setting: its label without the colon.
[[nodiscard]] QString settingKey(const settings::Setting &setting);
[[nodiscard]] QString caption(const settings::Setting &setting);
[[nodiscard]] QString comboName(const settings::Setting &setting);
[[nodiscard]] QString entryText(const settings::Setting &setting, std::size_t index);
// Position of the setting in the catalogue, i.e. in a settings::Selection.
[[nodiscard]] std::size_t positionOf(const settings::Setting &setting);

// A setting named by its label (with or without the colon) or by its list
// name, in any letter case. Throws krv::RuntimeError naming the closest
// settings when there is none.
[[nodiscard]] const settings::Setting &resolveSetting(const QString &name);

// An entry named by its exact text or by its index. Throws krv::RuntimeError
// naming the closest entries when there is none.
[[nodiscard]] std::int16_t resolveEntry(const settings::Setting &setting, const QString &entry);

// The settings (as "Label: (listName)") and entries (as "index "text"") that
// come nearest to what was typed, best first.
[[nodiscard]] QStringList closestSettings(const QString &name, int count = 3);
[[nodiscard]] QStringList closestEntries(const settings::Setting &setting, const QString &entry,
                                         int count = 3);

// Levenshtein distance, ignoring letter case.
[[nodiscard]] int editDistance(const QString &a, const QString &b);

} // namespace krv::profile
