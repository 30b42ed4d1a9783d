#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace krv::help {

inline constexpr int HelpTopicCount = 16;
using HelpTopicArray = std::array<QByteArray, HelpTopicCount>;

// The RTF document of topic `index` (0..15), one line per CR LF; an empty
// array for any other index.
[[nodiscard]] QByteArray helpDocument(int index);

// Fills all sixteen elements in index order, each with its own document.
void LoadHelpTopics(HelpTopicArray &topics);

// The text of the topic's centred title paragraph; empty for an index outside 0..15.
[[nodiscard]] QString helpTopicTitle(int index);

} // namespace krv::help
