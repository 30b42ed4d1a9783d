#pragma once

#include "Twips.h"

#include <array>

namespace krv::app::layout {

// Every position and size of the main window, in twips. Left and Top are
// measured from the tab control's corner, which is the client area's.

inline constexpr int ClientWidth = 7470;
inline constexpr int ClientHeight = 4560;

// 15 narrower and 15 taller than the client area: the strip below is cut off.
inline constexpr TwipsRect SSTab1{0, 0, 7455, 4575};
inline constexpr int TabHeight = 520;

inline constexpr TwipsRect labTitle{360, 600, 6975, 495};
inline constexpr TwipsRect labVersion{360, 960, 3615, 255};
inline constexpr TwipsRect VelaComm1{360, 1740, 3825, 1560};
inline constexpr TwipsRect Image1{4440, 1320, 2475, 2085};
inline constexpr TwipsRect butTestPrint{360, 3960, 1575, 375};
inline constexpr TwipsRect butDownload{2160, 3960, 1575, 375};
inline constexpr TwipsRect butClose{5640, 3960, 1575, 375};
// How the last job ended: the free strip between the panel and the buttons.
inline constexpr TwipsRect labJobResult{360, 3435, 6855, 495};

// A setting row: label, drop-down list and Help button at fixed columns.
[[nodiscard]] constexpr int rowTop(int row) {
    return 360 + 360 * row;
} // row 1 to 8
[[nodiscard]] constexpr TwipsRect rowLabel(int row) {
    return {360, rowTop(row), 3495, 255};
}
[[nodiscard]] constexpr TwipsRect rowList(int row) {
    return {3960, rowTop(row), 2175, 315};
}
[[nodiscard]] constexpr TwipsRect rowHelp(int row) {
    return {6120, rowTop(row), 975, 315};
}

// Tab order of the focusable controls on the "Printer" page.
inline constexpr int TabIndexSSTab1 = 0;
inline constexpr int TabIndexTestPrint = 3;
inline constexpr int TabIndexDownload = 4;
inline constexpr int TabIndexClose = 5;
inline constexpr int TabIndexVelaComm1 = 48;

// Tab order of each setting row's label, list and Help button, in the
// catalogue's order (the "General" page, then the "Characters" page).
struct RowTabOrder {
    int label;
    int list;
    int help;
};
inline constexpr std::array<RowTabOrder, 16> SettingTabOrder{{
    {6, 7, 8},
    {9, 10, 11},
    {12, 13, 14},
    {27, 28, 29},
    {36, 37, 38},
    {39, 40, 41},
    {42, 43, 44},
    {45, 46, 47},
    {15, 16, 17},
    {18, 19, 20},
    {21, 22, 23},
    {24, 25, 26},
    {30, 31, 34},
    {32, 33, 35},
    {49, 50, 51},
    {54, 52, 53},
}};

} // namespace krv::app::layout
