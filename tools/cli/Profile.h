#pragma once

#include "SettingsBatch.h"

#include <QString>

#include <vector>

namespace krv::cli {

// One SETTING=ENTRY choice and where it came from, for error messages
// ("--set", "shop.profile:12").
struct Assignment {
    QString setting;
    QString entry;
    QString origin;
};

// Splits "SETTING=ENTRY" at its first "=". The entry is kept exactly as
// typed, since some entry texts end in a space. Throws on a missing "=".
[[nodiscard]] Assignment parseAssignment(const QString &text, const QString &origin);

// The selection the assignments make, every other setting at "No Change".
// Throws when a setting or entry is unknown or a setting is chosen twice.
[[nodiscard]] settings::Selection resolveAssignments(const std::vector<Assignment> &assignments);

// The profile's choices overlaid with the command line's: a setting given in
// both takes the command line's entry.
[[nodiscard]] settings::Selection resolveAssignments(const std::vector<Assignment> &profile,
                                                     const std::vector<Assignment> &commandLine);

// Profile text: one SETTING=ENTRY a line; blank lines and lines starting
// with "#" are ignored; blanks around the setting and entry are dropped
// unless the entry is in double quotes. Throws on a line without "=".
[[nodiscard]] std::vector<Assignment> parseProfile(const QString &text, const QString &fileName);
[[nodiscard]] std::vector<Assignment> readProfile(const QString &path);

// A profile with every setting at "No Change" and its entries listed above
// it, ready to be edited.
[[nodiscard]] QString profileTemplate();
// Writes the template; refuses to replace an existing file unless `overwrite`.
void writeProfileTemplate(const QString &path, bool overwrite);

// An entry as a profile writes it: quoted when blanks at its ends matter.
[[nodiscard]] QString profileValue(const QString &entry);

} // namespace krv::cli
