#include "Presets.h"

#include "Decoder.h"
#include "MemorySwitches.h"
#include "Profile.h"
#include "RuntimeError.h"
#include "SettingsBatch.h"

#include <QRegularExpression>

#include <array>
#include <cstdint>

namespace krv::sim {

bool storeSwitchList(MemorySwitches &switches, const QString &list, QString *error) {
    static const QRegularExpression item(QStringLiteral("^([0-9A-Fa-f])=([0-9A-Fa-f]{4})$"));
    std::array<int, MemorySwitches::Count> values;
    values.fill(-1);
    for (const QString &text : list.split(QLatin1Char(','))) {
        const auto match = item.match(text.trimmed());
        if (!match.hasMatch()) {
            *error = QStringLiteral("--switches: \"%1\" is not X=HHHH (a switch digit and four "
                                    "hexadecimal digits)")
                         .arg(text);
            return false;
        }
        values[std::size_t(match.captured(1).toInt(nullptr, 16))] =
            match.captured(2).toInt(nullptr, 16);
    }
    for (int n = 0; n < MemorySwitches::Count; ++n) {
        if (values[std::size_t(n)] < 0)
            continue;
        switches.clear(n, 0xFFFF);
        switches.set(n, std::uint16_t(values[std::size_t(n)]));
    }
    switches.store();
    return true;
}

bool storeProfile(MemorySwitches &switches, const QString &path, QString *error) {
    QByteArray batch;
    try {
        batch =
            settings::makeSettingsBatch(profile::resolveAssignments(profile::readProfile(path)));
    } catch (const RuntimeError &e) {
        *error = QStringLiteral("--profile: ") + e.description();
        return false;
    }
    for (const Event &event : decode(batch).events)
        switches.apply(event);
    return true;
}

} // namespace krv::sim
