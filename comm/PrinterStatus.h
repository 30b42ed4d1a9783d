#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace krv::comm {

// The printer's real-time status: what it answers to DLE EOT 1..4, one byte
// each. Printers in a command mode without real-time status, and one-way
// links, answer nothing; that is a result of its own, never "ready".
struct PrinterStatus {
    enum class Outcome {
        Answered,     // four valid answers; `conditions` says what they hold
        NoAnswer,     // nothing, too late, or bytes that are not answers
        NotAvailable, // the connection cannot carry an answer (spooler, file)
    };
    enum Condition : unsigned {
        Offline = 1u << 0,
        CoverOpen = 1u << 1,
        FedByButton = 1u << 2,   // paper being fed with the feed button
        PaperOutStop = 1u << 3,  // printing stopped because the paper ran out
        ErrorOccurred = 1u << 4, // an error, its cause among the next three
        AutoCutterError = 1u << 5,
        UnrecoverableError = 1u << 6,
        AutoRecoverableError = 1u << 7,
        PaperNearEnd = 1u << 8,
        PaperEnd = 1u << 9,
    };
    static constexpr int ConditionCount = 10;

    Outcome outcome = Outcome::NoAnswer;
    unsigned conditions = 0;
    QString detail; // NoAnswer, NotAvailable: why, in plain words

    [[nodiscard]] bool answered() const { return outcome == Outcome::Answered; }
    [[nodiscard]] bool ready() const { return answered() && conditions == 0; }
    [[nodiscard]] bool has(Condition c) const { return answered() && (conditions & c) != 0; }
};

// The request for status n (1 to 4): DLE EOT n.
[[nodiscard]] std::array<char, 3> statusRequest(int n);

// A real answer has bit 1 and bit 4 set and bits 0 and 7 clear.
[[nodiscard]] constexpr bool isStatusAnswer(std::uint8_t byte) {
    return (byte & 0x93) == 0x12;
}

// The answers to requests 1 to 4, in that order. Any byte that is not a real
// answer makes the whole a NoAnswer.
[[nodiscard]] PrinterStatus decodePrinterStatus(const std::array<std::uint8_t, 4> &answers);

// "cover open", "paper end", ... for one condition.
[[nodiscard]] QString conditionName(PrinterStatus::Condition condition);
// Every condition present, in the order of the requests.
[[nodiscard]] QStringList conditionNames(const PrinterStatus &status);
// One line: "ready", "offline, cover open", "no status answer (...)", ...
[[nodiscard]] QString describeStatus(const PrinterStatus &status);

} // namespace krv::comm
