// The control words of the RTF reader's destination layer that only change
// the current group's character or paragraph formatting.
#pragma once

#include "RtfDocumentWriter.h"
#include "RtfTokenizer.h"
#include "RtfWords.h"

namespace krv::help {

// Applies `t`, the word `w`, to the states if it is one of those words;
// false otherwise.
bool applyFormatting(RtfWord w, const RtfToken &t, RtfCharState &c, RtfParaState &p);

} // namespace krv::help
