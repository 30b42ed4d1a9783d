#pragma once

#include "CommandLine.h"

#include <QString>
#include <QStringList>

#include <span>

namespace krv::cli {

// One command of the program. The parser, the per-command help and the shell
// completion all read these tables, so an option is described once.
struct CommandInfo {
    const char *name;
    Action action;
    const char *arguments; // after the command in its usage line
    const char *summary;
    const char *example;
};

enum class ValueKind { None, Choice, Host, Queue, File, Number };

struct OptionInfo {
    const char *name; // without the dashes
    const char *valueName;
    ValueKind value;
    const char *description;
    unsigned commands; // bit per Action the option applies to

    [[nodiscard]] bool appliesTo(Action action) const {
        return (commands & (1u << unsigned(action))) != 0;
    }
};

[[nodiscard]] std::span<const CommandInfo> commands();
[[nodiscard]] std::span<const OptionInfo> options();

// The command called `name`, or null.
[[nodiscard]] const CommandInfo *findCommand(const QString &name);
// The option called `name` (without dashes), or null.
[[nodiscard]] const OptionInfo *findOption(const QString &name);

// "krv520-cli COMMAND --help": its usage line, what it does, its options and
// an example.
[[nodiscard]] QString commandHelpText(const CommandInfo &command);

} // namespace krv::cli
