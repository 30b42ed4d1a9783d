// The bash completion script the program prints, run in a real bash as bash
// runs it on Tab, and every command's own --help.
#include "CliTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Program = QStringLiteral(KRV_CLI_PATH);

// Sources the script, sets COMP_* from its arguments, calls the function
// `complete -p` names and prints per reply: the reply, the last argument of
// the completed line as bash parses it, and (with dry run) what
// "download --dry-run" makes of the completed line. compopt only works inside
// a real completion, so here it just notes what it was asked.
const char *Harness = R"sh(
script=$1 dryrun=$2 COMP_LINE=$3 COMP_POINT=$4 COMP_CWORD=$5 replaced=$6 quote=$7
shift 7
COMP_WORDS=("$@")
source "$script" || exit 3
registered=$(complete -p krv520-cli) || exit 4
fn=${registered#*-F } fn=${fn%% *}
options=
compopt() { options+=" $*"; }
"$fn" krv520-cli "$replaced" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\0' "$options"
for reply in "${COMPREPLY[@]}"; do
    completed=${COMP_LINE:0:${#COMP_LINE}-${#replaced}}$reply$quote
    eval "parsed=( $completed )"
    printf '%s\0%s\0' "$reply" "${parsed[-1]}"
    [[ $dryrun == 1 ]] && "${parsed[0]}" "${parsed[@]:1}" --dry-run
    printf '\0'
done
)sh";

struct Reply {
    QString raw;
    QString argument; // as the program gets it
    QString dryRun;
};

struct Outcome {
    QString options; // what compopt was asked
    QList<Reply> replies;
};

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QStringList tokensOf(const QString &dryRun) {
    QStringList tokens;
    for (const auto &m : QRegularExpression("  (#[-+W][0-9A-F]{5})  ").globalMatch(dryRun))
        tokens.append(m.captured(1));
    return tokens;
}

} // namespace

class TestCliCompletion : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void completesWords_data();
    void completesWords();
    void completedEntrySelectsThatEntry_data();
    void completedEntrySelectsThatEntry();
    void completesFileNames_data();
    void completesFileNames();
    void fishOffersWholeWords_data();
    void fishOffersWholeWords();
    void zshFunctionAddsWholeWords_data();
    void zshFunctionAddsWholeWords();
    void commandHelpShowsItsOwnOptions_data();
    void commandHelpShowsItsOwnOptions();

private:
    Outcome complete(const QString &line, const QStringList &words, const QString &replaced,
                     const QString &quote, bool dryRun);

    QTemporaryDir mDir;
    QString mScript;
};

