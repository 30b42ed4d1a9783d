#pragma once

#include <QFile>
#include <QStringList>

// The paragraphs each topic shows, from tests/data/help/rendered-topics.txt:
// a "topic N" line, then one line per paragraph.
inline QList<QStringList> expectedParagraphs() {
    QFile file(QStringLiteral(KRV_TEST_DATA_DIR "/help/rendered-topics.txt"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read rendered-topics.txt");
    QList<QStringList> topics;
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    lines.removeLast(); // the file's final line break
    for (const QString &line : lines) {
        if (line.startsWith(u'#'))
            continue;
        if (line.startsWith(QStringLiteral("topic ")))
            topics.append(QStringList());
        else
            topics.last().append(line);
    }
    return topics;
}
