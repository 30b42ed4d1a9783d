#pragma once

#include "ConnectionSettings.h"
#include "Discover.h"
#include "Fleet.h"
#include "WatchOptions.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace krv::cli {

enum class Action {
    Usage,
    Version,
    List,
    TopicHelp,
    Download,
    Profile,
    TestPrint,
    Check,
    Status,
    Completion, // completion SHELL: the shell's completion script
    Complete,   // the script asking for the words that complete a command line
    Discover,   // discover RANGE... or --local: find printers
    Watch,      // polls printers until stopped, reporting changes
};

// Where a job goes: a connection given on the command line, or a targets
// file read when the command runs. Kept in the order given.
struct TargetSource {
    enum class Kind { Connection, TargetsFile } kind = Kind::Connection;
    comm::ConnectionSettings connection;
    QString targetsFile;
};

struct Command {
    Action action = Action::Usage;
    QString topic;           // help SETTING
    QStringList assignments; // --set SETTING=ENTRY, in order
    QString profilePath;     // download --profile FILE
    QString outputPath;      // profile [FILE]; empty or "-" for standard output
    bool force = false;      // profile --force: replace an existing file
    bool dryRun = false;
    FleetOptions fleet;                // --jobs, --retry, --retry-wait
    bool json = false;                 // results as JSON lines
    bool askStatus = true;             // download, test-print: ask the printer after the job
    bool requireReady = false;         // download, test-print: a printer not ready fails
    std::vector<TargetSource> targets; // none: the window program's stored connection
    QString usageOf;                   // Usage: the command whose help is asked for, or all
    QString shell;                     // completion SHELL
    QStringList words;                 // Complete: what the completion script passes on
    DiscoverRequest discover;          // discover: its ranges and options
    WatchOptions watch;                // --interval, --confirm, --exec, --metrics
};

// Parses the arguments after the program name. Throws krv::RuntimeError
// (a usage error) for an unknown command or option, a missing value, or an
// option the command does not take.
[[nodiscard]] Command parseCommandLine(const QStringList &arguments);

// Empty when every argument after the program name is valid text in the
// locale's encoding; otherwise why the first one that is not is refused.
// Decoded, such an argument holds replacement characters, and as a file name
// it would name a different file.
[[nodiscard]] QString undecodableArgument(int argc, const char *const *argv);

// The whole --help text.
[[nodiscard]] QString usageText();

inline constexpr int ExitOk = 0;
inline constexpr int ExitUsage = 1;
inline constexpr int ExitFailure = 2;

} // namespace krv::cli
