#include "ZoneTable.h"

#include "wire/MessageTable.h"

#include <array>

namespace {

ZoneMirror zone(const QString &code, const char *editor, const char *display, const char *caption,
                ZoneContent content)
{
    return {code, QString::fromLatin1(editor), QString::fromLatin1(display),
            QString::fromLatin1(caption), content};
}

const std::array<ZoneMirror, ZoneTable::Size> &zones()
{
    using enum ZoneContent;
    static const std::array<ZoneMirror, ZoneTable::Size> table = {
        zone(WireCode::Hand, "txtP1Hand", "lblP2Hand", "", Count),
        zone(WireCode::LifePoints, "txtP1LP", "lblP2LP", "", Count),
        zone(WireCode::Deck, "txtP1Deck", "lblP2Deck", "Deck Zone", Count),
        zone(WireCode::MagicTrapZone1, "txtP1Trap5", "lblP2Trap1", "Magic/Trap Zone 1", Card),
        zone(WireCode::MagicTrapZone2, "txtP1Trap4", "lblP2Trap2", "Magic/Trap Zone 2", Card),
        zone(WireCode::MagicTrapZone3, "txtP1Trap3", "lblP2Trap3", "Magic/Trap Zone 3", Card),
        zone(WireCode::MagicTrapZone4, "txtP1Trap2", "lblP2Trap4", "Magic/Trap Zone 4", Card),
        zone(WireCode::MagicTrapZone5, "txtP1Trap1", "lblP2Trap5", "Magic/Trap Zone 5", Card),
        zone(WireCode::FusionDeck, "txtP1FusionDeck", "lblP2FusionDeck", "Fusion Deck Zone", List),
        zone(WireCode::Graveyard, "txtP1Grave", "lblP2Grave", "Graveyard", List),
        zone(WireCode::MonsterZone1, "txtP1Monster5", "lblP2Monster1", "Monster Card Zone 1", Card),
        zone(WireCode::MonsterZone2, "txtP1Monster4", "lblP2Monster2", "Monster Card Zone 2", Card),
        zone(WireCode::MonsterZone3, "txtP1Monster3", "lblP2Monster3", "Monster Card Zone 3", Card),
        zone(WireCode::MonsterZone4, "txtP1Monster2", "lblP2Monster4", "Monster Card Zone 4", Card),
        zone(WireCode::MonsterZone5, "txtP1Monster1", "lblP2Monster5", "Monster Card Zone 5", Card),
        zone(WireCode::FieldCard, "txtP1FieldCard", "lblP2FieldZone", "Field Card Zone", Card),
    };
    return table;
}

} // namespace

namespace ZoneTable {

std::span<const ZoneMirror> all()
{
    return zones();
}

std::size_t indexOf(const ZoneMirror &zone)
{
    const std::size_t index = std::size_t(&zone - zones().data());
    Q_ASSERT(index < Size);
    return index;
}

const ZoneMirror *byCode(const QString &code)
{
    for (const ZoneMirror &mirror : zones()) {
        if (mirror.code == code)
            return &mirror;
    }
    return nullptr;
}

const ZoneMirror *byEditor(const QString &editorName)
{
    for (const ZoneMirror &mirror : zones()) {
        if (mirror.editorName == editorName)
            return &mirror;
    }
    return nullptr;
}

MessageRoute route(const QString &code)
{
    switch (MessageTable::kindOf(code)) {
    case MessageKind::ZoneText:
    case MessageKind::LifePoints:
        return {MessageRoute::Kind::Zone, byCode(code)};
    case MessageKind::Chat:
        return {MessageRoute::Kind::Chat};
    case MessageKind::Status:
        return {MessageRoute::Kind::Status};
    case MessageKind::Announcement:
        return {MessageRoute::Kind::Announcement};
    case MessageKind::Greeting:
    case MessageKind::DrawStep:
    case MessageKind::Ticket:
    case MessageKind::Unknown:
        break;
    }
    return {};
}

} // namespace ZoneTable
