#include "Catalogue.h"

namespace krv::settings {
namespace {

constexpr std::string_view NoChange = "No Change";

constexpr Entry FFAction[] = {
    {NoChange},
    {"Feed", {"#-00004"}},
    {"Feed and Partial Cut", {"#+00004"}},
};

constexpr Entry Speed[] = {
    {NoChange},
    {"High (100mm/s)", {"#-20030"}},
    {"Medium (75mm/s)", {"#-20030", "#+20010"}},
    {"Low (50mm/s)", {"#-20030", "#+20020"}},
};

// Field value 4 is never sent; "Standard" is value 0.
constexpr Entry Density[] = {
    {NoChange},
    {"130%", {"#-20007", "#+20003"}},
    {"120%", {"#-20007", "#+20002"}},
    {"110%", {"#-20007", "#+20001"}},
    {"Standard", {"#-20007"}},
    {"90%", {"#-20007", "#+20005"}},
    {"80%", {"#-20007", "#+20006"}},
    {"70%", {"#+20007"}},
};

constexpr Entry CRCode[] = {
    {NoChange},
    {"Ignore", {"#-30002"}},
    {"Line Feed", {"#+30002"}},
};

// 50.8mm sets the two low bits only and leaves bit 2 as the printer has it.
constexpr Entry PWidth[] = {
    {NoChange},
    {"72mm", {"#-40007"}},
    {"50.8mm", {"#+40003"}},
};

constexpr Entry PNEnd[] = {
    {NoChange},
    {"Enable", {"#-A0100"}},
    {"Disable", {"#+A0100"}},
};

constexpr Entry PESignal[] = {
    {NoChange},
    {"At Paper End", {"#-A0010"}},
    {"At Paper End or Near End", {"#+A0010"}},
};

constexpr Entry Buffer[] = {
    {NoChange},
    {"8 KBytes", {"#-B0100"}},
    {"64 Bytes", {"#+B0100"}},
};

constexpr Entry IntCSet[] = {
    {NoChange},   {"USA"},           {"France"},   {"Germany"}, {"U.K."},   {"Denmark #1"},
    {"Sweden"},   {"Italy"},         {"Spain #1"}, {"Japan"},   {"Norway"}, {"Denmark #2"},
    {"Spain #2"}, {"Latin America"}, {"Korean"},   {"Ireland"}, {"Legal"},
};

// Entry 2 ends in a space and entry 4 does not: two entries, two values.
constexpr Entry CPage[] = {
    {NoChange},
    {"Normal"},
    {"437(USA,std. Europe) "},
    {"Katakana"},
    {"437(USA,std. Europe)"},
    {"858 (Multilingual)"},
    {"852 (Latin-2)"},
    {"860 (Portuguese)"},
    {"861 (Icelandic)"},
    {"863 (Canadian Frence)"},
    {"865 (Nordic)"},
    {"866 (Cyrillic Russian)"},
    {"855 (Cyrillic Bulgarian)"},
    {"857 (Turkish)"},
    {"862 (Hebrew)"},
    {"864 (Arabic)"},
    {"737 (Greek)"},
    {"851 (Greek)"},
    {"869 (Greek)"},
    {"928 (Greek)"},
    {"772 (Lithuanian)"},
    {"774 (Lithuanian)"},
    {"874 (Thai)"},
    {"1252 (Windows Latin-1)"},
    {"1250 (Windows Latin-2)"},
    {"1251 (Windows Cyrillic)"},
    {"3840 (IBM-Russian)"},
    {"3841 (Gost)"},
    {"3843 (Polish)"},
    {"3844 (CS2)"},
    {"3845 (Hungarian)"},
    {"3846 (Turkish)"},
    {"3847 (Brazil-ABNT)"},
    {"3848 (Brazil-ABICOMP)"},
    {"1001 (Arabic)"},
    {"2001 (Lithuaninan-KBL)"},
    {"3001 (Estonian-1)"},
    {"3002 (Estonian-2)"},
    {"3011 (Latvian-1)"},
    {"3012 (Latvian-2)"},
    {"3021 (Bulgarian)"},
    {"3041 (Maltese)"},
};

constexpr Entry ZStyle[] = {
    {NoChange},
    {"Standard", {"#-10010"}},
    {"Slashed", {"#+10010"}},
};

constexpr Entry CSpacing[] = {
    {NoChange},
    {"12 dot", {"#-30010"}},
    {"15 dot", {"#+30010"}},
};

constexpr Entry LSpacing[] = {
    {NoChange},
    {"4mm", {"#-30001"}},
    {"3mm", {"#+30001"}},
};

constexpr Entry EPColumns[] = {
    {NoChange},
    {"Same as TM-T88II", {"#-40010"}},
    {"Maxumum", {"#+40010"}},
};

constexpr Entry EPFontSize[] = {
    {NoChange},
    {"Standard", {"#-10080"}},
    {"Large (Simulate 180dpi)", {"#+10080"}},
};

constexpr Entry EPSpacing[] = {
    {NoChange},
    {"0 dot (default)", {"#-300C0"}},
    {"1 dot", {"#-300C0", "#+30040"}},
    {"2 dot", {"#-300C0", "#+30080"}},
    {"3 dot", {"#+300C0"}},
};

using enum Page;
using enum Encoding;

constexpr std::array<Setting, SettingCount> Settings{{
    {"cmbFFAction", "Action on Form Feed:", General, 0, 0x0, 0x0004, Fixed, FFAction},
    {"cmbSpeed", "Print Speed:", General, 4, 0x2, 0x0030, Fixed, Speed},
    {"cmbDensity", "Print Density:", General, 5, 0x2, 0x0007, Fixed, Density},
    {"cmbCRCode", "Carriage Return (<CR> code):", General, 7, 0x3, 0x0002, Fixed, CRCode},
    {"cmbPWidth", "Print Width:", General, 10, 0x4, 0x0007, Fixed, PWidth},
    {"cmbPNEnd", "Paper Near End Sensor:", General, 11, 0xA, 0x0100, Fixed, PNEnd},
    {"cmbPESignal", "Parallel Port Paper End Signal:", General, 12, 0xA, 0x0010, Fixed, PESignal},
    {"cmbBuffer", "Data Buffer Size (ESC/POS):", General, 13, 0xB, 0x0100, Fixed, Buffer},
    {"cmbIntCSet", "International Character Set:", Characters, 2, 0x1, 0x000F, InternationalCharSet,
     IntCSet},
    {"cmbCPage", "Character Code Page:", Characters, 3, 0x3, 0xFF00, CodePage, CPage},
    {"cmbZStyle", "Zero Style:", Characters, 1, 0x1, 0x0010, Fixed, ZStyle},
    {"cmbCSpacing", "Character Spacing:", Characters, 6, 0x3, 0x0010, Fixed, CSpacing},
    {"cmbLSpacing", "Line Spacing:", Characters, 8, 0x3, 0x0001, Fixed, LSpacing},
    {"cmbEPColumns", "Print Columns (ESC/POS Mode):", Characters, 9, 0x4, 0x0010, Fixed, EPColumns},
    {"cmbEPFontSize", "Font A Size (ESC/POS Mode):", Characters, 14, 0x1, 0x0080, Fixed,
     EPFontSize},
    {"cmbEPSpacing", "Extra Spacing (ESC/POS Mode):", Characters, 15, 0x3, 0x00C0, Fixed,
     EPSpacing},
}};

} // namespace

const std::array<Setting, SettingCount> &catalogue() {
    return Settings;
}

const Setting *findSetting(std::string_view comboName) {
    for (const Setting &s : Settings) {
        if (s.comboName == comboName)
            return &s;
    }
    return nullptr;
}

std::string_view pageTitle(Page page) {
    return page == Page::General ? "General" : "Characters";
}

} // namespace krv::settings
