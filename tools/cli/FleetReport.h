#pragma once

#include "Fleet.h"
#include "SendToPrinter.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace krv::cli {

// One try at sending `data` to `target`: open, send, ask how the printer is
// (unless told not to), close. Says how many bytes went out, so that a job
// that reached the printer is never resent, and puts what the printer said
// in the verdict and detail.
[[nodiscard]] Attempt sendAttempt(const comm::ConnectionSettings &target, const QByteArray &data,
                                  comm::AskStatus ask);

// "ok<TAB>tcp HOST:PORT<TAB>sent N bytes", then "<TAB>WORD<TAB>DETAIL" when
// the printer was asked how it is, or
// "failed<TAB>tcp HOST:PORT<TAB>error NUMBER: DESCRIPTION", with
// " after N tries" at the end when it took more than one.
[[nodiscard]] QString resultLine(const FleetResult &result);
// " after N tries" when it took more than one, else nothing.
[[nodiscard]] QString triesNote(const FleetResult &result);
// "N ok, M failed".
[[nodiscard]] QString summaryLine(const FleetSummary &summary);

// One compact JSON object a line; the field names are kept stable for
// scripts (see --help): type "result" with target, kind, outcome, error,
// description, bytes, ms, tries; type "summary" with ok, failed, total, ms.
[[nodiscard]] QByteArray resultJson(const FleetResult &result);
// resultJson's object, for a command that adds fields of its own.
[[nodiscard]] QJsonObject resultObject(const FleetResult &result);
[[nodiscard]] QByteArray summaryJson(const FleetSummary &summary, qint64 milliseconds);

} // namespace krv::cli
