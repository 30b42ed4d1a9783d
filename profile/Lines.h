#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::profile {

// The lines of a profile or targets list, whichever editor wrote it: a line
// ends at LF, CR LF or a lone CR (old Mac editors, some spreadsheets), so
// that two lines are never read as one. The bytes and the text of a file are
// split alike, so a line number means the same line in either.
[[nodiscard]] QStringList splitLines(const QString &text);
[[nodiscard]] QList<QByteArray> splitLines(const QByteArray &bytes);

// What a line of a file is asked to name, for the refusal of a line that is
// not UTF-8: a replacement character would name a different one, or none.
struct LineMeaning {
    int syntaxError;       // the error number of such a line
    const char *names;     // "setting", "connection"
    bool commentsAnyBytes; // a line starting with '#' may hold any bytes
};

// The whole text of a profile or targets list of at most `maxBytes`, every
// line (but comments, where allowed) checked to be UTF-8 first.
[[nodiscard]] QString readUtf8Lines(const QString &path, qint64 maxBytes,
                                    const LineMeaning &meaning);

} // namespace krv::profile
