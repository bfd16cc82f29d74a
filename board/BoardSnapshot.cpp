#include "BoardSnapshot.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString Format = QStringLiteral("skarnet-recovery");

QJsonObject zonesObject(const std::array<QString, ZoneTable::Size> &texts, bool local)
{
    QJsonObject zones;
    for (const ZoneMirror &zone : ZoneTable::all())
        zones.insert(local ? zone.editorName : zone.displayName, texts[ZoneTable::indexOf(zone)]);
    return zones;
}

// Every zone of the table must be there, as text; anything else is refused.
bool readZones(const QJsonValue &value, bool local, std::array<QString, ZoneTable::Size> &texts)
{
    if (!value.isObject())
        return false;
    const QJsonObject zones = value.toObject();
    if (zones.size() != qsizetype(ZoneTable::Size))
        return false;
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const QJsonValue text = zones.value(local ? zone.editorName : zone.displayName);
        if (!text.isString())
            return false;
        texts[ZoneTable::indexOf(zone)] = text.toString();
    }
    return true;
}

std::optional<BoardSnapshot> refuse(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return std::nullopt;
}

} // namespace

QByteArray BoardSnapshot::toJson() const
{
    QJsonObject root;
    root.insert(QStringLiteral("format"), Format);
    root.insert(QStringLiteral("version"), FormatVersion);
    root.insert(QStringLiteral("savedAt"), savedAt.toUTC().toString(Qt::ISODateWithMs));
    root.insert(QStringLiteral("local"), zonesObject(localZones, true));
    root.insert(QStringLiteral("opponent"), zonesObject(opponentZones, false));
    root.insert(QStringLiteral("name"), name);
    root.insert(QStringLiteral("chat"), chat);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<BoardSnapshot> BoardSnapshot::fromJson(const QByteArray &json, QString *problem)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refuse(problem, QStringLiteral("it is damaged or cut short"));
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != Format)
        return refuse(problem, QStringLiteral("it is not a recovery copy"));
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toInt() < 1)
        return refuse(problem, QStringLiteral("it is not a recovery copy"));
    if (version.toInt() > FormatVersion)
        return refuse(problem, QStringLiteral("a newer version of Skarnet wrote it"));

    BoardSnapshot snapshot;
    snapshot.savedAt =
        QDateTime::fromString(root.value(QStringLiteral("savedAt")).toString(), Qt::ISODateWithMs);
    const QJsonValue name = root.value(QStringLiteral("name"));
    const QJsonValue chat = root.value(QStringLiteral("chat"));
    if (!snapshot.savedAt.isValid() || !name.isString() || !chat.isString() ||
        !readZones(root.value(QStringLiteral("local")), true, snapshot.localZones) ||
        !readZones(root.value(QStringLiteral("opponent")), false, snapshot.opponentZones))
        return refuse(problem, QStringLiteral("parts of it are missing or damaged"));
    snapshot.name = name.toString();
    snapshot.chat = chat.toString();
    return snapshot;
}
