#include "Completion.h"

#include "CommandLine.h"
#include "Commands.h"
#include "Names.h"
#include "RuntimeError.h"
#include "SpoolerPort.h"

#include <QFile>
#include <QTextStream>

#include <cups/cups.h>

#include <optional>
#include <vector>

namespace krv::cli {

using namespace krv::profile;

namespace {

const QString DefaultWordBreaks = QStringLiteral(" \t\n\"'><=;|&(:");

QStringList settingNames() {
    QStringList names;
    for (const settings::Setting &s : settings::catalogue())
        names << comboName(s) << settingKey(s);
    return names;
}

// The spooler's queues. Bounded in time: a shell must not hang on Tab when
// the scheduler is slow or unreachable.
QStringList spoolerQueues() {
    http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                1000, nullptr);
    if (!http)
        return {};
    httpSetTimeout(http, 1.0, nullptr, nullptr);
    const QStringList names = comm::queueNames(http);
    httpClose(http);
    return names;
}

Completion optionValue(const OptionInfo &option, const QString &value, const QString &prefix) {
    Completion c;
    switch (option.value) {
    case ValueKind::Choice:
        if (const qsizetype equals = value.indexOf(QLatin1Char('=')); equals >= 0) {
            const QString typedName = value.left(equals + 1);
            try {
                const settings::Setting &s = resolveSetting(value.left(equals));
                for (std::size_t i = 0; i < s.entries.size(); ++i)
                    c.words.append(prefix + typedName + entryText(s, i));
            } catch (const RuntimeError &) {
                // Not a setting: there are no entries to offer.
            }
        } else {
            for (const QString &name : settingNames())
                c.words.append(prefix + name + QLatin1Char('='));
            c.noSpace = true;
        }
        break;
    case ValueKind::Queue:
        for (const QString &queue : spoolerQueues())
            c.words.append(prefix + queue);
        break;
    case ValueKind::File:
        c.kind = Completion::Kind::Files;
        c.filePrefix = prefix;
        break;
    case ValueKind::Host:
    case ValueKind::Number:
    case ValueKind::None:
        break;
    }
    return c;
}

Completion complete(const QStringList &before, const QString &current) {
    Completion c;
    if (before.isEmpty()) {
        if (current.startsWith(QLatin1Char('-')))
            c.words << QStringLiteral("--help") << QStringLiteral("--version");
        else
            for (const CommandInfo &command : commands())
                c.words.append(QLatin1String(command.name));
        return c;
    }
    const CommandInfo *command = findCommand(before.constFirst());
    if (!command)
        return c;

    bool optionsEnded = false;
    qsizetype positionals = 0;
    for (qsizetype i = 1; i < before.size(); ++i) {
        const QString &argument = before[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) ||
            argument == QLatin1String("-")) {
            ++positionals;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const OptionInfo *option = findOption(argument.mid(2));
        if (option && *option->valueName && argument.startsWith(QLatin1String("--"))) {
            if (i + 1 == before.size())
                return optionValue(*option, current, QString());
            ++i; // its value
        }
    }

    if (!optionsEnded && current.startsWith(QLatin1String("--")) &&
        current.contains(QLatin1Char('='))) {
        const QString typed = current.section(QLatin1Char('='), 0, 0);
        const OptionInfo *option = findOption(typed.mid(2));
        if (option && *option->valueName && option->appliesTo(command->action))
            return optionValue(*option, current.mid(typed.size() + 1), typed + QLatin1Char('='));
        return c;
    }
    if (!optionsEnded && current.startsWith(QLatin1Char('-'))) {
        for (const OptionInfo &option : options())
            if (option.appliesTo(command->action))
                c.words.append(QStringLiteral("--") + QLatin1String(option.name));
        c.words.append(QStringLiteral("--help"));
        return c;
    }
    if (positionals > 0)
        return c;
    switch (command->action) {
    case Action::TopicHelp:
        c.words = settingNames();
        break;
    case Action::Profile:
        c.kind = Completion::Kind::Files;
        break;
    case Action::Completion:
        c.words << QStringLiteral("bash") << QStringLiteral("fish") << QStringLiteral("zsh");
        break;
    default:
        break;
    }
    return c;
}

// A command line cut at the cursor, read the way bash and readline read it.
struct Lexed {
    QStringList words;           // the finished words, unquoted
    QString current;             // the word being typed, unquoted
    qsizetype currentStart = 0;  // where it starts in the line
    std::vector<qsizetype> kept; // for each position from currentStart on: how much of
                                 // `current` the text before it gives
    std::vector<bool> quoted;    // for each position: inside quotes or escaped
    QChar openQuote;             // the quote left open, if any
    qsizetype openQuoteAt = -1;
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

Lexed lex(const QString &line) {
    Lexed l;
    l.quoted.assign(std::size_t(line.size()), false);
    bool inWord = false;
    bool escaped = false;
    QChar quote;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (!inWord) {
            if (isBlank(c))
                continue;
            inWord = true;
            l.currentStart = i;
            l.current.clear();
            l.kept.clear();
        }
        l.kept.push_back(l.current.size());
        if (escaped) {
            escaped = false;
            l.quoted[std::size_t(i)] = true;
            if (c != QLatin1Char('\n') || !quote.isNull())
                l.current += c;
        } else if (quote == QLatin1Char('\'')) {
            l.quoted[std::size_t(i)] = true;
            if (c == quote)
                quote = QChar();
            else
                l.current += c;
        } else if (quote == QLatin1Char('"')) {
            l.quoted[std::size_t(i)] = true;
            const QChar next = i + 1 < line.size() ? line[i + 1] : QChar();
            if (c == quote)
                quote = QChar();
            else if (c == QLatin1Char('\\') && QStringLiteral("$`\"\\\n").contains(next))
                escaped = true;
            else
                l.current += c;
        } else if (c == QLatin1Char('\\')) {
            escaped = true;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            l.openQuoteAt = i;
            l.quoted[std::size_t(i)] = true;
        } else if (isBlank(c)) {
            l.words.append(l.current);
            inWord = false;
        } else {
            l.current += c;
        }
    }
    if (!inWord) {
        l.current.clear();
        l.currentStart = line.size();
        l.kept.clear();
    }
    l.kept.push_back(l.current.size());
    if (!quote.isNull())
        l.openQuote = quote;
    return l;
}

// Where readline starts the text it replaces: just inside a quote left open,
// else after the last break character that is not quoted.
qsizetype replacedFrom(const Lexed &l, const QString &line, const QString &wordBreaks) {
    if (!l.openQuote.isNull())
        return l.openQuoteAt + 1;
    qsizetype start = line.size();
    while (start > l.currentStart) {
        const QChar c = line[start - 1];
        if ((isBlank(c) || wordBreaks.contains(c)) && !l.quoted[std::size_t(start - 1)])
            break;
        --start;
    }
    return start;
}

// `text` as it must be typed where readline puts it: inside the quote left
// open, or bare with every character the shell would take specially escaped.
// Nothing when it cannot be typed there.
std::optional<QString> quotedFor(const QString &text, QChar openQuote) {
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
        if (openQuote == QLatin1Char('\'')) {
            out += c == openQuote ? QStringLiteral("'\\''") : QString(c);
        } else if (openQuote == QLatin1Char('"')) {
            if (QStringLiteral("\\\"$`").contains(c))
                out += QLatin1Char('\\');
            out += c;
        } else {
            if (c.unicode() < 0x80 && !c.isLetterOrNumber() &&
                !QStringLiteral("_./,:=+%@-").contains(c))
                out += QLatin1Char('\\');
            out += c;
        }
    }
    return out;
}

} // namespace

