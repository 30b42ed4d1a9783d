#include "PrinterStatus.h"

namespace krv::comm {

namespace {

using C = PrinterStatus::Condition;

struct Bit {
    int request; // 1 to 4
    int bit;
    C condition;
    const char *name;
};

// Each request's answer, bit by bit. The paper sensors report near end and
// end on two bits each; either one is enough.
constexpr Bit Bits[] = {
    {1, 3, C::Offline, "offline"},
    {2, 2, C::CoverOpen, "cover open"},
    {2, 3, C::FedByButton, "paper being fed by the feed button"},
    {2, 5, C::PaperOutStop, "printing stopped: out of paper"},
    {2, 6, C::ErrorOccurred, "an error occurred"},
    {3, 2, C::AutoCutterError, "auto-cutter error"},
    {3, 3, C::UnrecoverableError, "unrecoverable error"},
    {3, 5, C::AutoRecoverableError, "auto-recoverable error"},
    {4, 2, C::PaperNearEnd, "paper near its end"},
    {4, 3, C::PaperNearEnd, "paper near its end"},
    {4, 5, C::PaperEnd, "paper end"},
    {4, 6, C::PaperEnd, "paper end"},
};

} // namespace

std::array<char, 3> statusRequest(int n) {
    return {0x10, 0x04, char(n)};
}

PrinterStatus decodePrinterStatus(const std::array<std::uint8_t, 4> &answers) {
    PrinterStatus status;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (!isStatusAnswer(answers[i])) {
            status.detail = QStringLiteral("the answer to request %1 was 0x%2, not a status byte")
                                .arg(i + 1)
                                .arg(answers[i], 2, 16, QLatin1Char('0'));
            return status;
        }
    }
    status.outcome = PrinterStatus::Outcome::Answered;
    for (const Bit &b : Bits)
        if (answers[std::size_t(b.request - 1)] & (1u << b.bit))
            status.conditions |= b.condition;
    return status;
}

QString conditionName(PrinterStatus::Condition condition) {
    for (const Bit &b : Bits)
        if (b.condition == condition)
            return QString::fromLatin1(b.name);
    return {};
}

QStringList conditionNames(const PrinterStatus &status) {
    QStringList names;
    for (int i = 0; i < PrinterStatus::ConditionCount; ++i) {
        const auto c = PrinterStatus::Condition(1u << i);
        if (status.has(c))
            names.append(conditionName(c));
    }
    return names;
}

QString describeStatus(const PrinterStatus &status) {
    switch (status.outcome) {
    case PrinterStatus::Outcome::Answered:
        return status.ready() ? QStringLiteral("ready")
                              : conditionNames(status).join(QStringLiteral(", "));
    case PrinterStatus::Outcome::NoAnswer:
        return status.detail.isEmpty() ? QStringLiteral("no status answer")
                                       : QStringLiteral("no status answer (%1)").arg(status.detail);
    case PrinterStatus::Outcome::NotAvailable:
        break;
    }
    return status.detail;
}

} // namespace krv::comm
