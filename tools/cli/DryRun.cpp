#include "DryRun.h"

#include "Names.h"
#include "SettingsBatch.h"
#include "Tokens.h"

#include <algorithm>
#include <vector>

namespace krv::cli {

using namespace krv::profile;

namespace {

QString hex(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Finds, for each token from `at` on, the setting and entry that send it,
// taking the settings in the order a batch visits them. An entry whose tokens
// begin with another's ("Medium" starts as "High" does) is tried first, and
// a reading that leaves a token unexplained is abandoned for another.
class Origins {
public:
    explicit Origins(const std::vector<QByteArray> &tokens)
        : mTokens(tokens), mLabels(tokens.size()),
          mDeadEnd((settings::SettingCount + 1) * (tokens.size() + 1), false) {}

    // A label per token ("Print Speed: Low (50mm/s)"); empty when the tokens
    // are not a batch of the catalogue's entries.
    std::vector<QString> read() {
        if (!match(0, 0))
            return std::vector<QString>(mTokens.size());
        return mLabels;
    }

private:
    bool match(std::size_t setting, std::size_t at) {
        if (at == mTokens.size())
            return true;
        if (setting == settings::SettingCount)
            return false;
        const std::size_t key = setting * (mTokens.size() + 1) + at;
        if (mDeadEnd[key])
            return false;
        const settings::Setting &s = settings::catalogue()[setting];
        std::vector<std::pair<std::size_t, std::vector<settings::Token>>> candidates;
        for (std::size_t entry = 1; entry < s.entries.size(); ++entry)
            candidates.emplace_back(entry, settings::tokensFor(s, std::int16_t(entry)));
        std::stable_sort(candidates.begin(), candidates.end(), [](const auto &a, const auto &b) {
            return a.second.size() > b.second.size();
        });
        for (const auto &[entry, tokens] : candidates) {
            if (tokens.empty() || at + tokens.size() > mTokens.size())
                continue;
            bool same = true;
            for (std::size_t i = 0; same && i < tokens.size(); ++i)
                same = mTokens[at + i] == QByteArray::fromStdString(tokens[i]);
            if (!same || !match(setting + 1, at + tokens.size()))
                continue;
            for (std::size_t i = 0; i < tokens.size(); ++i)
                mLabels[at + i] = caption(s) + QLatin1Char(' ') + entryText(s, entry);
            return true;
        }
        if (match(setting + 1, at))
            return true;
        mDeadEnd[key] = true;
        return false;
    }

    const std::vector<QByteArray> &mTokens;
    std::vector<QString> mLabels;
    std::vector<bool> mDeadEnd; // (setting, token) pairs known to lead nowhere
};

} // namespace

QString decodeToken(const QByteArray &token) {
    if (token.size() != 7 || token[0] != '#')
        return {};
    for (qsizetype i = 2; i < 7; ++i)
        if (!isUpperHex(token[i]))
            return {};
    const QString sw = QString::fromLatin1(token.mid(2, 1));
    const QString mask = QString::fromLatin1(token.mid(3, 4));
    switch (token[1]) {
    case '+':
        return QStringLiteral("switch %1: set bits %2").arg(sw, mask);
    case '-':
        return QStringLiteral("switch %1: clear bits %2").arg(sw, mask);
    case 'W':
        return token == QByteArray(settings::ClosingToken.data(),
                                   qsizetype(settings::ClosingToken.size()))
                   ? QStringLiteral("closing command")
                   : QString();
    default:
        return {};
    }
}

QString describeBatch(const QByteArray &batch) {
    QString text;
    const qsizetype size = settings::SwitchCommandSize;
    std::vector<QByteArray> commands;
    qsizetype at = 0;
    for (; at + size <= batch.size(); at += size) {
        const QByteArray command = batch.mid(at, size);
        const bool framed = command.startsWith("\x1b\x1d") && command[9] == '\n' &&
                            command[10] == '\0' && !decodeToken(command.mid(2, 7)).isEmpty();
        if (!framed)
            break;
        commands.push_back(command);
    }
    // Every command but the closing one comes from a setting's entry.
    std::vector<QByteArray> tokens;
    for (const QByteArray &command : commands)
        tokens.push_back(command.mid(2, 7));
    const std::string_view closing = settings::ClosingToken;
    if (!tokens.empty() && tokens.back() == QByteArray(closing.data(), qsizetype(closing.size())))
        tokens.pop_back();
    const std::vector<QString> labels = Origins(tokens).read();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const QByteArray token = commands[i].mid(2, 7);
        QString line = QStringLiteral("%1  %2  %3")
                           .arg(hex(commands[i]), QString::fromLatin1(token), decodeToken(token));
        if (i < labels.size() && !labels[i].isEmpty())
            line += QStringLiteral("  ") + labels[i];
        text += line + QLatin1Char('\n');
    }
    if (at < batch.size())
        text += QStringLiteral("%1  (not a memory-switch command)\n").arg(hex(batch.mid(at)));
    return text;
}

QString hexDump(const QByteArray &data) {
    QString text;
    for (qsizetype at = 0; at < data.size(); at += 16)
        text += QStringLiteral("%1  %2\n")
                    .arg(QString::number(at, 16).toUpper().rightJustified(4, QLatin1Char('0')),
                         hex(data.mid(at, 16)));
    return text;
}

} // namespace krv::cli
