#include "Lines.h"

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

} // namespace krv::profile
