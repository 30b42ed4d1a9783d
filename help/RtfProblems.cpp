#include "RtfProblems.h"

#include <QLatin1String>

namespace krv::help {

void RtfProblems::add(std::size_t offset, const QString &what) {
    ++mCount;
    if (mCount <= RtfMaxProblems)
        mList << QStringLiteral("byte %1: %2").arg(qulonglong(offset)).arg(what);
}

void RtfProblems::addFaults(const RtfToken &t) {
    if (t.faults & RtfToken::WordTooLong)
        add(t.offset, QStringLiteral("control word longer than %1 letters").arg(RtfMaxWordLength));
    if (t.faults & RtfToken::ParamOutOfRange) {
        const std::string_view word = t.kind == RtfTokenKind::Binary ? "bin" : t.text;
        add(t.offset, QStringLiteral("numeric parameter of \\%1 out of range")
                          .arg(QLatin1String(word.data(), qsizetype(word.size()))));
    }
    if (t.faults & RtfToken::BinaryPastEnd)
        add(t.offset, QStringLiteral("binary data runs past the end of the input"));
    if (t.faults & RtfToken::BackslashAtEnd)
        add(t.offset, QStringLiteral("backslash at the end of the input"));
    if (t.faults & RtfToken::EscapeTruncated)
        add(t.offset, QStringLiteral("truncated \\' escape"));
    if (t.faults & RtfToken::EscapeNotHex)
        add(t.offset, QStringLiteral("\\' not followed by two hex digits"));
}

QStringList RtfProblems::take() {
    if (mCount > RtfMaxProblems)
        mList << QStringLiteral("%1 further problem(s) not listed").arg(mCount - RtfMaxProblems);
    return std::move(mList);
}

} // namespace krv::help
