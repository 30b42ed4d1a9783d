#include "PlainIni.h"

namespace krv::comm {

namespace {

// Bytes QSettings gives a meaning beyond plain text (quotes, escapes, lists,
// comments, percent-encoded keys, typed values, old line ends) and control
// characters other than tab and line feed.
bool plainByte(char c, bool inValue) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80)
        return inValue; // UTF-8 text in a value reads the same either way
    if (u < 0x20)
        return c == '\t' || c == '\n';
    switch (c) {
    case '"':
    case '\\':
    case ';':
    case ',':
    case '%':
    case '@':
    case 0x7f:
        return false;
    default:
        return true;
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView trimmedBlanks(QByteArrayView text) {
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

} // namespace

std::optional<PlainIni> readPlainIni(QByteArrayView text) {
    PlainIni ini;
    QString section; // with its trailing '/', empty at the top level
    while (!text.isEmpty()) {
        const qsizetype end = text.indexOf('\n');
        const QByteArrayView line = trimmedBlanks(end < 0 ? text : text.first(end));
        text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
        if (line.isEmpty())
            continue;
        if (line.front() == '[') {
            qsizetype close = line.indexOf(']');
            if (close < 0) {
                ini.formatError = true;
                close = line.size();
            }
            for (const char c : line)
                if (!plainByte(c, false))
                    return std::nullopt;
            const QByteArrayView name = trimmedBlanks(line.first(close).sliced(1));
            if (name.isEmpty() || name.contains('/'))
                return std::nullopt;
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else
                section = QString::fromLatin1(name) + QLatin1Char('/');
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        for (qsizetype i = 0; i < line.size(); ++i)
            if (!plainByte(line[i], equals >= 0 && i > equals) ||
                (line[i] == '/' && (equals < 0 || i < equals)))
                return std::nullopt;
        if (equals < 0)
            continue; // passed over, as QSettings does
        const QByteArrayView key = trimmedBlanks(line.first(equals));
        if (key.isEmpty())
            return std::nullopt;
        const QByteArrayView value = trimmedBlanks(line.sliced(equals + 1));
        ini.values[section + QString::fromLatin1(key)] = QString::fromUtf8(value);
    }
    return ini;
}

} // namespace krv::comm
