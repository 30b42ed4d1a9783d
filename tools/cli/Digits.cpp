#include "Digits.h"

#include "CliErrors.h"
#include "Quote.h"
#include "RuntimeError.h"

namespace krv::cli {

using namespace krv::profile;

std::optional<qint64> digitsValue(QStringView text, qint64 max) {
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        // Checked before it can overflow, however many digits follow.
        value = value * 10 + (c.unicode() - u'0');
        if (value > max)
            return std::nullopt;
    }
    return value;
}

int wholeNumber(const QString &option, const QString &text, int low, int high) {
    const std::optional<qint64> value = digitsValue(text, high);
    if (!value || *value < low)
        throw RuntimeError(errors::BadArgument,
                           QStringLiteral("%1 needs a whole number from %2 to %3, not %4.")
                               .arg(option)
                               .arg(low)
                               .arg(high)
                               .arg(quoted(text)));
    return int(*value);
}

} // namespace krv::cli
