#pragma once

#include <QString>

#include <cstddef>
#include <span>

// What a zone holds, which decides the kind of its editor and of its opponent display.
enum class ZoneContent
{
    Count, // a number typed in a one-line box and shown in a label: hand, life points, deck
    Card,  // a card typed in a multi-line box and shown in a label
    List,  // cards typed one a line in a multi-line box and shown in a read-only text box
};

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
    ZoneContent content;
};

// Where a message from the peer lands on this seat, decided by its code alone.
struct MessageRoute
{
    enum class Kind
    {
        Zone,         // the opponent display of `zone`
        Chat,         // appended to the chat log
        Status,       // the status line
        Announcement, // a message box
        Ignored,      // a code this seat does not show, such as the greeting
    };
    Kind kind = Kind::Ignored;
    // The zone whose opponent display shows the payload; set only for Kind::Zone.
    const ZoneMirror *zone = nullptr;
};

namespace ZoneTable {

constexpr std::size_t Size = 16;

std::span<const ZoneMirror> all();
// Where `zone`, a row of all(), stands in it; arrays kept in the table's order use it.
std::size_t indexOf(const ZoneMirror &zone);
// The zone a message code carries, or nullptr for a code that carries no zone.
const ZoneMirror *byCode(const QString &code);
const ZoneMirror *byEditor(const QString &editorName);
// Where a message with this code goes.
MessageRoute route(const QString &code);

} // namespace ZoneTable
