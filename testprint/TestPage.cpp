#include "TestPage.h"

#include <cstddef>

namespace krv::testprint {
namespace {

constexpr char ESC = 27;
constexpr char CRLF[] = "\r\n";

// Every part appends to the one page buffer: returning a small array from
// each part and joining them cost a hundred allocations per page.
void esc(QByteArray &out, const char *command) {
    out.append(ESC).append(command);
}

void title(QByteArray &out) {
    esc(out, "@");
    esc(out, "i12");
    out.append("Vela").append(' ').append("KRV520");
    esc(out, "i00");
    out.append(CRLF)
        .append("Configuration utility test print")
        .append(CRLF)
        .append(CRLF)
        .append(CRLF);
}

void tableHeading(QByteArray &out) {
    esc(out, "ECharacter Set Test:");
    out.append(CRLF).append("         0 1 2 3 4 5 6 7 8 9 A B C D E F").append(CRLF);
}

// Row r lists the codes whose low hex digit is r, one column per high digit
// from 2 to F, so each code 32-255 appears once and nothing below 32 does.
void tableRow(QByteArray &out, int r) {
    esc(out, "E       ");
    out.append("0123456789ABCDEF"[r]).append("     ");
    esc(out, "F");
    // Built apart and added in one go: Qt adds single characters slowly.
    char cells[2 * 14];
    std::size_t n = 0;
    for (int c = r + 32; c <= r + 240; c += 16) {
        cells[n++] = static_cast<char>(c);
        cells[n++] = ' ';
    }
    out.append(cells, qsizetype(n));
    out.append(CRLF);
}

void characterTable(QByteArray &out) {
    tableHeading(out);
    for (int r = 0; r <= 15; ++r)
        tableRow(out, r);
    out.append(CRLF);
}

// Each sample is preceded by the size command that prints it at that size.
void fontScaling(QByteArray &out) {
    esc(out, "EFont Scaling:");
    esc(out, "F");
    out.append(CRLF).append("1 x 1 Text").append(CRLF);
    for (const char *line :
         {"i112x2 Text", "i223x3 Text", "i334x4 Text", "i445x5 Text", "i556x6 Text"}) {
        esc(out, line);
        out.append(CRLF);
    }
    esc(out, "i00");
    out.append(CRLF).append(CRLF);
}

void closingFeed(QByteArray &out) {
    esc(out, "d3");
}

} // namespace

QByteArray makeTestPage() {
    QByteArray page;
    page.reserve(TestPageSize);
    title(page);
    characterTable(page);
    fontScaling(page);
    closingFeed(page);
    return page;
}

} // namespace krv::testprint