void TestCliCompletion::initTestCase() {
    QVERIFY(mDir.isValid());
    QProcess process;
    process.start(Program, {"completion", "bash"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    mScript = mDir.filePath("krv520-cli.bash");
    QFile script(mScript);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(process.readAllStandardOutput());
    script.close();
    QFile named(mDir.filePath("my file.txt"));
    QVERIFY(named.open(QIODevice::WriteOnly));
}

// `line` is typed with the cursor at its end; `words` are COMP_WORDS as bash
// splits the line (at blanks and at COMP_WORDBREAKS such as '='), the last
// being COMP_CWORD; `replaced` is the text readline replaces, after `quote`
// if one is left open.
Outcome TestCliCompletion::complete(const QString &line, const QStringList &words,
                                    const QString &replaced, const QString &quote, bool dryRun) {
    QProcess bash;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(Program).path() + ':' + environment.value("PATH"));
    bash.setProcessEnvironment(environment);
    bash.start("bash", QStringList{"--norc", "--noprofile", "-c", Harness, "bash", mScript,
                                   dryRun ? "1" : "0", line, QString::number(line.toUtf8().size()),
                                   QString::number(words.size() - 1), replaced, quote} +
                           words);
    if (!bash.waitForFinished(60000) || bash.exitCode() != 0)
        qFatal("the harness failed: %s", bash.readAllStandardError().constData());
    const QList<QByteArray> fields = bash.readAllStandardOutput().split('\0');
    Outcome outcome;
    outcome.options = QString::fromUtf8(fields.value(0));
    for (qsizetype i = 1; i + 3 < fields.size(); i += 3)
        outcome.replies.append({QString::fromUtf8(fields[i]), QString::fromUtf8(fields[i + 1]),
                                QString::fromUtf8(fields[i + 2])});
    return outcome;
}

void TestCliCompletion::completesWords_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("replaced");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("noSpace");
    const QString cli = "krv520-cli";

    QTest::newRow("command prefix") << "krv520-cli d" << QStringList{cli, "d"} << "d"
                                    << "" << QStringList{"download", "discover"} << false;
    QTest::newRow("every command")
        << "krv520-cli " << QStringList{cli, ""} << ""
        << "" << QStringList{"list",  "help",   "download", "profile", "test-print",
                             "check", "status", "discover", "watch",   "completion"}
        << false;
    const QStringList connections{"--tcp", "--queue", "--file", "--serial", "--targets"};
    const QStringList fleet{"--jobs", "--retry", "--retry-wait", "--json"};
    const QStringList afterJob{"--no-status", "--require-ready"};
    const QStringList discover{"--jobs",       "--json",         "--force",       "--port",
                               "--timeout-ms", "--all",          "--targets-out", "--local",
                               "--no-probe",   "--serial-speed", "--device-dir"};
    const QStringList watch{"--interval", "--confirm", "--exec", "--metrics"};
    const struct {
        const char *command;
        QStringList options;
    } own[] = {
        {"download",
         QStringList{"--set", "--profile", "--dry-run"} + fleet + afterJob + connections},
        {"test-print", QStringList{"--dry-run"} + fleet + afterJob + connections},
        {"check", connections},
        {"status", fleet + connections},
        {"discover", discover},
        {"watch", QStringList{"--jobs", "--json"} + connections + watch},
        {"profile", {"--force"}},
        {"list", {}},
        {"help", {}},
        {"completion", {}},
    };
    for (const auto &[command, options] : own)
        QTest::addRow("options of %s", command) << QStringLiteral("krv520-cli %1 --").arg(command)
                                                << QStringList{cli, command, "--"} << "--"
                                                << "" << options + QStringList{"--help"} << false;
    QTest::newRow("option prefix after an option")
        << "krv520-cli download --dry-run --t" << QStringList{cli, "download", "--dry-run", "--t"}
        << "--t"
        << "" << QStringList{"--tcp", "--targets"} << false;
    QTest::newRow("list-name prefix")
        << "krv520-cli download --set cmbEP" << QStringList{cli, "download", "--set", "cmbEP"}
        << "cmbEP"
        << "" << QStringList{"cmbEPColumns=", "cmbEPFontSize=", "cmbEPSpacing="} << true;
    QTest::newRow("label, blank escaped")
        << "krv520-cli download --set Print\\ S"
        << QStringList{cli, "download", "--set", "Print\\ S"} << "Print\\ S"
        << "" << QStringList{"Print Speed="} << true;
    QTest::newRow("label in double quotes")
        << "krv520-cli download --set \"Carriage"
        << QStringList{cli, "download", "--set", "\"Carriage"} << "Carriage"
        << "\"" << QStringList{"Carriage Return (<CR> code)="} << true;
    QTest::newRow("help topic by label")
        << "krv520-cli help Ze" << QStringList{cli, "help", "Ze"} << "Ze"
        << "" << QStringList{"Zero Style"} << false;
    QTest::newRow("no options after --")
        << "krv520-cli download -- --s" << QStringList{cli, "download", "--", "--s"} << "--s"
        << "" << QStringList{} << false;
}

void TestCliCompletion::completesWords() {
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QFETCH(QString, replaced);
    QFETCH(QString, quote);
    QFETCH(QStringList, arguments);
    QFETCH(bool, noSpace);
    const Outcome outcome = complete(line, words, replaced, quote, false);
    QStringList got;
    for (const Reply &r : outcome.replies)
        got.append(r.argument);
    QCOMPARE(sorted(got), sorted(arguments));
    QCOMPARE(outcome.options.contains("nospace"), noSpace);
}

