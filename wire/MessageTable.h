#pragma once

#include <QString>

#include <span>

// What a message is, decided by its code alone.
enum class MessageKind
{
    ZoneText,     // the whole text of one zone of the sender's half; a newer one makes it stale
    LifePoints,   // the sender's life points; each change is an event the players follow
    Chat,         // one line of the chat
    Status,       // a text for the status line ("Connected", "Disconnected", ...)
    Announcement, // a coin flip or dice roll drawn alone, shown in a box
    Greeting,     // our copies' greeting; never shown
    DrawStep,     // a step of a draw made by both copies; only between copies
    Ticket,       // the invitation's ticket, the first message inside an encrypted link
    Unknown,      // no code of the table: dropped
};

// Every message code the two seats exchange. Codes 01 to 19 are the plain message table that
// every peer speaks; 20 to 24 travel only between our copies, and a peer that knows only the
// plain table drops them as unknown codes.
namespace WireCode {
inline const QString Hand = QStringLiteral("01");
inline const QString LifePoints = QStringLiteral("02");
inline const QString Deck = QStringLiteral("03");
inline const QString MagicTrapZone1 = QStringLiteral("04");
inline const QString MagicTrapZone2 = QStringLiteral("05");
inline const QString MagicTrapZone3 = QStringLiteral("06");
inline const QString MagicTrapZone4 = QStringLiteral("07");
inline const QString MagicTrapZone5 = QStringLiteral("08");
inline const QString FusionDeck = QStringLiteral("09");
inline const QString Graveyard = QStringLiteral("10");
inline const QString MonsterZone1 = QStringLiteral("11");
inline const QString MonsterZone2 = QStringLiteral("12");
inline const QString MonsterZone3 = QStringLiteral("13");
inline const QString MonsterZone4 = QStringLiteral("14");
inline const QString MonsterZone5 = QStringLiteral("15");
inline const QString FieldCard = QStringLiteral("16");
inline const QString Chat = QStringLiteral("17");
inline const QString Status = QStringLiteral("18");
inline const QString Announcement = QStringLiteral("19");
inline const QString Greeting = QStringLiteral("20");
inline const QString DrawCommit = QStringLiteral("21");
inline const QString DrawAnswer = QStringLiteral("22");
inline const QString DrawReveal = QStringLiteral("23");
inline const QString Ticket = QStringLiteral("24");
} // namespace WireCode

struct MessageCode
{
    QString code;
    MessageKind kind;
};

namespace MessageTable {

// Every code, in the order of its number.
std::span<const MessageCode> all();
MessageKind kindOf(const QString &code);
// A message of the plain table (codes 01 to 19), which every peer speaks and shows.
bool isPlainTable(const QString &code);

} // namespace MessageTable
