#include "CommandLine.h"

#include "CliErrors.h"
#include "Commands.h"
#include "Digits.h"
#include "Quote.h"
#include "RuntimeError.h"
#include "SerialTarget.h"
#include "Targets.h"

#include <QCommandLineParser>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace krv::cli {

using namespace krv::profile;

namespace {

using Kind = comm::ConnectionSettings::Kind;

[[noreturn]] void usageError(const QString &text) {
    throw RuntimeError(errors::BadArgument, text);
}

// The bytes as they were, printable ASCII kept and everything else as \xNN.
QString escapedBytes(const QByteArray &bytes) {
    constexpr qsizetype Shown = 60;
    QString text;
    for (qsizetype i = 0; i < std::min(bytes.size(), Shown); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\' && byte != '"')
            text += QLatin1Char(char(byte));
        else
            text += QStringLiteral("\\x%1").arg(
                QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    }
    if (bytes.size() > Shown)
        text += QStringLiteral("...");
    return text;
}

QString commandList() {
    QStringList names;
    for (const CommandInfo &c : commands())
        names.append(QLatin1String(c.name));
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The option an argument names, as typed: "--set" for "--set=a".
QString optionArgument(const QString &argument) {
    return argument.section(QLatin1Char('='), 0, 0);
}

// QCommandLineParser words its complaints its own way; say them as this
// program always has, naming the argument as it was typed.
[[noreturn]] void refuse(const QCommandLineParser &parser, const QStringList &arguments) {
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
            continue;
        const QString typed = optionArgument(argument);
        const QString name = typed.mid(typed.startsWith(QLatin1String("--")) ? 2 : 1);
        if (!unknown.isEmpty()) {
            if (name == unknown.constFirst())
                usageError(QStringLiteral("%1 is not an option; see \"krv520-cli --help\".")
                               .arg(quoted(typed)));
        } else if (const OptionInfo *o = findOption(name);
                   o && !*o->valueName && argument.contains(QLatin1Char('='))) {
            usageError(QStringLiteral("%1 takes no value.").arg(typed));
        }
    }
    // What is left: the last argument is an option whose value is missing.
    if (unknown.isEmpty() && !arguments.isEmpty())
        usageError(QStringLiteral("%1 needs a value.").arg(arguments.constLast()));
    usageError(parser.errorText());
}

// Seconds as digits with at most three after a point, e.g. "1" or "0.25".
std::chrono::milliseconds secondsValue(const QString &option, const QString &text) {
    static const QRegularExpression shape(QStringLiteral("^[0-9]{1,4}(\\.[0-9]{1,3})?$"));
    const auto ms = std::chrono::milliseconds(qRound64(text.toDouble() * 1000));
    if (!shape.match(text).hasMatch() || ms > MaxRetryWait)
        usageError(QStringLiteral("%1 needs seconds from 0 to %2, such as 1 or 0.5, not %3.")
                       .arg(option)
                       .arg(MaxRetryWait.count() / 1000)
                       .arg(quoted(text)));
    return ms;
}

void applyOption(Command &command, const QString &name, const QString &value) {
    if (name == QLatin1String("set")) {
        command.assignments.append(value);
    } else if (name == QLatin1String("profile")) {
        if (!command.profilePath.isEmpty())
            usageError(QStringLiteral("--profile may be given once."));
        command.profilePath = value;
        if (command.profilePath.isEmpty())
            usageError(QStringLiteral("--profile needs a file name."));
    } else if (name == QLatin1String("dry-run")) {
        command.dryRun = true;
    } else if (name == QLatin1String("jobs") && command.action == Action::Discover) {
        command.discover.jobs = wholeNumber(QStringLiteral("--jobs"), value, 1, MaxJobs);
    } else if (name == QLatin1String("jobs")) {
        command.fleet.jobs = wholeNumber(QStringLiteral("--jobs"), value, 1, MaxJobs);
    } else if (name == QLatin1String("retry")) {
        command.fleet.retry = wholeNumber(QStringLiteral("--retry"), value, 0, MaxRetries);
    } else if (name == QLatin1String("retry-wait")) {
        command.fleet.retryWait = secondsValue(QStringLiteral("--retry-wait"), value);
    } else if (name == QLatin1String("json")) {
        command.json = true;
        command.discover.json = true;
    } else if (name == QLatin1String("no-status")) {
        command.askStatus = false;
    } else if (name == QLatin1String("require-ready")) {
        command.requireReady = true;
    } else if (name == QLatin1String("force")) {
        command.force = true;
        command.discover.force = true;
    } else if (name == QLatin1String("tcp")) {
        TargetSource source;
        source.connection = parseTcpTarget(value);
        command.targets.push_back(source);
    } else if (name == QLatin1String("queue")) {
        TargetSource source;
        source.connection.kind = Kind::Spooler;
        source.connection.queue = value;
        command.targets.push_back(source);
    } else if (name == QLatin1String("file")) {
        TargetSource source;
        source.connection.kind = Kind::File;
        source.connection.path = value;
        if (source.connection.path.isEmpty())
            usageError(QStringLiteral("--file needs a path."));
        command.targets.push_back(source);
    } else if (name == QLatin1String("serial")) {
        TargetSource source;
        source.connection = parseSerialTarget(value);
        command.targets.push_back(source);
    } else if (name == QLatin1String("targets")) {
        TargetSource source;
        source.kind = TargetSource::Kind::TargetsFile;
        source.targetsFile = value;
        if (source.targetsFile.isEmpty())
            usageError(QStringLiteral("--targets needs a file name."));
        command.targets.push_back(source);
    } else {
        if (!applyDiscoverOption(command.discover, name, value))
            (void)applyWatchOption(command.watch, name, value);
    }
}

} // namespace

QString undecodableArgument(int argc, const char *const *argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QString::fromLocal8Bit(raw).toLocal8Bit() != raw)
            return QStringLiteral("Argument %1 (\"%2\") is not valid text in this system's "
                                  "character encoding; it would name a different file, so "
                                  "nothing was done.")
                .arg(i)
                .arg(escapedBytes(raw));
    }
    return {};
}

