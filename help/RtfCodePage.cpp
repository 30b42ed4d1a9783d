#include "RtfCodePage.h"

#include <QByteArray>

#include <array>

namespace krv::help {
namespace {

// The upper half of code page 1252 where it differs from Latin-1; 0 marks the
// five unassigned codes.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

bool RtfCodePage::select(int number) {
    mDecoder.reset();
    if (number == 1252)
        return true;
    const QByteArray name = "windows-" + QByteArray::number(number);
    mDecoder.emplace(name.constData());
    if (mDecoder->isValid())
        return true;
    mDecoder.reset();
    return false;
}

QString RtfCodePage::decode(unsigned char b) {
    const char raw = char(b);
    return (*mDecoder)(QByteArrayView(&raw, 1));
}

char16_t RtfCodePage::cp1252(unsigned char b) {
    return b >= 0xA0 ? char16_t(b) : Cp1252High[b - 0x80];
}

} // namespace krv::help
