#include "MessageTable.h"

#include <array>

namespace {

const std::array<MessageCode, 24> &table()
{
    using enum MessageKind;
    static const std::array<MessageCode, 24> codes = {{
        {WireCode::Hand, ZoneText},
        {WireCode::LifePoints, LifePoints},
        {WireCode::Deck, ZoneText},
        {WireCode::MagicTrapZone1, ZoneText},
        {WireCode::MagicTrapZone2, ZoneText},
        {WireCode::MagicTrapZone3, ZoneText},
        {WireCode::MagicTrapZone4, ZoneText},
        {WireCode::MagicTrapZone5, ZoneText},
        {WireCode::FusionDeck, ZoneText},
        {WireCode::Graveyard, ZoneText},
        {WireCode::MonsterZone1, ZoneText},
        {WireCode::MonsterZone2, ZoneText},
        {WireCode::MonsterZone3, ZoneText},
        {WireCode::MonsterZone4, ZoneText},
        {WireCode::MonsterZone5, ZoneText},
        {WireCode::FieldCard, ZoneText},
        {WireCode::Chat, Chat},
        {WireCode::Status, Status},
        {WireCode::Announcement, Announcement},
        {WireCode::Greeting, Greeting},
        {WireCode::DrawCommit, DrawStep},
        {WireCode::DrawAnswer, DrawStep},
        {WireCode::DrawReveal, DrawStep},
        {WireCode::Ticket, Ticket},
    }};
    return codes;
}

} // namespace

namespace MessageTable {

std::span<const MessageCode> all()
{
    return table();
}

MessageKind kindOf(const QString &code)
{
    for (const MessageCode &entry : table()) {
        if (entry.code == code)
            return entry.kind;
    }
    return MessageKind::Unknown;
}

bool isPlainTable(const QString &code)
{
    switch (kindOf(code)) {
    case MessageKind::ZoneText:
    case MessageKind::LifePoints:
    case MessageKind::Chat:
    case MessageKind::Status:
    case MessageKind::Announcement:
        return true;
    case MessageKind::Greeting:
    case MessageKind::DrawStep:
    case MessageKind::Ticket:
    case MessageKind::Unknown:
        return false;
    }
    return false;
}

} // namespace MessageTable
