#pragma once

#include "SettingsBatch.h"

#include <QString>

#include <vector>

namespace krv::profile {

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
// The file's choices, read whole and checked line by line first: a choice
// line that is not UTF-8 is refused, as is a file over comm::MaxProfileBytes
// or one that is not a regular file. Every refusal names the file (and line).
[[nodiscard]] std::vector<Assignment> readProfile(const QString &path);
// The selection a profile file makes: every setting it does not name is at
// "No Change". Throws before anything is returned, so a caller applies all
// of a good file or nothing.
[[nodiscard]] settings::Selection readProfileSelection(const QString &path);

// What every profile starts with, so that it is known by its content too
// (the desktop's MIME type looks for it).
[[nodiscard]] QString profileFirstLine();

// The selection as a profile: one SETTING=ENTRY line for each setting not at
// "No Change", by label and exact entry text, which "krv520-cli download
// --profile" reads as it is.
[[nodiscard]] QString profileText(const settings::Selection &selection);
// Writes it beside the file and renames it over, so a file is never left
// half written. Throws krv::RuntimeError naming the file when it cannot.
void writeProfile(const QString &path, const settings::Selection &selection);

// A profile with every setting at "No Change" and its entries listed above
// it, ready to be edited.
[[nodiscard]] QString profileTemplate();
// Writes the template; refuses to replace an existing file unless `overwrite`.
void writeProfileTemplate(const QString &path, bool overwrite);

// An entry as a profile writes it: quoted when blanks at its ends matter.
[[nodiscard]] QString profileValue(const QString &entry);

} // namespace krv::profile
