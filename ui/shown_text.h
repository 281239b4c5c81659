// How the window's lists and tree show a text: on one line, and no longer than a reader
// takes in at a glance. A list row of megabytes would be shaped again at every repaint and
// hold the window for seconds; the whole text stays where it is used (tool tip, export,
// selection by key).
#pragma once

#include <QString>
#include <string_view>

namespace corvane {

// Characters of a text shown before it is cut off with "…".
inline constexpr qsizetype kMaxShownChars = 500;

// The text's first kMaxShownChars characters, "…" after them when there are more, and line
// breaks as blanks.
QString ShownText(std::string_view text);

}  // namespace corvane
