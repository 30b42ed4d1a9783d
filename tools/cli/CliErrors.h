#pragma once

#include "ProfileErrors.h"

// Error numbers of the command-line companion. The 1100s are mistakes in what
// the operator asked for (exit code 1); the 1110s are files that could not be
// read or written (exit code 2), like every connection failure.
// Those a profile raises are numbered where profiles are read.
namespace krv::cli::errors {

inline constexpr int UnknownCommand = 1100;
inline constexpr int BadArgument = krv::errors::BadArgument;
inline constexpr int UnknownSetting = krv::errors::UnknownSetting;
inline constexpr int UnknownEntry = krv::errors::UnknownEntry;
inline constexpr int SettingTwice = krv::errors::SettingTwice;
inline constexpr int ProfileSyntax = krv::errors::ProfileSyntax;
inline constexpr int TargetsSyntax = 1106;
inline constexpr int WouldOverwrite = krv::errors::WouldOverwrite;
inline constexpr int BadRange = 1108;      // discover: an address range that is not one
inline constexpr int RangeTooLarge = 1109; // discover: more than a /16 without --force

inline constexpr int UnreadableFile = krv::errors::UnreadableFile;
inline constexpr int UnwritableFile = krv::errors::UnwritableFile;
inline constexpr int OutputFailed = 1112; // standard output could not be written

// Serving many printers at once.
inline constexpr int NoWorkerThreads = 1130;       // the system would not start a single one
inline constexpr int JobFailedUnexpectedly = 1131; // out of memory or a fault inside one job
inline constexpr int SweepFailed = 1132;           // discover: the system gave no socket or pipe

[[nodiscard]] constexpr bool isUsageError(int number) {
    return number >= UnknownCommand && number < UnreadableFile;
}

} // namespace krv::cli::errors
