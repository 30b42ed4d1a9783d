#include "MemorySwitches.h"

#include "Catalogue.h"
#include "Decoder.h"
#include "Tokens.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace krv::sim {
namespace {

QString hex(unsigned value, int width) {
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

bool validSwitch(int n) {
    return n >= 0 && n < MemorySwitches::Count;
}

std::uint16_t applyToken(std::uint16_t value, const SwitchToken &token) {
    if (token.operation == '+')
        return value | token.mask;
    if (token.operation == '-')
        return value & ~token.mask;
    return value;
}

QString captionWithoutColon(std::string_view caption) {
    QString text = QString::fromUtf8(caption.data(), qsizetype(caption.size()));
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

} // namespace

// Taken from the catalogue itself so that a changed entry needs no second
// table here.
int entryFor(const settings::Setting &setting, std::uint16_t before, std::uint16_t after) {
    for (std::size_t i = 1; i < setting.entries.size(); ++i) {
        std::uint16_t value = before;
        for (const settings::Token &text : settings::tokensFor(setting, std::int16_t(i))) {
            SwitchToken token;
            if (parseToken(QByteArrayView(text.data(), qsizetype(text.size())), &token) &&
                token.switchNumber == setting.switchNumber)
                value = applyToken(value, token);
        }
        if ((value & setting.mask) == (after & setting.mask))
            return int(i);
    }
    return -1;
}

std::uint16_t MemorySwitches::working(int switchNumber) const {
    return validSwitch(switchNumber) ? mWorking[std::size_t(switchNumber)] : 0;
}

std::uint16_t MemorySwitches::stored(int switchNumber) const {
    return validSwitch(switchNumber) ? mStored[std::size_t(switchNumber)] : 0;
}

void MemorySwitches::set(int switchNumber, std::uint16_t mask) {
    if (validSwitch(switchNumber))
        mWorking[std::size_t(switchNumber)] |= mask;
}

void MemorySwitches::clear(int switchNumber, std::uint16_t mask) {
    if (validSwitch(switchNumber))
        mWorking[std::size_t(switchNumber)] &= std::uint16_t(~mask);
}

std::vector<SwitchChange> MemorySwitches::store() {
    std::vector<SwitchChange> changes;
    for (int n = 0; n < Count; ++n) {
        const auto i = std::size_t(n);
        if (mStored[i] != mWorking[i])
            changes.push_back({n, mStored[i], mWorking[i]});
    }
    mStored = mWorking;
    return changes;
}

std::vector<SwitchChange> MemorySwitches::apply(const Event &event) {
    if (event.kind != Event::Kind::Switch)
        return {};
    switch (event.operation) {
    case '+':
        set(event.switchNumber, event.mask);
        break;
    case '-':
        clear(event.switchNumber, event.mask);
        break;
    case 'W':
        return store();
    }
    return {};
}

bool MemorySwitches::load(const QString &path, QString *error) {
    QFile file(path);
    if (!file.exists()) {
        mWorking = {};
        mStored = {};
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // A state file is tiny; anything large is not one.
    const QByteArray content = file.read(64 * 1024);
    static const QRegularExpression line(QStringLiteral("^([0-9A-F]) ([0-9A-F]{4})$"));
    std::array<std::uint16_t, Count> values{};
    std::array<bool, Count> seen{};
    int lineNumber = 0;
    for (const QByteArray &raw : content.split('\n')) {
        ++lineNumber;
        const QString text = QString::fromLatin1(raw).trimmed();
        if (text.isEmpty())
            continue;
        const auto match = line.match(text);
        if (!match.hasMatch()) {
            *error = QStringLiteral("%1 line %2: expected \"X HHHH\", found \"%3\"")
                         .arg(path)
                         .arg(lineNumber)
                         .arg(text.left(40));
            return false;
        }
        const auto n = std::size_t(match.captured(1).toInt(nullptr, 16));
        values[n] = std::uint16_t(match.captured(2).toUInt(nullptr, 16));
        seen[n] = true;
    }
    for (int n = 0; n < Count; ++n) {
        if (!seen[std::size_t(n)]) {
            *error = QStringLiteral("%1: switch %2 missing").arg(path, hex(unsigned(n), 1));
            return false;
        }
    }
    mWorking = values;
    mStored = values;
    return true;
}

bool MemorySwitches::save(const QString &path, QString *error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray content;
    for (int n = 0; n < Count; ++n)
        content += (hex(unsigned(n), 1) + QLatin1Char(' ') + hex(mStored[std::size_t(n)], 4) +
                    QLatin1Char('\n'))
                       .toLatin1();
    file.write(content);
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QStringList describeChange(const SwitchChange &change) {
    const QString values = QStringLiteral("(switch %1 %2 -> %3)")
                               .arg(hex(unsigned(change.switchNumber), 1), hex(change.before, 4),
                                    hex(change.after, 4));
    const auto changed = std::uint16_t(change.before ^ change.after);
    std::uint16_t owned = 0;
    QStringList lines;
    for (const settings::Setting &setting : settings::catalogue()) {
        if (setting.switchNumber != change.switchNumber)
            continue;
        owned |= setting.mask;
        if ((changed & setting.mask) == 0)
            continue;
        const int entry = entryFor(setting, change.before, change.after);
        const QString name =
            entry < 0
                ? QStringLiteral("no entry sets bits %1").arg(hex(change.after & setting.mask, 4))
                : QString::fromUtf8(setting.entries[std::size_t(entry)].text.data(),
                                    qsizetype(setting.entries[std::size_t(entry)].text.size()));
        lines +=
            QStringLiteral("%1: %2 %3").arg(captionWithoutColon(setting.caption), name, values);
    }
    if (const auto unowned = std::uint16_t(changed & ~owned))
        lines += QStringLiteral("Switch %1 bits %2, used by no setting %3")
                     .arg(hex(unsigned(change.switchNumber), 1), hex(unowned, 4), values);
    return lines;
}

} // namespace krv::sim