Completion completeArgument(const QStringList &before, const QString &current) {
    Completion c = complete(before, current);
    QStringList fitting;
    for (const QString &word : std::as_const(c.words))
        if (word.startsWith(current))
            fitting.append(word);
    c.words = fitting;
    return c;
}

QStringList bashCompletion(const QString &line, const QString &wordBreaks) {
    const Lexed l = lex(line);
    const Completion c = completeArgument(l.words.mid(1), l.current);
    const qsizetype from = replacedFrom(l, line, wordBreaks);
    const qsizetype kept = l.kept[std::size_t(from - l.currentStart)];

    if (c.kind == Completion::Kind::Files) {
        if (kept < c.filePrefix.size())
            return {QStringLiteral("words")};
        return {QStringLiteral("files"),
                l.current.mid(c.filePrefix.size(), kept - c.filePrefix.size()),
                l.current.mid(c.filePrefix.size())};
    }
    QStringList lines{c.noSpace ? QStringLiteral("words nospace") : QStringLiteral("words")};
    for (const QString &word : c.words)
        if (const auto reply = quotedFor(word.mid(kept), l.openQuote))
            lines.append(*reply);
    return lines;
}

QStringList plainCompletion(const QStringList &before, const QString &current) {
    const Completion c = completeArgument(before, current);
    if (c.kind == Completion::Kind::Files)
        return {QStringLiteral("files"), c.filePrefix, current.mid(c.filePrefix.size())};
    return QStringList{c.noSpace ? QStringLiteral("words nospace") : QStringLiteral("words")} +
           c.words;
}

QString completionScript(const QString &shell) {
    QFile script(QStringLiteral(":/krv520-cli/completion/krv520-cli.") + shell);
    if (!script.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(script.readAll());
}

int runComplete(const QStringList &words, QTextStream &out) {
    if (!words.isEmpty() && words[0] == QLatin1String("words")) {
        const QStringList arguments = words.mid(1);
        const QString current = arguments.isEmpty() ? QString() : arguments.constLast();
        for (const QString &line : plainCompletion(arguments.mid(0, arguments.size() - 1), current))
            out << line << '\n';
        return ExitOk;
    }
    if (words.size() < 3 || words[0] != QLatin1String("bash"))
        return ExitUsage;
    // COMP_POINT counts bytes.
    bool ok = false;
    const qsizetype point = words[2].toLongLong(&ok);
    const QByteArray line = words[1].toUtf8();
    if (!ok || point < 0)
        return ExitUsage;
    const QString wordBreaks = words.size() > 3 ? words[3] : DefaultWordBreaks;
    for (const QString &reply : bashCompletion(QString::fromUtf8(line.left(point)), wordBreaks))
        out << reply << '\n';
    return ExitOk;
}

} // namespace krv::cli
