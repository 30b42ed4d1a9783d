#pragma once

#include <QByteArray>
#include <QString>

namespace krv::cli {

// A download batch as text, one framed command a line: its bytes in hex, the
// token, what the token does and the setting and entry it comes from, e.g.
// "1B 1D 23 2D 32 30 30 33 30 0A 00  #-20030  switch 2: clear bits 0030  Print Speed: Low
// (50mm/s)". Bytes that are not a framed command are shown as such rather than hidden.
[[nodiscard]] QString describeBatch(const QByteArray &batch);

// What one 7-character token does ("switch 2: set bits 0020", "closing
// command"); empty when it is not a memory-switch token.
[[nodiscard]] QString decodeToken(const QByteArray &token);

// Any other printer data: offset and 16 bytes of hex a line.
[[nodiscard]] QString hexDump(const QByteArray &data);

} // namespace krv::cli
