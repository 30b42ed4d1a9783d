#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

namespace krv::cli {

// What may stand where an argument is being typed.
struct Completion {
    enum class Kind { Words, Files } kind = Kind::Words;
    QStringList words;    // whole arguments, unquoted, each starting with what was typed
    bool noSpace = false; // the words go on (a setting name before its entry)
    QString filePrefix;   // Files: the part of the argument before the path ("--file=")
};

// Completes `current` after the arguments `before` (the command first).
[[nodiscard]] Completion completeArgument(const QStringList &before, const QString &current);

// For bash: `line` is the command line up to the cursor, `wordBreaks` bash's
// COMP_WORDBREAKS. The first line is "words", "words nospace" or "files"; then
// either the replies, each quoted as it must be typed to replace what
// readline replaces, or for files the text to take off the front of each
// file name and the path to complete.
[[nodiscard]] QStringList bashCompletion(const QString &line, const QString &wordBreaks);

// For shells that quote what they insert themselves (fish, zsh): `before`
// and `current` unquoted. The first line is as for bash; then the words
// whole and unquoted or, for files, the part of the argument before the path
// and the path to complete.
[[nodiscard]] QStringList plainCompletion(const QStringList &before, const QString &current);

// The completion script for `shell` ("bash", "fish" or "zsh").
[[nodiscard]] QString completionScript(const QString &shell);

// The hidden "__complete bash LINE POINT [WORDBREAKS]" or
// "__complete words ARGUMENT... CURRENT" the scripts run.
int runComplete(const QStringList &words, QTextStream &out);

} // namespace krv::cli
