#pragma once

// Error numbers of profiles and of the names in them, the same in the window
// and in krv520-cli (which counts the 1100s as the operator's mistakes).
namespace krv::errors {

inline constexpr int BadArgument = 1101; // SETTING=ENTRY without "=" or with a NUL
inline constexpr int UnknownSetting = 1102;
inline constexpr int UnknownEntry = 1103;
inline constexpr int SettingTwice = 1104;
inline constexpr int ProfileSyntax = 1105; // a line that is no choice, or not UTF-8
inline constexpr int WouldOverwrite = 1107;
inline constexpr int UnreadableFile = 1110;
inline constexpr int UnwritableFile = 1111;

} // namespace krv::errors
