#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTextDocument>

#include <memory>

namespace krv::help {

// Groups nested deeper than this are read with the formatting of the deepest
// group; the limit bounds the reader's memory on hostile input.
inline constexpr int RtfMaxGroupDepth = 128;

// At most this many problems are listed; a final entry says how many more there were.
inline constexpr int RtfMaxProblems = 50;

struct RtfResult {
    std::unique_ptr<QTextDocument> document; // never null: renders what it could
    QStringList problems; // empty for a clean read; otherwise what was wrong and where
};

// Reads an RTF document into a QTextDocument. Never throws for bad input and
// never reads outside `rtf`; what it could not understand is in `problems`.
[[nodiscard]] RtfResult readRtf(const QByteArray &rtf);

} // namespace krv::help
