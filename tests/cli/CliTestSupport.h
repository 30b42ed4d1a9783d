#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdlib>

// One row of the product's entry table: list name, index, exact text, tokens.
struct EntryRow {
    QString combo;
    int index;
    QString text;
    QStringList tokens;
};

inline QList<EntryRow> entryTable() {
    QFile file(QStringLiteral(KRV_TEST_DATA_DIR "/setting-entries.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read setting-entries.tsv");
    QList<EntryRow> rows;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        const QList<QByteArray> fields = raw.split('\t');
        if (fields.size() != 4)
            qFatal("malformed setting-entries.tsv line: %s", raw.constData());
        rows.append({QString::fromUtf8(fields[0]), fields[1].toInt(), QString::fromUtf8(fields[2]),
                     QString::fromUtf8(fields[3]).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
    }
    return rows;
}

// Tokens framed as the printer expects them: ESC GS token LF NUL each.
inline QByteArray framed(const QStringList &tokens) {
    QByteArray bytes;
    for (const QString &t : tokens)
        bytes += "\x1b\x1d" + t.toLatin1() + '\n' + '\0';
    return bytes;
}

inline const QByteArray ClosingCommand = QByteArray::fromHex("1b1d235730303030300a00");