void TestCliCompletion::completedEntrySelectsThatEntry_data() {
    QTest::addColumn<QString>("typed"); // the line before the entry
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("replaced");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("entryPrefix");  // the part of the entry typed
    QTest::addColumn<QString>("argumentHead"); // the argument up to the entry
    QTest::addColumn<bool>("dryRun");          // also send each completed line

    // Every entry of every setting, offered after "=".
    QStringList combos;
    for (const EntryRow &row : entryTable())
        if (!combos.contains(row.combo))
            combos.append(row.combo);
    const QString cli = "krv520-cli";
    for (const QString &combo : combos)
        QTest::addRow("all of %s", qPrintable(combo))
            << QStringLiteral("krv520-cli download --set %1=").arg(combo)
            << QStringList{cli, "download", "--set", combo, "="} << ""
            << "" << combo << "" << combo + '=' << false;
    QTest::newRow("label in double quotes, entries with a trailing blank")
        << "krv520-cli download --set \"Character Code Page=437"
        << QStringList{cli, "download", "--set", "\"Character Code Page=437"}
        << "Character Code Page=437"
        << "\""
        << "cmbCPage"
        << "437"
        << "Character Code Page=" << true;
    QTest::newRow("trailing blank typed, escaped")
        << "krv520-cli download --set cmbCPage=437\\(USA,std.\\ Europe\\)\\ "
        << QStringList{cli, "download", "--set", "cmbCPage", "=", "437\\(USA,std.\\ Europe\\)\\ "}
        << "437\\(USA,std.\\ Europe\\)\\ "
        << ""
        << "cmbCPage"
        << "437(USA,std. Europe) "
        << "cmbCPage=" << true;
    QTest::newRow("label escaped, entries with #")
        << "krv520-cli download --set International\\ Character\\ Set:=Denmark"
        << QStringList{cli, "download", "--set", "International\\ Character\\ Set", ":=", "Denmark"}
        << "Denmark"
        << ""
        << "cmbIntCSet"
        << "Denmark"
        << "International Character Set:=" << true;
    QTest::newRow("label in single quotes")
        << "krv520-cli download --set 'Print Density=1"
        << QStringList{cli, "download", "--set", "'Print Density=1"} << "Print Density=1"
        << "'"
        << "cmbDensity"
        << "1"
        << "Print Density=" << true;
    QTest::newRow("value joined to the option")
        << "krv520-cli download --set=cmbEPFontSize=L"
        << QStringList{cli, "download", "--set", "=", "cmbEPFontSize", "=", "L"} << "L"
        << ""
        << "cmbEPFontSize"
        << "L"
        << "--set=cmbEPFontSize=" << true;
}

void TestCliCompletion::completedEntrySelectsThatEntry() {
    QFETCH(QString, typed);
    QFETCH(QStringList, words);
    QFETCH(QString, replaced);
    QFETCH(QString, quote);
    QFETCH(QString, combo);
    QFETCH(QString, entryPrefix);
    QFETCH(QString, argumentHead);
    QFETCH(bool, dryRun);

    QMap<QString, QStringList> expected; // argument -> tokens sent
    for (const EntryRow &row : entryTable())
        if (row.combo == combo && row.text.startsWith(entryPrefix))
            expected.insert(argumentHead + row.text, row.tokens + QStringList{"#W00000"});
    QVERIFY(!expected.isEmpty());

    const Outcome outcome = complete(typed, words, replaced, quote, dryRun);
    QVERIFY(!outcome.options.contains("nospace"));
    QStringList got;
    for (const Reply &r : outcome.replies) {
        got.append(r.argument);
        QVERIFY2(expected.contains(r.argument), qPrintable(r.raw));
        if (dryRun)
            QCOMPARE(tokensOf(r.dryRun), expected.value(r.argument));
    }
    QCOMPARE(sorted(got), sorted(expected.keys()));
}

