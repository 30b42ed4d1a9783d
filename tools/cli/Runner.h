#pragma once

#include "CommandLine.h"
#include "ConnectionSettings.h"

#include <QByteArray>
#include <QString>

#include <vector>

class QTextStream;

namespace krv::cli {

// The key under which the window program keeps its connection.
inline constexpr const char *StoredConnectionKey = "KRV520Config";

// Every connection the command names, targets files read in place; the
// stored connection when it names none. Throws when a targets file cannot be
// read or is malformed.
[[nodiscard]] std::vector<comm::ConnectionSettings>
resolveTargets(const std::vector<TargetSource> &sources);

// The batch the command's choices make (profile first, --set over it).
[[nodiscard]] QByteArray batchFor(const Command &command);

// Runs a parsed command, writing results to `out` and complaints to `err`;
// returns the exit code. Never throws.
int runCommand(const Command &command, QTextStream &out, QTextStream &err);

// The whole program after QCoreApplication: parse, run, exit code.
int runProgram(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace krv::cli
