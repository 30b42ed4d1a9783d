#include "CodePages.h"

#include <iconv.h>

#include <cstring>

namespace krv::sim {
namespace {

struct Known {
    int number;
    const char *iconvName;
};

// "IBM" names for the DOS pages, "CP" for the Windows ones and for pages glibc
// has only as "CP" (737, 772, 774). 874 is the Windows Thai page, which keeps
// TIS-620 in 0xA0-0xFF and adds the euro and quotes below.
constexpr Known KnownPages[] = {
    {437, "IBM437"},  {737, "CP737"},  {772, "CP772"},  {774, "CP774"},   {851, "IBM851"},
    {852, "IBM852"},  {855, "IBM855"}, {857, "IBM857"}, {858, "IBM858"},  {860, "IBM860"},
    {861, "IBM861"},  {862, "IBM862"}, {863, "IBM863"}, {864, "IBM864"},  {865, "IBM865"},
    {866, "IBM866"},  {869, "IBM869"}, {874, "CP874"},  {1250, "CP1250"}, {1251, "CP1251"},
    {1252, "CP1252"},
};

// One byte through an open converter: its character, or 0 when the page
// leaves it undefined.
char32_t convertByte(iconv_t converter, unsigned char byte) {
    char in[1] = {static_cast<char>(byte)};
    char out[16];
    char *inPtr = in;
    char *outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    iconv(converter, nullptr, nullptr, nullptr, nullptr); // reset the shift state
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        sizeof out - outLeft != 4)
        return 0;
    const auto *u = reinterpret_cast<const unsigned char *>(out);
    // UTF-32LE, whatever the machine's byte order.
    return char32_t(u[0]) | char32_t(u[1]) << 8 | char32_t(u[2]) << 16 | char32_t(u[3]) << 24;
}

} // namespace

const char *iconvNameForCodePage(int number) {
    for (const Known &k : KnownPages) {
        if (k.number == number)
            return k.iconvName;
    }
    return nullptr;
}

std::optional<UpperHalf> upperHalfFromIconv(const char *iconvName) {
    iconv_t converter = iconv_open("UTF-32LE", iconvName);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    UpperHalf half{};
    for (int i = 0; i < 128; ++i)
        half[std::size_t(i)] = convertByte(converter, static_cast<unsigned char>(0x80 + i));
    iconv_close(converter);
    return half;
}

} // namespace krv::sim
