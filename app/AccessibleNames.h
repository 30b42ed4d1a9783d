#pragma once

namespace krv::app {

// Lets a list with an accessible name keep it: on Linux Qt names every list
// by its current entry, so a screen reader heard "No Change" sixteen times
// and never which setting it was on. Such a list now reads "Print Speed",
// with the entry as its value; a list without a name still reads its entry.
void installAccessibleListNames();

} // namespace krv::app
