#pragma once

#include "SendJob.h"

#include <QString>

class QLabel;

namespace krv::app {

// What a send carried, as the confirmation names it: "the test page" or
// "2 settings" (the lists not at "No Change").
[[nodiscard]] QString testPageContent();
[[nodiscard]] QString settingsContent(int changedSettings);

// The line that says how a job ended: what went where, how many bytes, and
// when; for a cancelled job how far it had got. Empty for a failed job,
// which the error report tells.
[[nodiscard]] QString jobResultText(const comm::SendOutcome &outcome, const QString &content,
                                    const QString &destination);

// Shows `text` in `label` and announces it to assistive technology, which
// would otherwise not notice a label changing on its own.
void announce(QLabel *label, const QString &text);

} // namespace krv::app
