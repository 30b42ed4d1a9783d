#include "StatusAnswer.h"

#include <QStringList>

namespace krv::sim {

namespace {

constexpr char Dle = 0x10;
constexpr char Eot = 0x04;

// Every answer carries its fixed bits: 1 and 4 set, 0 and 7 clear.
constexpr char Fixed = 0x12;

struct Row {
    StatusAnswer::State state;
    const char *name;
    // Answers to requests 1 (printer), 2 (offline cause), 3 (error cause)
    // and 4 (paper sensors).
    std::array<char, 4> answers;
};

constexpr Row Rows[] = {
    {StatusAnswer::State::Ready, "ready", {Fixed, Fixed, Fixed, Fixed}},
    // Both near-end sensor bits.
    {StatusAnswer::State::NearEnd, "near-end", {Fixed, Fixed, Fixed, Fixed | 0x0c}},
    // Offline, stopped for want of paper, both near-end and both end bits.
    {StatusAnswer::State::PaperEnd, "paper-end", {Fixed | 0x08, Fixed | 0x20, Fixed, Fixed | 0x6c}},
    {StatusAnswer::State::CoverOpen, "cover-open", {Fixed | 0x08, Fixed | 0x04, Fixed, Fixed}},
    // Offline and no reason given.
    {StatusAnswer::State::Offline, "offline", {Fixed | 0x08, Fixed, Fixed, Fixed}},
    {StatusAnswer::State::Silent, "silent", {}},
};

} // namespace

std::optional<char> StatusAnswer::answer(int n) const {
    if (mState == State::Silent || n < 1 || n > 4)
        return std::nullopt;
    for (const Row &row : Rows)
        if (row.state == mState)
            return row.answers[std::size_t(n - 1)];
    return std::nullopt;
}

bool StatusAnswer::ready() const {
    return mState == State::Ready || mState == State::NearEnd || mState == State::Silent;
}

QString StatusAnswer::name() const {
    for (const Row &row : Rows)
        if (row.state == mState)
            return QString::fromLatin1(row.name);
    return {};
}

QByteArray StatusAnswer::feed(QByteArrayView chunk) {
    QByteArray reply;
    for (const char c : chunk) {
        if (mSeen == 2) {
            mSeen = 0;
            if (c >= 1 && c <= 4) {
                if (const auto a = answer(c))
                    reply.append(*a);
                continue;
            }
        }
        if (mSeen == 1) {
            mSeen = c == Eot ? 2 : 0;
            if (mSeen == 2)
                continue;
        }
        if (c == Dle)
            mSeen = 1;
    }
    return reply;
}

std::optional<StatusAnswer::State> StatusAnswer::parse(const QString &name) {
    for (const Row &row : Rows)
        if (name == QLatin1String(row.name))
            return row.state;
    return std::nullopt;
}

QString StatusAnswer::names() {
    QStringList all;
    for (const Row &row : Rows)
        all.append(QLatin1String(row.name));
    return all.join(QLatin1Char('|'));
}

} // namespace krv::sim
