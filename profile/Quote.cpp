#include "Quote.h"

#include "RuntimeError.h"

namespace krv::profile {

namespace {

// Appends one character as a terminal can show it without acting on it.
// Returns how many code units it took (a surrogate pair is one character).
qsizetype appendEscaped(QString &out, QStringView text, qsizetype i, bool quoting) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        out += c;
        out += text[i + 1];
        return 2;
    }
    if (c == u'\t') {
        out += QStringLiteral("\\t");
    } else if (c == u'\n') {
        out += QStringLiteral("\\n");
    } else if (c == u'\r') {
        out += QStringLiteral("\\r");
    } else if (quoting && (c == u'"' || c == u'\\')) {
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
    return 1;
}

} // namespace

QString quoted(QStringView text, qsizetype limit) {
    QString out = QStringLiteral("\"");
    qsizetype shown = 0;
    for (qsizetype i = 0; i < text.size(); ++shown) {
        if (shown == limit) {
            out += QChar(0x2026); // …
            break;
        }
        i += appendEscaped(out, text, i, true);
    }
    return out + QLatin1Char('"');
}

QString shownText(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();)
        i += appendEscaped(out, text, i, false);
    return out;
}

void refuseNul(QStringView text, const QString &what, int number) {
    if (text.contains(QChar(0)))
        throw RuntimeError(number, QStringLiteral("%1 contains a NUL byte.").arg(what));
}

} // namespace krv::profile
