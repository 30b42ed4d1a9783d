#include "Lines.h"

#include "OwnFiles.h"
#include "ProfileErrors.h"
#include "RuntimeError.h"

#include <QStringDecoder>

#include <optional>

namespace krv::profile {

namespace {

template <typename Text> QList<Text> split(const Text &text) {
    QList<Text> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto c = text.at(i);
        if (c != u'\n' && c != u'\r')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    lines.append(text.mid(start));
    return lines;
}

} // namespace

QStringList splitLines(const QString &text) {
    return split(text);
}

QList<QByteArray> splitLines(const QByteArray &bytes) {
    return split(bytes);
}

QString readUtf8Lines(const QString &path, qint64 maxBytes, const LineMeaning &meaning) {
    const std::optional<QByteArray> text =
        comm::readSmallFile(path, maxBytes, errors::UnreadableFile);
    if (!text)
        throw RuntimeError(errors::UnreadableFile,
                           QStringLiteral("Cannot read %1: there is no such file.").arg(path));
    const QList<QByteArray> lines = splitLines(*text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (meaning.commentsAnyBytes && lines[i].trimmed().startsWith('#'))
            continue;
        QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        (void)QString(strict.decode(lines[i]));
        if (strict.hasError())
            throw RuntimeError(meaning.syntaxError,
                               QStringLiteral("%1:%2: the line is not valid UTF-8 text, so the "
                                              "%3 it names cannot be known exactly.")
                                   .arg(path)
                                   .arg(i + 1)
                                   .arg(QLatin1String(meaning.names)));
    }
    return QString::fromUtf8(*text);
}

} // namespace krv::profile
