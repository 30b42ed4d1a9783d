#include "Profile.h"

#include "Lines.h"
#include "Names.h"
#include "OwnFiles.h"
#include "ProfileErrors.h"
#include "Quote.h"
#include "RuntimeError.h"

#include <array>

namespace krv::profile {

namespace {

QString readText(const QString &path) {
    return readUtf8Lines(path, comm::MaxProfileBytes, {errors::ProfileSyntax, "setting", true});
}

QString unquoted(QString value) {
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        return value.mid(1, value.size() - 2);
    return value;
}

} // namespace

Assignment parseAssignment(const QString &text, const QString &origin) {
    // Dropped by the terminal, a NUL would make a message about the entry
    // name one that looks right.
    refuseNul(text, origin + QStringLiteral(": the choice"), errors::BadArgument);
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        throw RuntimeError(
            errors::BadArgument,
            QStringLiteral("%1: %2 is not SETTING=ENTRY.").arg(origin, quoted(text)));
    return {text.left(equals).trimmed(), text.mid(equals + 1), origin};
}

settings::Selection resolveAssignments(const std::vector<Assignment> &assignments) {
    settings::Selection selection{};
    std::array<QString, settings::SettingCount> chosenAt;
    for (const Assignment &a : assignments) {
        const settings::Setting *setting = nullptr;
        std::int16_t index = 0;
        try {
            setting = &resolveSetting(a.setting);
            index = resolveEntry(*setting, a.entry);
        } catch (const RuntimeError &e) {
            throw RuntimeError(e.number(), a.origin + QStringLiteral(": ") + e.description());
        }
        const std::size_t position = positionOf(*setting);
        if (!chosenAt[position].isEmpty())
            throw RuntimeError(errors::SettingTwice,
                               QStringLiteral("%1: %2 is already chosen at %3.")
                                   .arg(a.origin, settingKey(*setting), chosenAt[position]));
        chosenAt[position] = a.origin;
        selection[position] = index;
    }
    return selection;
}

settings::Selection resolveAssignments(const std::vector<Assignment> &profile,
                                       const std::vector<Assignment> &commandLine) {
    settings::Selection selection = resolveAssignments(profile);
    const settings::Selection overrides = resolveAssignments(commandLine);
    std::array<bool, settings::SettingCount> given{};
    for (const Assignment &a : commandLine)
        given[positionOf(resolveSetting(a.setting))] = true;
    for (std::size_t i = 0; i < settings::SettingCount; ++i)
        if (given[i])
            selection[i] = overrides[i];
    return selection;
}

std::vector<Assignment> parseProfile(const QString &text, const QString &fileName) {
    std::vector<Assignment> assignments;
    const QStringList lines = splitLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const QString origin = QStringLiteral("%1:%2").arg(fileName).arg(i + 1);
        Assignment a;
        try {
            a = parseAssignment(line, origin);
        } catch (const RuntimeError &e) {
            throw RuntimeError(errors::ProfileSyntax, e.description());
        }
        a.entry = unquoted(a.entry);
        assignments.push_back(a);
    }
    return assignments;
}

std::vector<Assignment> readProfile(const QString &path) {
    return parseProfile(readText(path), path);
}

settings::Selection readProfileSelection(const QString &path) {
    return resolveAssignments(readProfile(path));
}

QString profileFirstLine() {
    return QStringLiteral("# KRV520 settings profile for \"krv520-cli download --profile FILE\".");
}

QString profileText(const settings::Selection &selection) {
    QString text =
        profileFirstLine() +
        QStringLiteral("\n# Settings not named here are left as the printer has them.\n");
    for (std::size_t i = 0; i < settings::SettingCount; ++i) {
        if (selection[i] <= 0)
            continue;
        const settings::Setting &s = settings::catalogue()[i];
        text += settingKey(s) + QLatin1Char('=') +
                profileValue(entryText(s, std::size_t(selection[i]))) + QLatin1Char('\n');
    }
    return text;
}

void writeProfile(const QString &path, const settings::Selection &selection) {
    comm::writeSmallFile(path, profileText(selection).toUtf8(), errors::UnwritableFile);
}

QString profileValue(const QString &entry) {
    if (entry != entry.trimmed() || (entry.startsWith(QLatin1Char('"')) && entry.size() > 1))
        return QLatin1Char('"') + entry + QLatin1Char('"');
    return entry;
}

QString profileTemplate() {
    QString text =
        profileFirstLine() +
        QStringLiteral("\n# One SETTING=ENTRY a line. SETTING is the label (with or without its\n"
                       "# colon) or the list name; ENTRY is the exact entry text or its index.\n"
                       "# \"No Change\" leaves a setting as the printer has it. Lines starting\n"
                       "# with # are comments. Put an entry in double quotes to keep blanks at\n"
                       "# its ends.\n");
    for (const settings::Setting &s : settings::catalogue()) {
        text += QStringLiteral("\n# %1 (%2, page %3)\n")
                    .arg(caption(s), comboName(s),
                         QString::fromUtf8(settings::pageTitle(s.page).data(),
                                           qsizetype(settings::pageTitle(s.page).size())));
        for (std::size_t i = 0; i < s.entries.size(); ++i)
            text += QStringLiteral("#   %1  %2\n").arg(i, 2).arg(profileValue(entryText(s, i)));
        text +=
            settingKey(s) + QLatin1Char('=') + profileValue(entryText(s, 0)) + QLatin1Char('\n');
    }
    return text;
}

void writeProfileTemplate(const QString &path, bool overwrite) {
    const QByteArray text = profileTemplate().toUtf8();
    if (overwrite)
        comm::writeSmallFile(path, text, errors::UnwritableFile);
    else if (!comm::writeNewSmallFile(path, text, errors::UnwritableFile))
        throw RuntimeError(
            errors::WouldOverwrite,
            QStringLiteral("%1 already exists; give --force to replace it.").arg(path));
}

} // namespace krv::profile
