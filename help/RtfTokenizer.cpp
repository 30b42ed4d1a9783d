#include "RtfTokenizer.h"

#include <algorithm>
#include <array>

namespace krv::help {
namespace {

constexpr int MaxParamDigits = 10; // enough for any 32-bit parameter

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool isLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// A table rather than five comparisons: the test runs once per byte of text.
constexpr std::array<bool, 256> EndsText = [] {
    std::array<bool, 256> ends{};
    for (unsigned char c : {'{', '}', '\\', '\r', '\n'})
        ends[c] = true;
    return ends;
}();

bool endsText(char c) {
    return EndsText[static_cast<unsigned char>(c)];
}

} // namespace

bool RtfTokenizer::next(RtfToken &token) {
    // Line breaks in the source are not text, and they end no token.
    while (mPos < mInput.size() && isLineBreak(mInput[mPos]))
        ++mPos;
    if (mPos >= mInput.size())
        return false;
    token = RtfToken{};
    token.offset = mPos;
    switch (mInput[mPos]) {
    case '{':
        token.kind = RtfTokenKind::GroupStart;
        ++mPos;
        break;
    case '}':
        token.kind = RtfTokenKind::GroupEnd;
        ++mPos;
        break;
    case '\\':
        readControl(token);
        break;
    default:
        readText(token);
    }
    return true;
}

void RtfTokenizer::readText(RtfToken &token) {
    const std::size_t start = mPos;
    while (mPos < mInput.size() && !endsText(mInput[mPos]))
        ++mPos;
    token.kind = RtfTokenKind::Text;
    token.text = mInput.substr(start, mPos - start);
}

void RtfTokenizer::readControl(RtfToken &token) {
    ++mPos;
    if (mPos >= mInput.size()) {
        token.kind = RtfTokenKind::Broken;
        token.faults = RtfToken::BackslashAtEnd;
        return;
    }
    const char c = mInput[mPos];
    if (isLetter(c)) {
        readWord(token);
        return;
    }
    ++mPos;
    if (c == '\'') {
        readEscape(token);
        return;
    }
    token.kind = RtfTokenKind::Symbol;
    token.text = mInput.substr(mPos - 1, 1);
}

void RtfTokenizer::readWord(RtfToken &token) {
    const std::size_t nameStart = mPos;
    while (mPos < mInput.size() && isLetter(mInput[mPos]))
        ++mPos;
    token.kind = RtfTokenKind::Word;
    token.text = mInput.substr(nameStart, mPos - nameStart);
    if (token.text.size() > std::size_t(RtfMaxWordLength))
        token.faults |= RtfToken::WordTooLong;

    bool negative = false;
    if (mPos + 1 < mInput.size() && mInput[mPos] == '-' && isDigit(mInput[mPos + 1])) {
        negative = true;
        ++mPos;
    }
    std::int64_t value = 0;
    int digits = 0;
    while (mPos < mInput.size() && isDigit(mInput[mPos])) {
        if (digits < MaxParamDigits + 1) // stays far below int64 overflow
            value = value * 10 + (mInput[mPos] - '0');
        ++digits;
        ++mPos;
    }
    if (digits > 0) {
        token.hasParam = true;
        if (digits > MaxParamDigits || value > RtfMaxParam)
            token.faults |= RtfToken::ParamOutOfRange;
        token.param =
            int(std::clamp<std::int64_t>(negative ? -value : value, -RtfMaxParam, RtfMaxParam));
    }
    if (mPos < mInput.size() && mInput[mPos] == ' ')
        ++mPos; // the delimiting space belongs to the control word

    if (token.text == "bin")
        readBinary(token);
}

// The data of \bin is raw bytes, braces and backslashes included.
void RtfTokenizer::readBinary(RtfToken &token) {
    token.kind = RtfTokenKind::Binary;
    const std::size_t count = token.hasParam ? std::size_t(std::max(0, token.param)) : 0;
    const std::size_t left = mInput.size() - mPos;
    if (count > left)
        token.faults |= RtfToken::BinaryPastEnd;
    token.text = mInput.substr(mPos, std::min(count, left));
    mPos += token.text.size();
}

void RtfTokenizer::readEscape(RtfToken &token) {
    token.kind = RtfTokenKind::Broken;
    if (mPos >= mInput.size() || !isHex(mInput[mPos])) {
        token.faults = mPos >= mInput.size() ? RtfToken::EscapeTruncated : RtfToken::EscapeNotHex;
        return;
    }
    if (mPos + 1 >= mInput.size() || !isHex(mInput[mPos + 1])) {
        ++mPos; // the one hex digit belongs to the broken escape
        token.faults = mPos >= mInput.size() ? RtfToken::EscapeTruncated : RtfToken::EscapeNotHex;
        return;
    }
    token.kind = RtfTokenKind::HexByte;
    token.param = hexValue(mInput[mPos]) * 16 + hexValue(mInput[mPos + 1]);
    mPos += 2;
}

} // namespace krv::help
