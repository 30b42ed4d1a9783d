#include "Quote.h"

#include "RuntimeError.h"

namespace krv::cli {

QString quoted(QStringView text, qsizetype limit) {
    QString out = QStringLiteral("\"");
    qsizetype shown = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (shown == limit) {
            out += QChar(0x2026); // …
            break;
        }
        const QChar c = text[i];
        // A pair of surrogates is one character and is never cut in two.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (c == u'\t') {
            out += QStringLiteral("\\t");
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c == u'\r') {
            out += QStringLiteral("\\r");
        } else if (c == u'"' || c == u'\\') {
            out += QLatin1Char('\\');
            out += c;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else if ((c.unicode() >= 0x80 && c.unicode() < 0xa0) || c.isSurrogate() ||
                   c.category() == QChar::Other_Format) {
            // C1 controls, lone surrogates, and invisible marks that can turn
            // the terminal's text around.
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
        ++shown;
    }
    return out + QLatin1Char('"');
}

void refuseNul(QStringView text, const QString &what, int number) {
    if (text.contains(QChar(0)))
        throw RuntimeError(number, QStringLiteral("%1 contains a NUL byte.").arg(what));
}

} // namespace krv::cli
