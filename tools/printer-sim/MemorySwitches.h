#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace krv::settings {
struct Setting;
}

namespace krv::sim {

struct Event;

// One switch whose stored value changed.
struct SwitchChange {
    int switchNumber = 0;
    std::uint16_t before = 0;
    std::uint16_t after = 0;
    friend bool operator==(const SwitchChange &, const SwitchChange &) = default;
};

// The printer's sixteen 16-bit memory switches. "+" and "-" commands change
// the working values as they arrive; a store ("#W00000") makes them the
// stored values, which survive a restart through the state file.
class MemorySwitches {
public:
    static constexpr int Count = 16;

    [[nodiscard]] std::uint16_t working(int switchNumber) const;
    [[nodiscard]] std::uint16_t stored(int switchNumber) const;
    [[nodiscard]] bool hasUnstoredChanges() const { return mWorking != mStored; }

    // Applies a switch event; events of other kinds are ignored. Returns the
    // stored changes when the event is a store, otherwise nothing.
    std::vector<SwitchChange> apply(const Event &event);
    void set(int switchNumber, std::uint16_t mask);
    void clear(int switchNumber, std::uint16_t mask);
    std::vector<SwitchChange> store();

    // The state file: one line "X HHHH" per switch, X the switch digit. A
    // missing file is all zero. Each returns false and sets `error` on failure,
    // leaving the switches as they were.
    bool load(const QString &path, QString *error);
    bool save(const QString &path, QString *error) const;

private:
    std::array<std::uint16_t, Count> mWorking{};
    std::array<std::uint16_t, Count> mStored{};
};

// Readable lines for one stored change, one per setting whose bits changed,
// naming the new entry by the settings catalogue, e.g.
// "Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)". Bits no setting owns
// get a line of their own.
[[nodiscard]] QStringList describeChange(const SwitchChange &change);

// The entry of `setting` whose tokens turn `before` into a value with the
// same bits of the setting as `after`, or -1 when no entry does.
[[nodiscard]] int entryFor(const settings::Setting &setting, std::uint16_t before,
                           std::uint16_t after);

} // namespace krv::sim
