#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>

namespace krv::sim {

// The printer's real-time status as the operator sets it at start, and the
// answers to the four requests DLE EOT n (n = 1 to 4) it gives. A printer
// answers such a request wherever it stands in the data, in the middle of a
// job too, so the bytes are fed as they arrive; a request may be split
// across chunks.
class StatusAnswer {
public:
    enum class State { Ready, NearEnd, PaperEnd, CoverOpen, Offline, Silent };

    explicit StatusAnswer(State state = State::Ready) : mState(state) {}

    // The reply bytes for the requests completed by `chunk`; empty when
    // there are none or the printer is silent.
    [[nodiscard]] QByteArray feed(QByteArrayView chunk);
    // A new connection: a request left half-way on the last one is gone.
    void reset() { mSeen = 0; }
    // The operator changed the printer's condition while it runs.
    void setState(State state) { mState = state; }

    // The answer byte to request n (1 to 4) in this state; nothing when silent.
    [[nodiscard]] std::optional<char> answer(int n) const;

    // Whether a job would print now: not so with the paper at its end, the
    // cover open or offline. A silent printer says nothing, so it counts.
    [[nodiscard]] bool ready() const;
    // The state's name, as --status takes it.
    [[nodiscard]] QString name() const;

    // "ready", "near-end", "paper-end", "cover-open", "offline", "silent".
    [[nodiscard]] static std::optional<State> parse(const QString &name);
    [[nodiscard]] static QString names();

private:
    State mState;
    int mSeen = 0; // bytes of a request seen so far: 0, 1 (DLE) or 2 (DLE EOT)
};

} // namespace krv::sim