Command parseCommandLine(const QStringList &arguments) {
    Command command;
    // The completion script's words go on as they are: they may hold anything,
    // "--help" included.
    if (!arguments.isEmpty() && arguments.constFirst() == QLatin1String("__complete")) {
        command.action = Action::Complete;
        command.words = arguments.mid(1);
        return command;
    }
    const CommandInfo *info = arguments.isEmpty() ? nullptr : findCommand(arguments.constFirst());

    // Asking for help wins over any mistake elsewhere on the line.
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            if (info)
                command.usageOf = QLatin1String(info->name);
            return command;
        }
    }
    if (!info && !arguments.isEmpty() && !arguments.constFirst().startsWith(QLatin1Char('-')))
        throw RuntimeError(errors::UnknownCommand,
                           QStringLiteral("%1 is not a command; the commands are %2.")
                               .arg(quoted(arguments.constFirst()), commandList()));

    // QCommandLineParser cannot give each command options of its own, so the
    // command word is taken above and the parser gets what follows it. It
    // knows every option, so that one given to the wrong command is named as
    // such below rather than as unknown.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionInfo &o : options())
        parser.addOption(
            QCommandLineOption(QLatin1String(o.name), QString(), QLatin1String(o.valueName)));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    const QStringList rest = info ? arguments.mid(1) : arguments;
    const bool parsed = parser.parse(QStringList{QStringLiteral("krv520-cli")} + rest);
    if (parser.isSet(QStringLiteral("version"))) {
        command.action = Action::Version;
        return command;
    }
    if (!parsed)
        refuse(parser, rest);
    if (info)
        command.action = info->action;

    // Options apply in the order given: connections are used in that order.
    QHash<QString, qsizetype> used;
    for (const QString &name : parser.optionNames()) {
        const OptionInfo *option = findOption(name);
        const QString typed = QStringLiteral("--") + name;
        if (!info)
            usageError(QStringLiteral("%1 must follow a command, e.g. \"krv520-cli download %1 "
                                      "...\".")
                           .arg(typed));
        if (!option->appliesTo(command.action))
            usageError(QStringLiteral("%1 does not apply to this command.").arg(typed));
        applyOption(command, name,
                    *option->valueName ? parser.values(name).value(used[name]++) : QString());
    }

    if (command.requireReady && !command.askStatus)
        usageError(QStringLiteral("--require-ready needs the printer's answer, so it cannot go "
                                  "with --no-status."));

    const QStringList positional = parser.positionalArguments();
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
    case Action::Completion:
        if (positional.size() != 1)
            usageError(QStringLiteral("completion takes the name of a shell: bash, fish or zsh."));
        command.shell = positional.constFirst();
        if (command.shell != QLatin1String("bash") && command.shell != QLatin1String("fish") &&
            command.shell != QLatin1String("zsh"))
            usageError(QStringLiteral("%1 is not a shell krv520-cli completes in; it "
                                      "completes in bash, fish and zsh.")
                           .arg(quoted(command.shell)));
        break;
    case Action::Discover:
        command.discover.ranges = positional;
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
  download [CHOICES] [FLEET] [AFTER] [CONNECTION] [--dry-run]
                             Sends the chosen settings to the printer.
                             Settings not chosen stay as the printer has them.
  profile [FILE] [--force]   Writes a profile template (to standard output
                             without FILE); --force replaces an existing FILE
                             if it is a regular file the user may write to.
  test-print [FLEET] [AFTER] [CONNECTION] [--dry-run]
                             Prints the test page.
  check [CONNECTION]         Tries the connection without sending anything
                             the printer prints, and says what is wrong and
                             how to fix it, the printer's status included.
  status [FLEET] [CONNECTION]
                             Asks each printer whether it is ready: one
                             line per printer, the exit status below.
  discover RANGE... [--port LIST] [--timeout-ms MS] [--jobs N] [--all]
           [--force] [--json] [--targets-out FILE]
                             Finds printers on address ranges (192.168.1.0/24,
                             FIRST-LAST; numbers only, never host names) and
                             lists them with their status; "discover --help"
                             has its options.
  discover --local [--no-probe] [--serial-speed BAUD] [--device-dir DIR]
           [--json] [--targets-out FILE]
                             Lists this machine's serial and USB printer
                             ports, each asked for its status.
  watch [--interval SECONDS] [--confirm N] [--exec COMMAND]
        [--metrics ADDRESS:PORT] [--jobs N] [--json] [CONNECTION]
                             Asks each printer every --interval seconds and
                             prints a line when its state changes; see
                             "krv520-cli watch --help".
  completion bash|fish|zsh   Prints the script that lets the shell complete
                             the commands, options, settings, entries,
                             queues and file names.

