#include "Names.h"

#include "ProfileErrors.h"
#include "Quote.h"
#include "RuntimeError.h"

#include <algorithm>
#include <vector>

namespace krv::profile {

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString withoutColon(QString name) {
    name = name.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

struct Candidate {
    int part;  // how far from the nearest stretch of the name
    int whole; // how far from the whole name
    std::size_t order;
    QString label;
};

enum class Ends { Count, Free };

// Levenshtein distance, case-folded, one row at a time. With Ends::Free the
// head and tail of `b` cost nothing: the distance to the stretch of `b` that
// `a` matches best.
int distance(const QString &a, const QString &b, Ends ends) {
    const QString x = a.toCaseFolded();
    const QString y = b.toCaseFolded();
    // Rows run over `a`, columns over `b`.
    std::vector<int> row(std::size_t(y.size()) + 1, 0);
    if (ends == Ends::Count)
        for (std::size_t j = 0; j < row.size(); ++j)
            row[j] = int(j);
    for (qsizetype i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const int above = row[std::size_t(j)];
            const int substitution = diagonal + (x[i - 1] == y[j - 1] ? 0 : 1);
            row[std::size_t(j)] = std::min({above + 1, row[std::size_t(j - 1)] + 1, substitution});
            diagonal = above;
        }
    }
    return ends == Ends::Free ? *std::min_element(row.begin(), row.end()) : row.back();
}

// Edit distance between `typed` and the stretch of `name` it matches best, so
// that a word of a label ("Speed") or the start of an entry ("Low") counts as
// close even though the whole name is much longer.
int partDistance(const QString &typed, const QString &name) {
    return distance(typed, name, Ends::Free);
}

Candidate rate(const QString &typed, const QString &name, std::size_t order, QString label) {
    return {partDistance(typed, name), editDistance(typed, name), order, std::move(label)};
}

bool better(const Candidate &a, const Candidate &b) {
    if (a.part != b.part)
        return a.part < b.part;
    if (a.whole != b.whole)
        return a.whole < b.whole;
    return a.order < b.order;
}

// The best candidates, leaving out those clearly further off than the best
// so that a near miss is not drowned in unrelated names.
QStringList best(std::vector<Candidate> candidates, int count) {
    std::stable_sort(candidates.begin(), candidates.end(), better);
    QStringList labels;
    for (const Candidate &c : candidates) {
        if (labels.size() >= count || (!labels.isEmpty() && c.part > candidates.front().part + 1))
            break;
        labels.append(c.label);
    }
    return labels;
}

} // namespace

QString settingKey(const settings::Setting &setting) {
    return withoutColon(caption(setting));
}

QString caption(const settings::Setting &setting) {
    return fromView(setting.caption);
}

QString comboName(const settings::Setting &setting) {
    return fromView(setting.comboName);
}

QString entryText(const settings::Setting &setting, std::size_t index) {
    return index < setting.entries.size() ? fromView(setting.entries[index].text) : QString();
}

std::size_t positionOf(const settings::Setting &setting) {
    return std::size_t(&setting - settings::catalogue().data());
}

int editDistance(const QString &a, const QString &b) {
    return distance(a, b, Ends::Count);
}

const settings::Setting &resolveSetting(const QString &name) {
    const QString wanted = withoutColon(name);
    for (const settings::Setting &s : settings::catalogue()) {
        if (wanted.compare(settingKey(s), Qt::CaseInsensitive) == 0 ||
            wanted.compare(comboName(s), Qt::CaseInsensitive) == 0)
            return s;
    }
    throw RuntimeError(errors::UnknownSetting,
                       QStringLiteral("There is no setting %1. Closest: %2. "
                                      "\"krv520-cli list\" shows them all.")
                           .arg(quoted(name), closestSettings(name).join(QStringLiteral(", "))));
}

std::int16_t resolveEntry(const settings::Setting &setting, const QString &entry) {
    const auto &entries = setting.entries;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entry == entryText(setting, i))
            return std::int16_t(i);

    bool isNumber = false;
    const int index = entry.trimmed().toInt(&isNumber, 10);
    if (isNumber && index >= 0 && std::size_t(index) < entries.size())
        return std::int16_t(index);

    throw RuntimeError(errors::UnknownEntry,
                       QStringLiteral("%1 is not an entry of %2 (entries are the texts or "
                                      "the indices 0 to %3). Closest: %4.")
                           .arg(quoted(entry), settingKey(setting))
                           .arg(entries.size() - 1)
                           .arg(closestEntries(setting, entry).join(QStringLiteral(", "))));
}

QStringList closestSettings(const QString &name, int count) {
    const QString typed = withoutColon(name);
    std::vector<Candidate> candidates;
    for (const settings::Setting &s : settings::catalogue()) {
        const QString label = QStringLiteral("\"%1\" (%2)").arg(caption(s), comboName(s));
        const Candidate byLabel = rate(typed, settingKey(s), candidates.size(), label);
        const Candidate byList = rate(typed, comboName(s), candidates.size(), label);
        candidates.push_back(better(byLabel, byList) ? byLabel : byList);
    }
    return best(std::move(candidates), count);
}

QStringList closestEntries(const settings::Setting &setting, const QString &entry, int count) {
    const QString typed = entry.trimmed();
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < setting.entries.size(); ++i) {
        const QString text = entryText(setting, i);
        candidates.push_back(
            rate(typed, text.trimmed(), i, QStringLiteral("%1 \"%2\"").arg(i).arg(text)));
    }
    return best(std::move(candidates), count);
}

} // namespace krv::profile