void TestCliCompletion::completesFileNames_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("replaced");
    const QString cli = "krv520-cli";
    const QString typed = mDir.filePath("my");
    QTest::newRow("--targets=") << "krv520-cli check --targets=" + typed
                                << QStringList{cli, "check", "--targets", "=", typed} << typed;
    QTest::newRow("profile FILE") << "krv520-cli profile " + typed
                                  << QStringList{cli, "profile", typed} << typed;
}

void TestCliCompletion::completesFileNames() {
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QFETCH(QString, replaced);
    const Outcome outcome = complete(line, words, replaced, "", false);
    // Readline quotes file names itself when told they are file names.
    QVERIFY(outcome.options.contains("filenames"));
    QCOMPARE(outcome.replies.size(), 1);
    QCOMPARE(outcome.replies[0].raw, mDir.filePath("my file.txt"));
}

void TestCliCompletion::fishOffersWholeWords_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("candidates");
    QTest::newRow("entries with and without a trailing blank")
        << "krv520-cli download --set cmbCPage=437"
        << QStringList{"cmbCPage=437(USA,std. Europe)", "cmbCPage=437(USA,std. Europe) "};
    QTest::newRow("label in quotes")
        << "krv520-cli download --set \"Print Sp" << QStringList{"Print Speed="};
    QTest::newRow("entries with #, value joined")
        << "krv520-cli download --set=cmbIntCSet=Den"
        << QStringList{"--set=cmbIntCSet=Denmark #1", "--set=cmbIntCSet=Denmark #2"};
    QTest::newRow("file name") << "krv520-cli profile " + mDir.filePath("my")
                               << QStringList{mDir.filePath("my file.txt")};
}

// fish quotes what it inserts itself, so its candidates are the arguments
// themselves; "complete -C" lists them as fish finds them on Tab.
void TestCliCompletion::fishOffersWholeWords() {
    QFETCH(QString, line);
    QFETCH(QStringList, candidates);
    const QString fish = QStandardPaths::findExecutable("fish");
    if (fish.isEmpty())
        QSKIP("fish is not installed (scripts/install-deps.sh installs it)");
    QProcess script;
    script.start(Program, {"completion", "fish"});
    QVERIFY(script.waitForFinished(20000));
    QCOMPARE(script.exitCode(), 0);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(Program).path() + ':' + environment.value("PATH"));
    environment.insert("HOME", mDir.path());
    process.setProcessEnvironment(environment);
    process.start(fish, {"--no-config", "-c", "source; complete -C $argv[1]", line});
    process.write(script.readAllStandardOutput());
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    QStringList got;
    for (const QString &entry : QString::fromUtf8(process.readAllStandardOutput()).split('\n'))
        if (!entry.isEmpty())
            got.append(entry.section('\t', 0, 0));
    QCOMPARE(sorted(got), sorted(candidates));
}

void TestCliCompletion::zshFunctionAddsWholeWords_data() {
    QTest::addColumn<QStringList>("words"); // as typed, the last one up to the cursor
    QTest::addColumn<QString>("prefix");    // the last as zsh gives it: an open quote taken off
    QTest::addColumn<QStringList>("added");
    QTest::newRow("entries, quote left open")
        << QStringList{"krv520-cli", "download", "--set", "\"cmbCPage=437"} << "cmbCPage=437"
        << QStringList{"--", "cmbCPage=437(USA,std. Europe) ", "cmbCPage=437(USA,std. Europe)"};
    QTest::newRow("label, blank escaped")
        << QStringList{"krv520-cli", "download", "--set", "Print\\ S"} << "Print\\ S"
        << QStringList{"-S", "", "--", "Print Speed="};
    QTest::newRow("file after --targets=") << QStringList{"krv520-cli", "check", "--targets=/tmp/x"}
                                           << "--targets=/tmp/x" << QStringList{"_files"};
}

