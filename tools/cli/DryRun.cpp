#include "DryRun.h"

#include "SettingsBatch.h"

namespace krv::cli {

namespace {

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

QString decodeToken(const QByteArray &token) {
    if (token.size() != 7 || token[0] != '#')
        return {};
    for (qsizetype i = 2; i < 7; ++i)
        if (!isUpperHex(token[i]))
            return {};
    const QString sw = QString::fromLatin1(token.mid(2, 1));
    const QString mask = QString::fromLatin1(token.mid(3, 4));
    switch (token[1]) {
    case '+':
        return QStringLiteral("switch %1: set bits %2").arg(sw, mask);
    case '-':
        return QStringLiteral("switch %1: clear bits %2").arg(sw, mask);
    case 'W':
        return token == QByteArray(settings::ClosingToken.data(),
                                   qsizetype(settings::ClosingToken.size()))
                   ? QStringLiteral("closing command")
                   : QString();
    default:
        return {};
    }
}

QString describeBatch(const QByteArray &batch) {
    QString text;
    const qsizetype size = settings::SwitchCommandSize;
    qsizetype at = 0;
    for (; at + size <= batch.size(); at += size) {
        const QByteArray command = batch.mid(at, size);
        const QByteArray token = command.mid(2, 7);
        const QString meaning = decodeToken(token);
        const bool framed = command.startsWith("\x1b\x1d") && command[9] == '\n' &&
                            command[10] == '\0' && !meaning.isEmpty();
        if (!framed)
            break;
        text +=
            QStringLiteral("%1  %2  %3\n").arg(hex(command), QString::fromLatin1(token), meaning);
    }
    if (at < batch.size())
        text += QStringLiteral("%1  (not a memory-switch command)\n").arg(hex(batch.mid(at)));
    return text;
}

QString hexDump(const QByteArray &data) {
    QString text;
    for (qsizetype at = 0; at < data.size(); at += 16)
        text += QStringLiteral("%1  %2\n")
                    .arg(QString::number(at, 16).toUpper().rightJustified(4, QLatin1Char('0')),
                         hex(data.mid(at, 16)));
    return text;
}

} // namespace krv::cli
