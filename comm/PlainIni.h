#pragma once

#include <QByteArrayView>
#include <QString>

#include <map>
#include <optional>

namespace krv::comm {

// The values of an INI file in the plain form our store is normally in:
// `[Section]` headers and `Key=Value` lines of ASCII keys, with no quoting,
// escapes, lists, comments, carriage returns or special `@` values. Such a
// file is read here exactly as QSettings reads it, without loading QSettings
// (a fifth of a megabyte of code touched at every start). Anything else
// gives nothing, and the caller asks QSettings.
struct PlainIni {
    // "Section/Key" to its text; keys of the top level have no section part.
    std::map<QString, QString> values;
    // Where QSettings reports a format error: a section without its closing
    // bracket. (A line that is neither a section nor a key is passed over.)
    bool formatError = false;
};

[[nodiscard]] std::optional<PlainIni> readPlainIni(QByteArrayView text);

} // namespace krv::comm
