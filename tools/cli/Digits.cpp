#include "Digits.h"

namespace krv::cli {

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

} // namespace krv::cli
