#pragma once

#include <QString>

// The text a display shows for a text from the peer, at a cost bounded by its length whatever
// its shape. Qt lays out a run of characters with no place to break it (no space, no line
// break) at a cost that grows with the square of its length: one chat line of a million
// letters would stop the window for minutes. So a run longer than LongestRun is shown as its
// first LongestRun characters and a note of how many more there are. Any text takes time to lay
// out in proportion to its length, so one longer than LongestText is shown up to there, with a
// note of how much more there is. Everything else is shown as it is; the displays keep the
// whole text beside what they show.
namespace DisplayText {

constexpr qsizetype LongestRun = 1000;
constexpr qsizetype LongestText = 100000;

QString shortened(const QString &text);

} // namespace DisplayText
