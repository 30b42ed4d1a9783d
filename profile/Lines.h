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

} // namespace krv::profile
