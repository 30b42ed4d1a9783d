#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

namespace krv::sim {

// One thing the printer understood, with the offset of its first byte in the
// job.
struct Event {
    enum class Kind {
        Switch,        // ESC GS "#" op switch mask LF NUL
        Text,          // a run of printable bytes (32-255)
        Reset,         // ESC "@"
        Size,          // ESC "i" wd hd: character width and height multipliers
        BoldOn,        // ESC "E"
        BoldOff,       // ESC "F"
        Feed,          // ESC "d" n: print the line and feed n lines
        Return,        // CR
        LineFeed,      // LF
        StatusRequest, // DLE EOT n: real-time status request n (1-4); prints nothing
    };

    Kind kind = Kind::Text;
    qsizetype offset = 0;
    char operation = 0;        // Switch: '+', '-' or 'W'
    int switchNumber = 0;      // Switch: 0-15
    std::uint16_t mask = 0;    // Switch
    QByteArray text;           // Text
    int width = 1, height = 1; // Size: multipliers, 1-10
    int lines = 0;             // Feed: 0-9
    int request = 0;           // StatusRequest: 1-4

    [[nodiscard]] QString describe() const;
    friend bool operator==(const Event &, const Event &) = default;
};

// Something the printer could not understand. `offset` is the byte at fault,
// `commandOffset` the first byte of the command it belongs to (the same for a
// stray byte). The faulty command is skipped and decoding carries on.
struct Problem {
    enum class Kind {
        CutShort,         // a command interrupted by the next one or by an early LF/NUL
        MissingLineFeed,  // a switch token not followed by LF
        MissingNul,       // a switch command's LF not followed by NUL
        UnknownOperation, // not "+", "-" or "W" (or a store that is not "#W00000")
        UnknownSwitch,    // the switch is not a hexadecimal digit
        LowercaseHex,     // a hexadecimal digit written in lowercase
        BadToken,         // a token not starting with "#", or a mask digit that is not hex
        UnknownCommand,   // ESC or DLE followed by a byte that starts no command
        BadArgument,      // ESC "i" or ESC "d" not followed by digits, DLE EOT not by 1-4
        StrayByte,        // a control byte outside any command
        Dropped,          // the job ended in the middle of a command
    };

    Kind kind = Kind::StrayByte;
    qsizetype offset = 0;
    qsizetype commandOffset = 0;
    QString detail;

    [[nodiscard]] QString describe() const;
};

[[nodiscard]] QString problemKindName(Problem::Kind kind);

// A streaming decoder of what the utility sends to the printer. Bytes may
// arrive in chunks of any size; the events and problems do not depend on how
// the job was cut. It never throws and keeps at most one command's bytes.
class Decoder {
public:
    // Decodes the next bytes of the job. Events and problems found so far are
    // appended to the lists that take*() hand out.
    void feed(QByteArrayView bytes);

    // The job has ended (end of file, connection closed): reports a command
    // left unfinished and hands out any pending text.
    void finish();

    [[nodiscard]] std::vector<Event> takeEvents();
    [[nodiscard]] std::vector<Problem> takeProblems();

    // Bytes seen since the start of the job.
    [[nodiscard]] qsizetype position() const { return mPosition; }

private:
    enum class State {
        Idle,
        Escape,
        SwitchToken,
        SwitchLineFeed,
        SwitchNul,
        SkipNul, // after a token cut short by LF: its NUL still belongs to it
        SizeArgs,
        FeedArg,
        StatusEot, // after DLE
        StatusArg, // after DLE EOT
    };

    void step(unsigned char byte);
    void idle(unsigned char byte);
    void escape(unsigned char byte);
    void flushText();
    void finishSwitchCommand();
    void abandon(Problem::Kind kind, qsizetype at, const QString &detail);
    void addEvent(Event event);

    State mState = State::Idle;
    qsizetype mPosition = 0;
    qsizetype mCommandStart = 0;
    QByteArray mCommand; // the bytes of the command being read, after ESC
    QByteArray mText;
    qsizetype mTextStart = 0;
    std::vector<Event> mEvents;
    std::vector<Problem> mProblems;
};

struct Decoded {
    std::vector<Event> events;
    std::vector<Problem> problems;
};

// Decodes a whole job at once.
[[nodiscard]] Decoded decode(QByteArrayView job);

// A memory-switch token ("#+20020") as operation, switch and mask, or
// nothing when it is not exactly 7 characters of the token grammar.
struct SwitchToken {
    char operation = 0;
    int switchNumber = 0;
    std::uint16_t mask = 0;
};
[[nodiscard]] bool parseToken(QByteArrayView token, SwitchToken *out);

} // namespace krv::sim
