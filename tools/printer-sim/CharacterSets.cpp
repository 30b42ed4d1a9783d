#include "CharacterSets.h"

namespace krv::sim {
namespace {

struct NationalSet {
    const char *entry;
    NationalCharacters characters;
};

// The national variants the printer shares with the dot-matrix tradition it
// comes from. "Ireland" and "Legal" are left out: their tables are not known
// well enough to draw.
// clang-format off
//                     #        $        @        [        \        ]        ^        `        {        |        }        ~
constexpr NationalSet Sets[] = {
    {"USA",           {U'#',    U'$',    U'@',    U'[',    U'\\',   U']',    U'^',    U'`',    U'{',    U'|',    U'}',    U'~'}},
    {"France",        {U'#',    U'$',    U'\u00E0', U'\u00B0', U'\u00E7', U'\u00A7', U'^',  U'`',    U'\u00E9', U'\u00F9', U'\u00E8', U'\u00A8'}},
    {"Germany",       {U'#',    U'$',    U'\u00A7', U'\u00C4', U'\u00D6', U'\u00DC', U'^',  U'`',    U'\u00E4', U'\u00F6', U'\u00FC', U'\u00DF'}},
    {"U.K.",          {U'\u00A3', U'$',  U'@',    U'[',    U'\\',   U']',    U'^',    U'`',    U'{',    U'|',    U'}',    U'~'}},
    {"Denmark #1",    {U'#',    U'$',    U'@',    U'\u00C6', U'\u00D8', U'\u00C5', U'^',  U'`',    U'\u00E6', U'\u00F8', U'\u00E5', U'~'}},
    {"Sweden",        {U'#',    U'\u00A4', U'\u00C9', U'\u00C4', U'\u00D6', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E4', U'\u00F6', U'\u00E5', U'\u00FC'}},
    {"Italy",         {U'#',    U'$',    U'@',    U'\u00B0', U'\\', U'\u00E9', U'^',  U'\u00F9', U'\u00E0', U'\u00F2', U'\u00E8', U'\u00EC'}},
    {"Spain #1",      {U'\u20A7', U'$',  U'@',    U'\u00A1', U'\u00D1', U'\u00BF', U'^',  U'`',    U'\u00A8', U'\u00F1', U'}',    U'~'}},
    {"Japan",         {U'#',    U'$',    U'@',    U'[',    U'\u00A5', U']',    U'^',    U'`',    U'{',    U'|',    U'}',    U'~'}},
    {"Norway",        {U'#',    U'\u00A4', U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8', U'\u00E5', U'\u00FC'}},
    {"Denmark #2",    {U'#',    U'$',    U'\u00C9', U'\u00C6', U'\u00D8', U'\u00C5', U'\u00DC', U'\u00E9', U'\u00E6', U'\u00F8', U'\u00E5', U'\u00FC'}},
    {"Spain #2",      {U'#',    U'$',    U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'`', U'\u00ED', U'\u00F1', U'\u00F3', U'\u00FA'}},
    {"Latin America", {U'#',    U'$',    U'\u00E1', U'\u00A1', U'\u00D1', U'\u00BF', U'\u00E9', U'\u00FC', U'\u00ED', U'\u00F1', U'\u00F3', U'\u00FA'}},
    {"Korean",        {U'#',    U'$',    U'@',    U'[',    U'\u20A9', U']',    U'^',    U'`',    U'{',    U'|',    U'}',    U'~'}},
};
// clang-format on

} // namespace

std::optional<NationalCharacters> nationalCharacters(const QString &entry) {
    for (const NationalSet &set : Sets) {
        if (entry == QLatin1String(set.entry))
            return set.characters;
    }
    return std::nullopt;
}

} // namespace krv::sim
