#include "SettingsBatch.h"

#include "Tokens.h"

namespace krv::settings {
namespace {
constexpr char ESC = 27;
constexpr char GS = 29;
constexpr char LF = 10;
constexpr char NUL = 0;
} // namespace

QByteArray makeSwitchCommand(std::string_view token) {
    QByteArray command;
    command.reserve(SwitchCommandSize);
    command.append(ESC).append(GS);
    command.append(token.data(), static_cast<qsizetype>(token.size()));
    command.append(LF).append(NUL);
    return command;
}

QByteArray makeSettingsBatch(const Selection &selection) {
    QByteArray batch;
    batch.reserve(22 * SwitchCommandSize);
    for (std::size_t i = 0; i < SettingCount; ++i) {
        for (const Token &token : tokensFor(catalogue()[i], selection[i]))
            batch.append(makeSwitchCommand(token));
    }
    batch.append(makeSwitchCommand(ClosingToken));
    return batch;
}

} // namespace krv::settings
