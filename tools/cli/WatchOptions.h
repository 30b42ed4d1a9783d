#pragma once

#include <QString>
#include <QStringList>

namespace krv::cli {

inline constexpr int DefaultWatchInterval = 30; // seconds
inline constexpr int MaxWatchInterval = 86400;
inline constexpr int DefaultConfirm = 2;
inline constexpr int MaxConfirm = 100;

// What "watch" takes beyond the connections, --jobs and --json.
struct WatchOptions {
    int intervalSeconds = DefaultWatchInterval;
    int confirm = DefaultConfirm; // polls a new state must hold before it is reported
    QStringList exec;             // program and arguments run for each reported change
    QString metricsAddress;       // empty: no metrics served
    quint16 metricsPort = 0;
};

// Takes --interval, --confirm, --exec and --metrics into `options`; false
// for any other option. Throws krv::RuntimeError (a usage error) for a
// value it cannot take.
bool applyWatchOption(WatchOptions &options, const QString &name, const QString &value);

} // namespace krv::cli
