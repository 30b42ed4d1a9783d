#include "CommandLine.h"

#include "CliErrors.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "Targets.h"

namespace krv::cli {

namespace {

using Kind = comm::ConnectionSettings::Kind;

[[noreturn]] void usageError(const QString &text) {
    throw RuntimeError(errors::BadArgument, text);
}

} // namespace

Command parseCommandLine(const QStringList &arguments) {
    Command command;
    QStringList positional;
    bool sawAction = false;

    // Asking for help wins over any mistake elsewhere on the line.
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
            return Command{};
    }

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (argument == QLatin1String("--version")) {
            Command version;
            version.action = Action::Version;
            return version;
        }
        if (!argument.startsWith(QLatin1String("--")) || argument == QLatin1String("--")) {
            if (argument == QLatin1String("--")) {
                positional.append(arguments.mid(i + 1));
                break;
            }
            if (!sawAction) {
                static const std::pair<const char *, Action> Actions[] = {
                    {"list", Action::List},
                    {"help", Action::TopicHelp},
                    {"download", Action::Download},
                    {"profile", Action::Profile},
                    {"test-print", Action::TestPrint},
                    {"check", Action::Check},
                };
                bool known = false;
                for (const auto &[name, action] : Actions)
                    if (argument == QLatin1String(name)) {
                        command.action = action;
                        known = true;
                    }
                if (!known)
                    throw RuntimeError(errors::UnknownCommand,
                                       QStringLiteral("%1 is not a command; the commands are "
                                                      "list, help, download, profile, "
                                                      "test-print and check.")
                                           .arg(quoted(argument)));
                sawAction = true;
            } else {
                positional.append(argument);
            }
            continue;
        }

        // --name VALUE or --name=VALUE
        QString value;
        bool inlineValue = false;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
            value = argument.mid(equals + 1);
            argument = argument.left(equals);
            inlineValue = true;
        }
        auto takeValue = [&]() -> QString {
            if (inlineValue)
                return value;
            if (i + 1 >= arguments.size())
                usageError(QStringLiteral("%1 needs a value.").arg(argument));
            return arguments[++i];
        };
        auto flag = [&]() {
            if (inlineValue)
                usageError(QStringLiteral("%1 takes no value.").arg(argument));
        };
        auto onlyFor = [&](std::initializer_list<Action> actions) {
            for (Action a : actions)
                if (a == command.action)
                    return;
            usageError(sawAction
                           ? QStringLiteral("%1 does not apply to this command.").arg(argument)
                           : QStringLiteral("%1 must follow a command, e.g. \"krv520-cli "
                                            "download %1 ...\".")
                                 .arg(argument));
        };

        if (argument == QLatin1String("--set")) {
            onlyFor({Action::Download});
            command.assignments.append(takeValue());
        } else if (argument == QLatin1String("--profile")) {
            onlyFor({Action::Download});
            if (!command.profilePath.isEmpty())
                usageError(QStringLiteral("--profile may be given once."));
            command.profilePath = takeValue();
            if (command.profilePath.isEmpty())
                usageError(QStringLiteral("--profile needs a file name."));
        } else if (argument == QLatin1String("--dry-run")) {
            onlyFor({Action::Download, Action::TestPrint});
            flag();
            command.dryRun = true;
        } else if (argument == QLatin1String("--force")) {
            onlyFor({Action::Profile});
            flag();
            command.force = true;
        } else if (argument == QLatin1String("--tcp")) {
            onlyFor({Action::Download, Action::TestPrint, Action::Check});
            TargetSource source;
            source.connection = parseTcpTarget(takeValue());
            command.targets.push_back(source);
        } else if (argument == QLatin1String("--queue")) {
            onlyFor({Action::Download, Action::TestPrint, Action::Check});
            TargetSource source;
            source.connection.kind = Kind::Spooler;
            source.connection.queue = takeValue();
            command.targets.push_back(source);
        } else if (argument == QLatin1String("--file")) {
            onlyFor({Action::Download, Action::TestPrint, Action::Check});
            TargetSource source;
            source.connection.kind = Kind::File;
            source.connection.path = takeValue();
            if (source.connection.path.isEmpty())
                usageError(QStringLiteral("--file needs a path."));
            command.targets.push_back(source);
        } else if (argument == QLatin1String("--targets")) {
            onlyFor({Action::Download, Action::TestPrint, Action::Check});
            TargetSource source;
            source.kind = TargetSource::Kind::TargetsFile;
            source.targetsFile = takeValue();
            if (source.targetsFile.isEmpty())
                usageError(QStringLiteral("--targets needs a file name."));
            command.targets.push_back(source);
        } else {
            usageError(QStringLiteral("%1 is not an option; see \"krv520-cli --help\".")
                           .arg(quoted(argument)));
        }
    }

    switch (command.action) {
    case Action::TopicHelp:
        // "help" alone is the general help; the rest is the setting's name,
        // so "help Print Speed" works without quotes.
        if (positional.isEmpty())
            return Command{};
        command.topic = positional.join(QLatin1Char(' '));
        break;
    case Action::Profile:
        if (positional.size() > 1)
            usageError(QStringLiteral("profile takes at most one file name."));
        if (!positional.isEmpty())
            command.outputPath = positional.constFirst();
        break;
    default:
        if (!positional.isEmpty())
            usageError(QStringLiteral("Unexpected %1; setting choices are given as --set "
                                      "\"SETTING=ENTRY\".")
                           .arg(quoted(positional.constFirst())));
    }
    return command;
}

