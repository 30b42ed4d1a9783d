#include "Commands.h"

namespace krv::cli {

namespace {

constexpr unsigned bit(Action action) {
    return 1u << unsigned(action);
}

constexpr unsigned Senders = bit(Action::Download) | bit(Action::TestPrint) | bit(Action::Check) |
                             bit(Action::Status) | bit(Action::Watch);
// Commands that serve many printers at once.
constexpr unsigned FleetSenders =
    bit(Action::Download) | bit(Action::TestPrint) | bit(Action::Status);
constexpr unsigned Discover = bit(Action::Discover);
// Commands whose job the printer prints.
constexpr unsigned Jobs = bit(Action::Download) | bit(Action::TestPrint);

constexpr CommandInfo Commands[] = {
    {"list", Action::List, "",
     "Prints every setting: its list name, label and page, then its entries as index and exact "
     "text.",
     "krv520-cli list"},
    {"help", Action::TopicHelp, "SETTING",
     "Prints the setting's help topic as plain text. SETTING is the label, with or without its "
     "colon, or the list name; it needs no quotes.",
     "krv520-cli help Print Speed"},
    {"download", Action::Download, "",
     "Sends the chosen settings to the printer in one job, then asks the printer how it is. "
     "Settings not chosen stay as the printer has them.",
     "krv520-cli download --set \"Print Speed=Low (50mm/s)\" --tcp 192.168.1.50"},
    {"profile", Action::Profile, "[FILE]",
     "Writes a profile template, every setting at No Change with its entries listed above it, to "
     "FILE or to standard output.",
     "krv520-cli profile shop.profile"},
    {"test-print", Action::TestPrint, "", "Prints the test page, then asks the printer how it is.",
     "krv520-cli test-print --queue KRV520"},
    {"check", Action::Check, "",
     "Tries each connection without sending anything the printer prints, asks the printer for "
     "its status where the connection can carry an answer, and says what is wrong and how to "
     "fix it.",
     "krv520-cli check --file /dev/usb/lp0"},
    {"status", Action::Status, "",
     "Asks each printer for its real-time status (DLE EOT 1 to 4, within 1 s) and prints one "
     "line per printer: ready, near-end, paper-end, cover-open, not-ready, no-answer (the "
     "printer did not answer, e.g. in a mode without real-time status, or a one-way link), "
     "unavailable (a spooler queue or a regular file cannot carry an answer) or failed. Exit "
     "status: 0 ready, 2 connection or I/O failure, 3 paper near its end (otherwise ready), 4 "
     "paper end, 5 cover open, 6 offline or an error for another reason, 7 no status answer or "
     "unavailable. With several printers the most severe wins, in this order: 2 (a printer that "
     "could not be reached is never hidden), 6, 5, 4, 7 (no answer), 3, 0, and 7 for a spooler "
     "queue or file only when no printer could be asked.",
     "krv520-cli status --tcp 192.168.1.50"},
    {"discover", Action::Discover, "RANGE... | --local",
     "Finds printers. RANGE is an address, a block (192.168.1.0/24) or FIRST-LAST, IPv4 or IPv6, "
     "never a host name. Each address is tried on each port; an open port is asked for the "
     "printer's status as \"status\" asks, and one line is printed per printer in address "
     "order: its status word, \"tcp ADDR:PORT\" and what it said. A port that accepts the "
     "connection and closes or resets it before answering is a busy printer (one serving "
     "another connection) and is listed as busy; an open port that answers otherwise is "
     "\"other\", listed only with --all. More than 65536 addresses need --force. With --local, "
     "lists this machine's serial ports and USB printer devices instead, each asked for its "
     "status unless --no-probe, with what keeps this user from opening it. Progress goes to "
     "standard error when it is a terminal, the count at the end always. Exit status 0 once "
     "the search is done, 1 for a range or option that is wrong (nothing is tried), 2 when the "
     "targets file cannot be written.",
     "krv520-cli discover 192.168.1.0/24 --targets-out printers.txt"},
    {"watch", Action::Watch, "",
     "Asks each printer for its status every --interval seconds (one short connection, as "
     "status does) until SIGINT or SIGTERM, which end it with exit status 0; SIGHUP reads "
     "--targets files again. Prints a line for each printer at the start and then only when "
     "its state changes: TIME (ISO 8601, UTC), CONNECTION, the previous state (- at the start), "
     "the new state and the detail, separated by tabs. States: ready, near-end, paper-end, "
     "cover-open, offline, no-answer, unreachable (the connection could not be made), busy "
     "(the printer took the connection and let it go without answering, as while it serves "
     "another, or another program holds its serial line) and unavailable. A failed poll is "
     "tried again after 0.3 s. A new state is reported once it has held for --confirm polls; "
     "busy and unreachable for one more, at least three, so that they have lasted over two "
     "intervals. With --json each line is an object: type \"change\", time, target, kind, "
     "previous (null at the start), state, detail.",
     "krv520-cli watch --interval 10 --targets shop.targets --exec /usr/local/bin/page-staff"},
    {"completion", Action::Completion, "bash|fish|zsh",
     "Prints the script that lets the shell complete krv520-cli's commands, options, settings, "
     "entries, queues and file names. The installed copies are found by bash-completion, fish "
     "and zsh's compinit by themselves.",
     "source <(krv520-cli completion bash)"},
};

constexpr OptionInfo Options[] = {
    {"set", "SETTING=ENTRY", ValueKind::Choice,
     "May be repeated. SETTING is the label, with or without its colon, or the list name, in any "
     "case. ENTRY is the exact entry text or its index, as \"list\" shows them.",
     bit(Action::Download)},
    {"profile", "FILE", ValueKind::File,
     "Choices from a profile: one SETTING=ENTRY a line, # starts a comment, an entry in double "
     "quotes keeps blanks at its ends. A --set for the same setting wins over the profile. "
     "A regular file of at most 64 KiB.",
     bit(Action::Download)},
    {"dry-run", "", ValueKind::None,
     "Prints what would be sent instead of sending it: for download one command a line (its "
     "bytes in hex, its token, what the token does, the setting and entry it comes from), for "
     "test-print a hex dump.",
     bit(Action::Download) | bit(Action::TestPrint)},
    {"jobs", "N", ValueKind::Number,
     "Serves up to N printers at once (1 to 1024, default 32); results still come in the order "
     "of the connections. Two connections to the same printer never run at once. --jobs 1 "
     "serves them one after another. discover: connections open at once (default 256).",
     FleetSenders | Discover | bit(Action::Watch)},
    {"retry", "N", ValueKind::Number,
     "Tries a printer up to N more times (0 to 100, default 0) when it refused the connection "
     "or did not answer it, or its serial port was held by another program. A job that failed once "
     "bytes had gone out is never sent again.",
     FleetSenders},
    {"retry-wait", "SECONDS", ValueKind::Number,
     "The wait before the first retry (0 to 3600, default 1, fractions allowed); each further "
     "wait is twice the one before.",
     FleetSenders},
    {"json", "", ValueKind::None,
     "One JSON object a line per printer: type \"result\", target, kind (tcp, queue, file, "
     "serial), outcome (ok or failed), error and description (null when ok), bytes (handed "
     "over; null when unknown), ms, tries; where the printer was asked how it is (status, and "
     "download and test-print without --no-status) also status (its word), code (its exit "
     "status) and detail; then one with type \"summary\", ok, failed, total, ms. discover: "
     "type \"found\" with target, address, port, kind (printer, busy, other), status, code and "
     "detail (--local: type \"device\" with target, device, status, detail, identity, access), "
     "then a summary. watch prints one object per change instead, as its description says.",
     FleetSenders | Discover | bit(Action::Watch)},
    {"no-status", "", ValueKind::None,
     "Does not ask the printer how it is after the job (for a printer that misbehaves when "
     "asked); the result line then has no status.",
     Jobs},
    {"require-ready", "", ValueKind::None,
     "A job delivered to a printer that is not ready (or cannot say) fails the command with "
     "the status command's exit code for its condition, the most severe printer's with several.",
     Jobs},
    {"force", "", ValueKind::None,
     "Replaces an existing FILE if it is a regular file the user may write to. discover: tries "
     "ranges of more than 65536 addresses.",
     bit(Action::Profile) | Discover},
    {"tcp", "HOST[:PORT]", ValueKind::Host,
     "A network printer; the port defaults to 9100. Write an IPv6 address with a port as "
     "[ADDR]:PORT.",
     Senders},
    {"queue", "NAME", ValueKind::Queue, "A print spooler (CUPS) queue; it should be raw.", Senders},
    {"file", "PATH", ValueKind::File,
     "A file or a device node such as /dev/usb/lp0. A device is written as it is; a regular file "
     "is "
     "replaced only when complete, never when it is read-only; a FIFO, socket or folder is "
     "refused.",
     Senders},
    {"serial", "DEVICE[:SPEED[,FRAME[,FLOW]]]", ValueKind::File,
     "A printer on a serial line, e.g. /dev/ttyUSB0:38400,8N1,rtscts. SPEED in baud (default "
     "9600), FRAME data bits 7 or 8, parity N, E or O, stop bits 1 or 2 (default 8N1), FLOW none, "
     "rtscts or xonxoff (default none). A device path containing ':' is given with its speed.",
     Senders},
    {"targets", "FILE", ValueKind::File,
     "Connections from a file, one a line: \"tcp HOST[:PORT]\", \"queue NAME\", \"file PATH\" or "
     "\"serial DEVICE[:SPEED[,FRAME[,FLOW]]]\"; "
     "# starts a comment. A regular UTF-8 file of at most 1 MiB.",
     Senders},
    {"port", "LIST", ValueKind::Number, "The ports to try, separated by commas (default 9100).",
     Discover},
    {"timeout-ms", "MS", ValueKind::Number,
     "How long a connection may take to open (1 to 60000, default 300).", Discover},
    {"all", "", ValueKind::None, "Lists open ports that do not answer as a printer too.", Discover},
    {"targets-out", "FILE", ValueKind::File,
     "Writes the printers found as a targets file (busy ones in comments) that the other commands "
     "take; a regular file is replaced, anything else is refused.",
     Discover},
    {"local", "", ValueKind::None,
     "Lists this machine's serial ports (with their USB identities where known) and USB printer "
     "devices (/dev/usb/lp*) instead of sweeping a network.",
     Discover},
    {"no-probe", "", ValueKind::None, "With --local: does not ask the devices for their status.",
     Discover},
    {"serial-speed", "BAUD", ValueKind::Number,
     "With --local: the speed serial ports are asked at (default 9600, 8N1).", Discover},
    {"device-dir", "DIR", ValueKind::File,
     "With --local: the device links in DIR instead of the system's folders (/dev/serial/by-id, "
     "/dev/usb and the serial ports the system lists).",
     Discover},
    {"interval", "SECONDS", ValueKind::Number,
     "How often each printer is asked (1 to 86400, default 30); each printer keeps a random "
     "place in the first quarter of the interval, so a fleet is not asked in one burst.",
     bit(Action::Watch)},
    {"confirm", "N", ValueKind::Number,
     "Polls a new state must hold before it is reported (1 to 100, default 2), so a flicker is "
     "not an alert.",
     bit(Action::Watch)},
    {"exec", "COMMAND", ValueKind::File,
     "Runs COMMAND (split into words at blanks, double quotes keeping blanks; run without a "
     "shell) for each line "
     "printed, with KRV520_TARGET, KRV520_KIND, KRV520_STATE, KRV520_PREVIOUS (empty at the "
     "start), KRV520_DETAIL and KRV520_TIME in its environment; up to --jobs at once. Its output "
     "is dropped, its standard error kept; a failure, or a run over 60 s, is reported on "
     "standard error and the watch goes on.",
     bit(Action::Watch)},
    {"metrics", "ADDRESS:PORT", ValueKind::Host,
     "Serves Prometheus' text format at http://ADDRESS:PORT/metrics (a numeric address; port 0 "
     "picks a free one, said on standard error): per printer krv520_printer_up, "
     "krv520_printer_state (1 for its state, 0 for the others), "
     "krv520_printer_last_change_timestamp_seconds and krv520_printer_poll_duration_seconds; "
     "krv520_watch_polls_total, krv520_watch_poll_failures_total and "
     "krv520_watch_exec_failures_total.",
     bit(Action::Watch)},
};

// The options that name a printer; a usage line shows them as CONNECTION.
bool isConnection(const OptionInfo &option) {
    for (const char *name : {"tcp", "queue", "file", "serial", "targets"})
        if (qstrcmp(option.name, name) == 0)
            return true;
    return false;
}

// `units` on lines no wider than `width`, every line but the first indented
// by `indent`; a unit is never split.
QString wrappedUnits(const QStringList &units, int indent, int width) {
    QString out;
    int column = indent;
    for (const QString &word : units) {
        if (column > indent && column + 1 + word.size() > width) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (column > indent) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += int(word.size());
    }
    return out;
}

// Words of `text` on lines no wider than `width`, every line but the first
// indented by `indent`.
QString wrapped(const QString &text, int indent, int width) {
    return wrappedUnits(text.split(QLatin1Char(' '), Qt::SkipEmptyParts), indent, width);
}

// "krv520-cli download [--set SETTING=ENTRY ...] ... [CONNECTION ...]": every
// option the command takes, from the same table the parser reads, so that
// the line cannot leave one out.
QString usageLine(const CommandInfo &command, int width) {
    const QString head = QStringLiteral("Usage: krv520-cli %1").arg(QLatin1String(command.name));
    QStringList units;
    if (*command.arguments)
        units += QString::fromLatin1(command.arguments).split(QLatin1Char(' '));
    bool connections = false;
    for (const OptionInfo &o : Options) {
        if (!o.appliesTo(command.action))
            continue;
        if (isConnection(o)) {
            connections = true;
            continue;
        }
        const QString name = QStringLiteral("--") + QLatin1String(o.name);
        // An option the arguments already name ("discover RANGE... | --local").
        if (units.contains(name))
            continue;
        QString unit = QStringLiteral("[") + name;
        if (*o.valueName)
            unit += QLatin1Char(' ') + QLatin1String(o.valueName);
        if (o.value == ValueKind::Choice)
            unit += QStringLiteral(" ...");
        units += unit + QLatin1Char(']');
    }
    if (connections)
        units += QStringLiteral("[CONNECTION ...]");
    return head + QLatin1Char(' ') + wrappedUnits(units, int(head.size()) + 1, width);
}

} // namespace

std::span<const CommandInfo> commands() {
    return Commands;
}

std::span<const OptionInfo> options() {
    return Options;
}

const CommandInfo *findCommand(const QString &name) {
    for (const CommandInfo &c : Commands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

const OptionInfo *findOption(const QString &name) {
    for (const OptionInfo &o : Options)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

QString commandHelpText(const CommandInfo &command) {
    constexpr int Column = 29;
    constexpr int Width = 79;
    QString text = usageLine(command, Width);
    text += QStringLiteral("\n\n") + wrapped(QLatin1String(command.summary), 0, Width) +
            QStringLiteral("\n\nOptions:\n");
    bool connections = false;
    auto addOption = [&](const QString &left, const QString &description) {
        QString line = QStringLiteral("  ") + left;
        if (line.size() < Column)
            line = line.leftJustified(Column);
        else
            line += QLatin1Char('\n') + QString(Column, QLatin1Char(' '));
        text += line + wrapped(description, Column, Width) + QLatin1Char('\n');
    };
    for (const OptionInfo &o : Options) {
        if (!o.appliesTo(command.action))
            continue;
        QString left = QStringLiteral("--") + QLatin1String(o.name);
        if (*o.valueName)
            left += QLatin1Char(' ') + QLatin1String(o.valueName);
        addOption(left, QLatin1String(o.description));
        connections = connections || isConnection(o);
    }
    addOption(QStringLiteral("-h, --help"), QStringLiteral("This text."));
    if (connections)
        text += QStringLiteral(
            "\nCONNECTION is any of --tcp, --queue, --file, --serial and --targets,\n"
            "repeated and mixed; without one, the connection saved by the window\n"
            "program is used.\n");
    text += QStringLiteral("\nExample:\n  %1\n").arg(QLatin1String(command.example));
    return text;
}

} // namespace krv::cli