Choices (CHOICES: download):
  --set SETTING=ENTRY        May be repeated. SETTING is the label, with or
                             without its colon, or the list name, in any case
                             ("Print Speed", "Print Speed:", "cmbSpeed").
                             ENTRY is the exact entry text or its index, as
                             "list" shows them ("Low (50mm/s)" or 3).
  --profile FILE             Choices from a profile: one SETTING=ENTRY a line,
                             lines starting with # are comments, an entry in
                             double quotes keeps blanks at its ends. A --set
                             for the same setting wins over the profile.
                             A regular file of at most 64 KiB.
  --dry-run                  Prints what would be sent instead of sending:
                             for download one command a line (its bytes in
                             hex, its token, what the token does, the
                             setting and entry it comes from); for
                             test-print a hex dump.

Many printers (FLEET: download, test-print, status):
  --jobs N                   Serves up to N printers at once (1 to 1024,
                             default 32). Two connections to the same
                             printer never run at once; --jobs 1 serves
                             them one after another.
  --retry N                  Tries a printer up to N more times (0 to 100,
                             default 0) when it refused the connection,
                             did not answer it, or its serial port was
                             held by another program. A job that failed once bytes
                             had gone out is never sent again.
  --retry-wait SECONDS       The wait before the first retry (default 1);
                             each further wait is twice the one before.
  --json                     One JSON object a line per printer, in the
                             order of the connections:
                               type "result", target, kind (tcp, queue,
                               file, serial), outcome ("ok" or "failed"),
                               error and description (null when ok), bytes
                               (handed over; null when unknown), ms, tries;
                               for status also status (its word), code
                               (its exit status) and detail;
                             then one with type "summary", ok, failed,
                             total, ms.

