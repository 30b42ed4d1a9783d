#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Reading and writing the small files the programs keep themselves: the
// connection store, profiles and targets lists. Only regular files are read
// or replaced; a device, FIFO, socket or folder at the path is refused, so
// that a mistyped path never blocks, never reads without end and never
// replaces something that is not ours.
namespace krv::comm {

// Longest store, profile and targets list read. A store or profile is a few
// kilobytes; a targets list names one printer a line, for thousands of them.
inline constexpr qint64 MaxStoreBytes = 64 * 1024;
inline constexpr qint64 MaxProfileBytes = 64 * 1024;
inline constexpr qint64 MaxTargetsBytes = 1024 * 1024;

// "a folder", "a FIFO (named pipe)", "a character device"... for a stat mode.
[[nodiscard]] QString fileKindName(unsigned int mode);

// The whole file, or nothing when there is nothing at the path. Throws
// krv::RuntimeError(errorNumber) when the path is not a regular file, holds
// more than maxBytes or cannot be read.
[[nodiscard]] std::optional<QByteArray> readSmallFile(const QString &path, qint64 maxBytes,
                                                      int errorNumber);

// Where writing `path` ends up: symbolic links followed. Throws
// krv::RuntimeError(errorNumber) when that is something other than nothing
// or a regular file, or an existing file this process may not write to.
[[nodiscard]] QString checkedWriteTarget(const QString &path, int errorNumber);

// Replaces (or creates) the file with exactly `data`: written beside it,
// synced, then renamed over it. On any failure the previous file is as it
// was, no temporary is left, and krv::RuntimeError(errorNumber) is thrown.
void writeSmallFile(const QString &path, const QByteArray &data, int errorNumber);

// Creates the file with exactly `data`, never replacing anything: false,
// with nothing written, when something is at the path already or takes the
// name while the file is being written. Written beside it first, so the
// file appears whole or not at all. Throws krv::RuntimeError(errorNumber)
// when it cannot be written.
[[nodiscard]] bool writeNewSmallFile(const QString &path, const QByteArray &data, int errorNumber);

// The same for a file whose writers take a lock first (the store): the
// temporary has one fixed name beside the file (".NAME.saving"), so one left
// by a writer that was killed is replaced by the next write instead of
// piling up.
void writeLockedSmallFile(const QString &path, const QByteArray &data, int errorNumber);

} // namespace krv::comm