QString usageText() {
    return QStringLiteral(R"usage(Usage: krv520-cli COMMAND [OPTIONS]

Configures KRV520 receipt printers from a terminal or a script, with the same
settings, entries and memory-switch commands as the window program.

Commands:
  list                       Every setting: its list name, label and page,
                             then its entries as index and exact text.
  help SETTING               The setting's help topic as plain text.
  download [CHOICES] [CONNECTION] [--dry-run]
                             Sends the chosen settings to the printer.
                             Settings not chosen stay as the printer has them.
  profile [FILE] [--force]   Writes a profile template (to standard output
                             without FILE); --force replaces an existing FILE.
  test-print [CONNECTION] [--dry-run]
                             Prints the test page.
  check [CONNECTION]         Tries the connection without sending anything
                             the printer acts on, and says what is wrong and
                             how to fix it.

Choices (download):
  --set SETTING=ENTRY        May be repeated. SETTING is the label, with or
                             without its colon, or the list name, in any case
                             ("Print Speed", "Print Speed:", "cmbSpeed").
                             ENTRY is the exact entry text or its index, as
                             "list" shows them ("Low (50mm/s)" or 3).
  --profile FILE             Choices from a profile: one SETTING=ENTRY a line,
                             lines starting with # are comments, an entry in
                             double quotes keeps blanks at its ends. A --set
                             for the same setting wins over the profile.
  --dry-run                  Prints what would be sent instead of sending:
                             for download one command a line (its bytes in
                             hex, its token, what the token does); for
                             test-print a hex dump.

Connection (download, test-print, check):
  --tcp HOST[:PORT]          A network printer; the port defaults to 9100.
                             Write an IPv6 address with a port as [ADDR]:PORT.
  --queue NAME               A print spooler (CUPS) queue; it should be raw.
  --file PATH                A file or a device node such as /dev/usb/lp0.
  --targets FILE             Connections from a file, one a line:
                             "tcp HOST[:PORT]", "queue NAME" or "file PATH";
                             lines starting with # are comments.
  Connection options may be repeated and mixed; the job goes to each printer
  in turn and one result line is printed per printer:
      ok<TAB>CONNECTION<TAB>sent N bytes
      failed<TAB>CONNECTION<TAB>error NUMBER: DESCRIPTION
  Without a connection option, the connection saved by the window program
  (under "KRV520Config") is used.

Other options:
  -h, --help                 This text.
  --version                  The program's version.

Exit status:
  0  everything was sent (check: every connection is fine)
  1  usage error: unknown command, option, setting or entry, or a malformed
     profile or targets file; nothing was sent
  2  connection or I/O failure on at least one printer, a file that could
     not be read or written, or output that could not be written (check: a
     problem was found)

Examples:
  krv520-cli list
  krv520-cli help "Print Speed"
  krv520-cli download --set "Print Speed=Low (50mm/s)" --set cmbZStyle=2 \
      --tcp 192.168.1.50
  krv520-cli profile shop.profile
  krv520-cli download --profile shop.profile --targets printers.txt
  krv520-cli download --profile shop.profile --dry-run
  krv520-cli check --queue KRV520
)usage");
}

} // namespace krv::cli
