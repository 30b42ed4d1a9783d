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
// when, then what the printer said of itself after it; for a cancelled job
// how far it had got. Empty for a failed job, which the error report tells.
[[nodiscard]] QString jobResultText(const comm::SendOutcome &outcome, const QString &content,
                                    const QString &destination);

// What the printer said after the job, in words a technician acts on: "The
// printer is ready.", "The printer reports: cover open. It prints once the
// cover is closed.", or that it did not answer. Empty where the connection
// cannot carry an answer (the spooler, a file) or it was not asked.
[[nodiscard]] QString printerStatusText(const std::optional<comm::PrinterStatus> &status);

// Whether the job's line must catch the eye: the printer will not print now.
[[nodiscard]] bool needsAttention(const comm::SendOutcome &outcome);

// Marks the line as a warning, in a colour that reads on the window's own
// background, light or dark; false puts the palette's text colour back.
void markAttention(QLabel *label, bool attention);

// Shows `text` in `label` and announces it to assistive technology, which
// would otherwise not notice a label changing on its own.
void announce(QLabel *label, const QString &text);

} // namespace krv::app
