#pragma once

#include <QString>

namespace krv::sim {

class MemorySwitches;

// Stores the switches a list "X=HHHH[,X=HHHH...]" names (X the switch digit,
// HHHH its 16-bit value) as if a download had stored them; the others keep
// their values. False, with the reason in `error`, on a malformed list, which
// then changes nothing.
bool storeSwitchList(MemorySwitches &switches, const QString &list, QString *error);

// Stores what "krv520-cli download --profile FILE" would store: the
// profile's choices are made into a settings batch and applied. False with
// the reason in `error` when the profile cannot be read or names an unknown
// setting or entry.
bool storeProfile(MemorySwitches &switches, const QString &path, QString *error);

} // namespace krv::sim
