#pragma once

#include "board/ZoneTable.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

// What one copy shows at a moment: every zone of its own half as typed, every zone of the
// opponent half as last received, the chat name and the chat log. It is what the recovery file
// holds, as JSON; a file is read whole or not at all.
struct BoardSnapshot
{
    static constexpr int FormatVersion = 1;

    QDateTime savedAt;
    // In ZoneTable's order.
    std::array<QString, ZoneTable::Size> localZones;
    std::array<QString, ZoneTable::Size> opponentZones;
    QString name;
    QString chat;

    QByteArray toJson() const;
    // The snapshot in `json`, or nothing with `problem` saying why it cannot be read: not JSON,
    // not a snapshot, from a newer version of the program, or with a part missing or of the
    // wrong kind.
    static std::optional<BoardSnapshot> fromJson(const QByteArray &json, QString *problem);
};