// Inside a real completion zsh's compadd inserts the words quoted; outside
// one (as here) compadd, compdef and _files cannot run, so they just print
// what they were given.
void TestCliCompletion::zshFunctionAddsWholeWords() {
    QFETCH(QStringList, words);
    QFETCH(QString, prefix);
    QFETCH(QStringList, added);
    const QString zsh = QStandardPaths::findExecutable("zsh");
    if (zsh.isEmpty())
        QSKIP("zsh is not installed (scripts/install-deps.sh installs it)");
    QProcess script;
    script.start(Program, {"completion", "zsh"});
    QVERIFY(script.waitForFinished(20000));
    QFile file(mDir.filePath("_krv520-cli"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(script.readAllStandardOutput());
    file.close();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(Program).path() + ':' + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.start(zsh,
                  QStringList{"-f", "-c",
                              "compdef() { :; }; compset() { :; }; _files() { print _files; }\n"
                              "compadd() { print -rl -- \"$@\"; }\n"
                              "source $1; PREFIX=$2; shift 2; words=(\"$@\") CURRENT=$#\n"
                              "_krv520-cli",
                              "zsh", file.fileName(), prefix} +
                      words);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).split('\n'),
             added + QStringList{""});
}

void TestCliCompletion::commandHelpShowsItsOwnOptions_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("options");
    const QStringList connections{"--tcp", "--queue", "--file", "--serial", "--targets"};
    const QStringList fleet{"--jobs", "--retry", "--retry-wait", "--json"};
    const QStringList afterJob{"--no-status", "--require-ready"};
    QTest::newRow("list") << "list" << QStringList{};
    QTest::newRow("help") << "help" << QStringList{};
    QTest::newRow("download") << "download"
                              << QStringList{"--set", "--profile", "--dry-run"} + fleet + afterJob +
                                     connections;
    QTest::newRow("profile") << "profile" << QStringList{"--force"};
    QTest::newRow("test-print") << "test-print"
                                << QStringList{"--dry-run"} + fleet + afterJob + connections;
    QTest::newRow("check") << "check" << connections;
    QTest::newRow("status") << "status" << fleet + connections;
    QTest::newRow("discover") << "discover"
                              << QStringList{"--jobs",       "--json",       "--force",
                                             "--port",       "--timeout-ms", "--all",
                                             "--local",      "--no-probe",   "--serial-speed",
                                             "--device-dir", "--targets-out"};
    QTest::newRow("watch") << "watch"
                           << QStringList{"--jobs",    "--json",   "--tcp",     "--queue",
                                          "--file",    "--serial", "--targets", "--interval",
                                          "--confirm", "--exec",   "--metrics"};
    QTest::newRow("completion") << "completion" << QStringList{};
}

void TestCliCompletion::commandHelpShowsItsOwnOptions() {
    QFETCH(QString, command);
    QFETCH(QStringList, options);
    QProcess process;
    process.start(Program, {command, "--help"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(help.startsWith("Usage: krv520-cli " + command), qPrintable(help));
    QVERIFY2(help.contains("\nExample:\n  krv520-cli " + command) ||
                 help.contains("\nExample:\n  source <(krv520-cli " + command),
             qPrintable(help));
    QVERIFY(help.contains("--help"));
    for (const char *option :
         {"--set", "--profile", "--dry-run", "--force", "--tcp", "--queue", "--file", "--serial",
          "--targets", "--jobs", "--retry", "--retry-wait", "--json"}) {
        const bool shown = help.contains(
            QRegularExpression(QStringLiteral("(?<![\\w-])%1(?![\\w-])").arg(option)));
        QVERIFY2(shown == options.contains(option), option);
    }
    // The usage line, up to the first blank line, names every option the
    // command takes, the connections as CONNECTION.
    const QString usage = help.section(QStringLiteral("\n\n"), 0, 0);
    const QStringList connections{"--tcp", "--queue", "--file", "--serial", "--targets"};
    for (const QString &option : options) {
        const QString shown = connections.contains(option) ? QStringLiteral("[CONNECTION ...]")
                                                           : QStringLiteral("[") + option;
        QVERIFY2(usage.contains(shown) || usage.contains(QStringLiteral("| ") + option),
                 qPrintable(QStringLiteral("%1 missing from: %2").arg(option, usage)));
    }
}

QTEST_GUILESS_MAIN(TestCliCompletion)
#include "tst_cli_completion.moc"
