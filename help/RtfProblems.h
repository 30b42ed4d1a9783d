// The RTF reader's list of problems: where in the input, and what. Only the
// first RtfMaxProblems are kept; a last entry counts the rest.
#pragma once

#include "RtfReader.h"
#include "RtfTokenizer.h"

#include <QString>
#include <QStringList>

#include <cstddef>

namespace krv::help {

class RtfProblems {
public:
    void add(std::size_t offset, const QString &what);
    // The syntax faults the tokenizer found in a token.
    void addFaults(const RtfToken &token);
    [[nodiscard]] QStringList take();

private:
    QStringList mList;
    int mCount = 0;
};

} // namespace krv::help
