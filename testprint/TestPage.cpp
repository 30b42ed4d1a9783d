#include "TestPage.h"

namespace krv::testprint {
namespace {

constexpr char ESC = 27;
constexpr char CRLF[] = "\r\n";

QByteArray esc(const char *command) {
    return QByteArray(1, ESC) + command;
}

QByteArray title() {
    return esc("@") + esc("i12") + "Vela" + " " + "KRV520" + esc("i00") + CRLF +
           "Configuration utility test print" + CRLF + CRLF + CRLF;
}

QByteArray tableHeading() {
    return esc("ECharacter Set Test:") + CRLF + "         0 1 2 3 4 5 6 7 8 9 A B C D E F" + CRLF;
}

// Row r lists the codes whose low hex digit is r, one column per high digit
// from 2 to F, so each code 32-255 appears once and nothing below 32 does.
QByteArray tableRow(int r) {
    QByteArray row = esc("E       ") + QByteArray::number(r, 16).toUpper() + "     " + esc("F");
    for (int c = r + 32; c <= r + 240; c += 16)
        row.append(static_cast<char>(c)).append(' ');
    return row + CRLF;
}

QByteArray characterTable() {
    QByteArray table = tableHeading();
    for (int r = 0; r <= 15; ++r)
        table += tableRow(r);
    return table + CRLF;
}

// Each sample is preceded by the size command that prints it at that size.
QByteArray fontScaling() {
    QByteArray sample = esc("EFont Scaling:") + esc("F") + CRLF + "1 x 1 Text" + CRLF;
    for (const char *line :
         {"i112x2 Text", "i223x3 Text", "i334x4 Text", "i445x5 Text", "i556x6 Text"})
        sample += esc(line) + CRLF;
    return sample + esc("i00") + CRLF + CRLF;
}

QByteArray closingFeed() {
    return esc("d3");
}

} // namespace

QByteArray makeTestPage() {
    return title() + characterTable() + fontScaling() + closingFeed();
}

} // namespace krv::testprint
