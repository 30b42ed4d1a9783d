#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace krv::cli {

// A number typed as digits only, as many leading zeros as the operator
// likes: a sign, blank or point that a number parser would skip is a typing
// mistake. Nothing when the text is not that, or is above `max`.
[[nodiscard]] std::optional<qint64> digitsValue(QStringView text, qint64 max);

// An option's value as such a number within [low, high]; throws
// krv::RuntimeError (BadArgument) naming the option and what was typed.
[[nodiscard]] int wholeNumber(const QString &option, const QString &text, int low, int high);

} // namespace krv::cli
