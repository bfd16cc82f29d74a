#pragma once

#include <QString>

#include <span>

// One board zone as it travels between the seats: the local editor it is typed into, the
// message code that carries it, and the opponent display that shows it on the other copy.
struct ZoneMirror
{
    QString code;
    QString editorName;
    QString displayName;
    // The caption of the zone's frames on both halves; empty for the two counters above and
    // below the board (hand and life points), which have no frame.
    QString caption;
    // Graveyard and fusion deck are shown in read-only text boxes, the rest in labels.
    bool displayIsTextBox;
};

namespace ZoneTable {

std::span<const ZoneMirror> all();
// The zone a message code carries, or nullptr for a code that carries no zone.
const ZoneMirror *byCode(const QString &code);
const ZoneMirror *byEditor(const QString &editorName);

} // namespace ZoneTable
