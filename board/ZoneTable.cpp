#include "ZoneTable.h"

#include "link/WireMessage.h"

#include <array>

namespace {

ZoneMirror zone(const char *code, const char *editor, const char *display, const char *caption,
                ZoneContent content)
{
    return {QString::fromLatin1(code), QString::fromLatin1(editor), QString::fromLatin1(display),
            QString::fromLatin1(caption), content};
}

const std::array<ZoneMirror, ZoneTable::Size> &zones()
{
    using enum ZoneContent;
    static const std::array<ZoneMirror, ZoneTable::Size> table = {
        zone("01", "txtP1Hand", "lblP2Hand", "", Count),
        zone("02", "txtP1LP", "lblP2LP", "", Count),
        zone("03", "txtP1Deck", "lblP2Deck", "Deck Zone", Count),
        zone("04", "txtP1Trap5", "lblP2Trap1", "Magic/Trap Zone 1", Card),
        zone("05", "txtP1Trap4", "lblP2Trap2", "Magic/Trap Zone 2", Card),
        zone("06", "txtP1Trap3", "lblP2Trap3", "Magic/Trap Zone 3", Card),
        zone("07", "txtP1Trap2", "lblP2Trap4", "Magic/Trap Zone 4", Card),
        zone("08", "txtP1Trap1", "lblP2Trap5", "Magic/Trap Zone 5", Card),
        zone("09", "txtP1FusionDeck", "lblP2FusionDeck", "Fusion Deck Zone", List),
        zone("10", "txtP1Grave", "lblP2Grave", "Graveyard", List),
        zone("11", "txtP1Monster5", "lblP2Monster1", "Monster Card Zone 1", Card),
        zone("12", "txtP1Monster4", "lblP2Monster2", "Monster Card Zone 2", Card),
        zone("13", "txtP1Monster3", "lblP2Monster3", "Monster Card Zone 3", Card),
        zone("14", "txtP1Monster2", "lblP2Monster4", "Monster Card Zone 4", Card),
        zone("15", "txtP1Monster1", "lblP2Monster5", "Monster Card Zone 5", Card),
        zone("16", "txtP1FieldCard", "lblP2FieldZone", "Field Card Zone", Card),
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
    if (const ZoneMirror *mirror = byCode(code))
        return {MessageRoute::Kind::Zone, mirror};
    if (code == WireCode::Chat)
        return {MessageRoute::Kind::Chat};
    if (code == WireCode::Status)
        return {MessageRoute::Kind::Status};
    if (code == WireCode::Announcement)
        return {MessageRoute::Kind::Announcement};
    return {};
}

} // namespace ZoneTable
