#pragma once

#include "draws/DrawExchange.h"

#include <QString>

// What the players read about a coin flip (2 faces) or a dice roll (6 faces): in the coin and
// dice window of the copy that drew, and in the announcement box of the other copy.
namespace DrawSentences {

// The announcement of a draw made by one copy alone, as every peer reads it (without its code).
QString announcement(int faces, int face);
// The announcement of a draw both copies took part in.
QString sharedAnnouncement(int faces, int face);
// The other copy's draw that this copy could not check, and why.
QString unchecked(int faces, DrawExchange::Unchecked why);

// The drawing copy's own window: a result drawn alone and announced, drawn by both copies,
// under way, or given up.
QString received(int faces, int face);
QString shared(int faces, int face);
QString drawing();
QString failed(DrawExchange::Failed why);

} // namespace DrawSentences
