#include "HelpTopics.h"

#include <array>
#include <string_view>

namespace krv::help {
namespace {

// The three document headers. A and B differ only in B's second Arial
// entry; C is the shorter header of the later topics.
constexpr std::string_view HeaderA =
    R"rtf({\rtf1\ansi\ansicpg1252\deff0\deftab720{\fonttbl{\f0\fswiss MS Sans Serif;}{\f1\froman\fcharset2 Symbol;}{\f2\fswiss Arial;}})rtf";
constexpr std::string_view HeaderB =
    R"rtf({\rtf1\ansi\ansicpg1252\deff0\deftab720{\fonttbl{\f0\fswiss MS Sans Serif;}{\f1\froman\fcharset2 Symbol;}{\f2\fswiss Arial;}{\f3\fswiss Arial;}})rtf";
constexpr std::string_view HeaderC =
    R"rtf({\rtf1\ansi\ansicpg1252\deff0\deflang2057\deflangfe2057{\fonttbl{\f0\fswiss\fprq2\fcharset0 Arial;}})rtf";

// Table 1: black, blue. Table 2: black only. Table 3: default, black, blue.
constexpr std::string_view Colours1 =
    R"rtf({\colortbl\red0\green0\blue0;\red0\green0\blue255;})rtf";
constexpr std::string_view Colours2 = R"rtf({\colortbl\red0\green0\blue0;})rtf";
constexpr std::string_view Colours3 =
    R"rtf({\colortbl ;\red0\green0\blue0;\red0\green0\blue255;})rtf";

struct Topic {
    std::string_view title;
    std::string_view header;
    std::string_view colours;
    // The lines after the colour table, the closing one included; unused
    // trailing entries stay empty.
    std::array<std::string_view, 5> lines;
};

// Each line is kept exactly as the documents carry it, blanks included: a
// blank after a control word ends the word, a second blank is text.
const Topic
    Topics
        [HelpTopicCount] =
            {
                {"Action on Form Feed",
                 HeaderA,
                 Colours1,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\b Action on Form Feed)rtf",
                  R"rtf(\par \pard\plain\f2\fs20 The default behaviour of the printer on receiving a Form Feed (<FF>) instruction is to feed to the end of the current page. If \plain\f2\fs20\cf1 Feed and Partial Cut\plain\f2\fs20\cf0  is selected then the printer will also perform a cut.\plain\f2\fs28\b)rtf",
                  R"rtf(\par })rtf"}},
                {"Zero Style",
                 HeaderB,
                 Colours1,
                 {R"rtf(\deflang2057\pard\qc\plain\f3\fs24\cf0\b Zero Style)rtf",
                  R"rtf(\par \pard\plain\f3\fs20\cf0 Select the type of 'Zero' character when using the printers internal fonts. This can be \plain\f3\fs20\cf1 Standard\plain\f3\fs20\cf0  or \plain\f3\fs20\cf1 Slashed\plain\f3\fs20\cf0  (a combined '0' and '/').\plain\f3\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"International Character Set",
                 HeaderB,
                 Colours1,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b International Character Set)rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 Changing the international character set adjusts some characters (in the first 127 locations of the character table) to reflect regional characters. This is mostly used by older DOS applications.)rtf",
                  R"rtf(\par This should generally be left set to the default (\plain\f2\fs20\cf1 USA\plain\f2\fs20\cf0 ) as most modern applications (including Windows) use Code Pages (top 128 locations) for regional characters.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Character Code Page",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f3\fs24\cf0\b Character Code Page)rtf",
                  R"rtf(\par \pard\plain\f3\fs20\cf0 This option should be used to set the code page used by the host Operating System/Application.)rtf",
                  R"rtf(\par When printing via standard Windows drivers and using 'printer resident' fonts this should be set to the 'Windows ...' codepage that matches your version of the OS (this is CP1252 for Western versions of Windows).\plain\f3\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Print Speed",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f3\fs24\b Print Speed)rtf",
                  R"rtf(\par \pard\plain\f3\fs20 This setting adjusts the default print speed of the printer.)rtf",
                  R"rtf(\par Reducing the speed of the printer can help to improve print quality on paper types that are not sensitive enough for 100mm/s printing.\plain\f3\fs28\b)rtf",
                  R"rtf(\par })rtf"}},
                {"Print Density",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Print Density)rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 Adjusting the print density can help to improve print quality on paper stock that is too sensitive or not sensitive enough for sharp output at the normal density setting.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Character Spacing",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f3\fs24\cf0\b Character Spacing)rtf",
                  R"rtf(\par \pard\plain\f3\fs20\cf0 The default is 12 dot character's, which provides 48 column printing on 80mm paper rolls or 33 columns on 58mm paper.)rtf",
                  R"rtf(\par 15 dot characters will give 38 columns on 80mm paper rolls and 27 columns on 58mm rolls.\plain\f3\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Carriage Return (<CR> Code)",
                 HeaderB,
                 Colours1,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Carriage Return (<CR> Code))rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 The printers default behaviour is to ignore the <CR> instruction as most computer systems send both <CR> and <LF> at the end of a line. For host systems that send only a <CR> at the end of each line you should select the \plain\f2\fs20\cf1 Line Feed\plain\f2\fs20\cf0  option.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Line Spacing",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f3\fs24\cf0\b Line Spacing)rtf",
                  R"rtf(\par \pard\plain\f3\fs20\cf0 Select 4mm (default) or 3mm line spacing.\plain\f3\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Print Columns (ESC/POS) Mode",
                 HeaderC,
                 Colours3,
                 {R"rtf(\viewkind4\uc1\pard\nowidctlpar\qc\cf1\b\f0\fs24 Print Columns (ESC/POS) Mode\par)rtf", R"rtf(\pard\nowidctlpar\b0\fs20 This option selects tha number of columns that can be printed in ESC/POS emulation. The default (TM-T88II Compatible) provides 42 columns in font A and 56 in font B. When set to \cf2 Maximum\cf1  the printer will provide 42 columns in Font A or 64 columns in Font B when using ESC/POS emulation.\par)rtf", R"rtf(This option can also be used in conjunction with the ESC/POS Font Size option and Extra Spacing in order to make the printers text output closely resemble that of a 180dpi printer.\cf0\fs24\par)rtf",
                  R"rtf(})rtf"}},
                {"Print Width",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Print Width)rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 The default print width is 72mm (for 80mm paper rolls). When using 58mm paper rolls (requires an optional paper guide) this should be set to 50.8mm.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Print Near End Sensor",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Print Near End Sensor)rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 When the printer detects that the paper roll is near the end, the printers ERROR LED will flash red. The near end sensor can be dissabled here.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Parallel Port Paper End Signal",
                 HeaderB,
                 Colours1,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Parallel Port Paper End Signal)rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 Parallel printer interfaces have a line which indicated that the printer is out of paper. By selecting \plain\f2\fs20\cf1 At Paper End or Near End\plain\f2\fs20\cf0  the printer can be configured to use this line when paper is near end. This option should not usually be used as it will cause most systems (including Windows PC's) to stop printing when paper is low.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Data Buffer Size (ESC/POS)",
                 HeaderB,
                 Colours2,
                 {R"rtf(\deflang2057\pard\qc\plain\f2\fs24\cf0\b Data Buffer Size (ESC/POS))rtf",
                  R"rtf(\par \pard\plain\f2\fs20\cf0 Select the data input buffer size when in ESC/POS emulation.\plain\f2\fs24)rtf",
                  R"rtf(\par })rtf"}},
                {"Font Size (ESC/POS) Mode",
                 HeaderC,
                 Colours3,
                 {R"rtf(\viewkind4\uc1\pard\nowidctlpar\qc\cf1\b\f0\fs24 Font Size (ESC/POS) Mode\par)rtf",
                  // The maker's name and the model stand in the text as separate pieces.
                  R"rtf(\pard\nowidctlpar\b0\fs20 When in ESC/POS emulation this option can be used to enable a larger font size. The larger font is designed to closely resemple the size of characters printed on a 180dpi printer when printed on a 203dpi printer (such as the )rtf"
                  "Vela"
                  " "
                  "KRV520"
                  R"rtf().\par)rtf",
                  R"rtf(If you have this option enabled we would also recommend setting the \b Print Columns (ESC/POS Mode) \b0 option to \cf2 Maximum\cf1  and setting the \b Extra Spacing (ESC/POS Mode) \b0 option to \cf2 1 dot\cf1 . This improves print clarity and ensures that the inter-character spacing also matches that of a 180dpi printer.\par)rtf",
                  R"rtf(\cf0\fs24\par)rtf", R"rtf(})rtf"}},
                {"Extra Spacing (ESC/POS) Mode",
                 HeaderC,
                 Colours3,
                 {R"rtf(\viewkind4\uc1\pard\nowidctlpar\qc\cf1\b\f0\fs24 Extra Spacing (ESC/POS) Mode\par)rtf",
                  R"rtf(\pard\nowidctlpar\b0\fs20 This option enables you to add extra inter-character spacing between characters when in ESC/POS mode. It can be used (set to \cf2 1 dot\cf1 ) in conjunction with the Print \b Columns (ESC/POS Mode)\b0  and \b Font Size (ESC/POS Mode)\b0  options to match the printers output closely to a 180dpi printer.\cf0\fs24\par)rtf",
                  R"rtf(})rtf"}},
};

QByteArray bytes(std::string_view s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

bool validIndex(int index) {
    return index >= 0 && index < HelpTopicCount;
}

} // namespace

QByteArray helpDocument(int index) {
    if (!validIndex(index))
        return {};
    const Topic &topic = Topics[index];
    QByteArray document = bytes(topic.header) + "\r\n" + bytes(topic.colours);
    for (std::string_view line : topic.lines) {
        if (!line.empty())
            document += "\r\n" + bytes(line);
    }
    return document;
}

void LoadHelpTopics(HelpTopicArray &topics) {
    for (int i = 0; i < HelpTopicCount; ++i)
        topics[std::size_t(i)] = helpDocument(i);
}

QString helpTopicTitle(int index) {
    if (!validIndex(index))
        return {};
    const std::string_view title = Topics[index].title;
    return QString::fromLatin1(title.data(), qsizetype(title.size()));
}

} // namespace krv::help
