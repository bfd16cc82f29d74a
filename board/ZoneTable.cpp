#include "ZoneTable.h"

#include "link/WireMessage.h"

#include <array>

namespace {

ZoneMirror zone(const char *code, const char *editor, const char *display, const char *caption,
                bool displayIsTextBox = false)
{
    return {QString::fromLatin1(code), QString::fromLatin1(editor), QString::fromLatin1(display),
            QString::fromLatin1(caption), displayIsTextBox};
}

const std::array<ZoneMirror, 16> &zones()
{
    static const std::array<ZoneMirror, 16> table = {
        zone("01", "txtP1Hand", "lblP2Hand", ""),
        zone("02", "txtP1LP", "lblP2LP", ""),
        zone("03", "txtP1Deck", "lblP2Deck", "Deck Zone"),
        zone("04", "txtP1Trap5", "lblP2Trap1", "Magic/Trap Zone 1"),
        zone("05", "txtP1Trap4", "lblP2Trap2", "Magic/Trap Zone 2"),
        zone("06", "txtP1Trap3", "lblP2Trap3", "Magic/Trap Zone 3"),
        zone("07", "txtP1Trap2", "lblP2Trap4", "Magic/Trap Zone 4"),
        zone("08", "txtP1Trap1", "lblP2Trap5", "Magic/Trap Zone 5"),
        zone("09", "txtP1FusionDeck", "lblP2FusionDeck", "Fusion Deck Zone", true),
        zone("10", "txtP1Grave", "lblP2Grave", "Graveyard", true),
        zone("11", "txtP1Monster5", "lblP2Monster1", "Monster Card Zone 1"),
        zone("12", "txtP1Monster4", "lblP2Monster2", "Monster Card Zone 2"),
        zone("13", "txtP1Monster3", "lblP2Monster3", "Monster Card Zone 3"),
        zone("14", "txtP1Monster2", "lblP2Monster4", "Monster Card Zone 4"),
        zone("15", "txtP1Monster1", "lblP2Monster5", "Monster Card Zone 5"),
        zone("16", "txtP1FieldCard", "lblP2FieldZone", "Field Card Zone"),
    };
    return table;
}

} // namespace

namespace ZoneTable {

std::span<const ZoneMirror> all()
{
    return zones();
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