After the job (AFTER: download, test-print):
  Each printer that can answer over its connection (TCP/IP, serial, a
  device it can be read from) is asked how it is once its job is out, as
  "status" asks (within 1 s); its result line then ends in
  <TAB>WORD<TAB>DETAIL and its JSON line has status, code and detail. A
  delivered job still exits 0.
  --no-status                Does not ask (for a printer that misbehaves
                             when asked).
  --require-ready            Exits with the status code of the most severe
                             printer, as "status" does, when one is not
                             ready after its job (or cannot say).

Connection (CONNECTION: download, test-print, check, status, watch):
  --tcp HOST[:PORT]          A network printer; the port defaults to 9100.
                             Write an IPv6 address with a port as [ADDR]:PORT.
  --queue NAME               A print spooler (CUPS) queue; it should be raw.
  --file PATH                A file or a device node such as /dev/usb/lp0.
                             A device is written as it is; a regular file is
                             replaced only when complete, never when it is
                             read-only; a FIFO, socket or folder is refused.
  --serial DEVICE[:SPEED[,FRAME[,FLOW]]]
                             A printer on a serial line (RS-232, USB serial
                             adapter, Bluetooth /dev/rfcomm0), e.g.
                             /dev/ttyUSB0:38400,8N1,rtscts. SPEED in baud
                             (default 9600), FRAME data bits 7 or 8, parity
                             N, E or O, stop bits 1 or 2 (default 8N1), FLOW
                             none, rtscts or xonxoff (default none). A device
                             path containing ':' is given with its speed.
  --targets FILE             Connections from a file, one a line:
                             "tcp HOST[:PORT]", "queue NAME", "file PATH" or
                             "serial DEVICE[:SPEED[,FRAME[,FLOW]]]";
                             lines starting with # are comments. A regular
                             UTF-8 file of at most 1 MiB.
  Connection options may be repeated and mixed; the job goes to every
  printer, and one result line is printed per printer in the order given
  (" after N tries" is added when it took more than one), then a count
  ("N ok, M failed") on standard error:
      ok<TAB>CONNECTION<TAB>sent N bytes
      failed<TAB>CONNECTION<TAB>error NUMBER: DESCRIPTION
  Without a connection option, the connection saved by the window program
  (under "KRV520Config") is used.

Other options:
  -h, --help                 This text; after a command ("krv520-cli
                             download --help"), that command's options and
                             an example.
  --version                  The program's version.

Exit status:
  0  everything was sent (check: every connection is fine)
  1  usage error: unknown command, option, setting or entry, or a malformed
     profile or targets file; nothing was sent
  2  connection or I/O failure on at least one printer, a file that could
     not be read or written, or output that could not be written (check: a
     problem was found)
  status: 0 ready, 2 connection or I/O failure, 3 paper near its end
  (otherwise ready), 4 paper end, 5 cover open, 6 offline or an error for
  another reason, 7 no status answer (or none possible: spooler, file). With
  several printers the most severe wins, in this order: 2, 6, 5, 4, 7 (no
  answer), 3, 0, and 7 for spooler or file only when no printer could be
  asked. Its lines, then a count ("N ok, M failed") on standard error:
      WORD<TAB>CONNECTION<TAB>DETAIL
  WORD being ready, near-end, paper-end, cover-open, not-ready, no-answer,
  unavailable or failed.

Examples:
  krv520-cli list
  krv520-cli help "Print Speed"
  krv520-cli download --set "Print Speed=Low (50mm/s)" --set cmbZStyle=2 \
      --tcp 192.168.1.50
  krv520-cli profile shop.profile
  krv520-cli download --profile shop.profile --targets printers.txt
  krv520-cli download --profile shop.profile --dry-run
  krv520-cli check --queue KRV520
  krv520-cli status --targets printers.txt
)usage");
}

} // namespace krv::cli
