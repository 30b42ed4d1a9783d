#pragma once

#include "Decoder.h"
#include "ReceiptRenderer.h"

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace krv::sim {

class MemorySwitches;

// One job as the printer handles it: decodes the bytes as they arrive,
// applies switch commands to the switches, stores them (and the state file,
// when there is one) on "#W00000", and draws the printable stream with the
// switches stored before the job began. Every finding is reported as a
// readable line.
class Job {
public:
    using LineSink = std::function<void(const QString &)>;

    Job(MemorySwitches &switches, QString statePath, LineSink sink);

    void feed(QByteArrayView bytes);
    // The job has ended; reports a command left unfinished and switch
    // changes that were never stored.
    void finish();

    // The receipt, or a null image when the job held nothing printable
    // (a settings batch). Call after finish().
    [[nodiscard]] QImage receipt();

    [[nodiscard]] qsizetype bytes() const { return mDecoder.position(); }
    [[nodiscard]] int switchCommands() const { return mSwitchCommands; }
    [[nodiscard]] int problems() const { return mProblems; }
    [[nodiscard]] bool printable() const { return mPrintable; }
    // The switches were stored ("#W00000"), the command that closes a
    // settings batch.
    [[nodiscard]] bool stored() const { return mStored; }
    [[nodiscard]] QString summary() const;

private:
    void drain();
    void handle(const Event &event);

    MemorySwitches &mSwitches;
    QString mStatePath;
    LineSink mSink;
    Decoder mDecoder;
    // The switches stored when the job began; the renderer is made from them
    // when the job first prints, so a settings batch costs no table look-ups.
    std::array<std::uint16_t, 16> mStoredAtStart{};
    std::optional<ReceiptRenderer> mRenderer;
    int mSwitchCommands = 0;
    int mProblems = 0;
    bool mPrintable = false;
    bool mStored = false;
};

} // namespace krv::sim
