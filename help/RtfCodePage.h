// The characters of the bytes above 0x7F in an RTF document's code page
// (\ansicpg): code page 1252 from its own table, any other through Qt's
// decoders.
#pragma once

#include <QString>
#include <QStringDecoder>

#include <optional>

namespace krv::help {

class RtfCodePage {
public:
    // False when Qt has no decoder for the code page; 1252 stays in use.
    bool select(int number);

    // Whether bytes come through decode() rather than cp1252().
    [[nodiscard]] bool isDecoded() const { return mDecoder.has_value(); }
    [[nodiscard]] QString decode(unsigned char b);

    // Code page 1252's character for a byte of 0x80 or more; 0 for the five
    // bytes it leaves unassigned.
    [[nodiscard]] static char16_t cp1252(unsigned char b);

private:
    std::optional<QStringDecoder> mDecoder;
};

} // namespace krv::help
