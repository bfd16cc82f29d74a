#pragma once

#include <QString>

// One message between the two copies: a two-digit code followed by a free-text payload.
// The payload is the whole rest of the string; there is no separator and no escaping.
struct WireMessage
{
    QString code;
    QString payload;

    // Code = the first two characters, payload = everything after them. A string of fewer
    // than two characters yields a short code that matches no entry of the table.
    static WireMessage parse(const QString &text);
    static QString build(const QString &code, const QString &payload);

    // Multi-line text travels with CR LF line breaks, as the other seat's text boxes expect;
    // editors here hold plain LF.
    static QString toWireLineBreaks(const QString &editorText);
    static QString fromWireLineBreaks(const QString &wireText);
};

namespace WireCode {
inline const QString Hand = QStringLiteral("01");
inline const QString LifePoints = QStringLiteral("02");
inline const QString Chat = QStringLiteral("17");
inline const QString Status = QStringLiteral("18");
inline const QString Announcement = QStringLiteral("19");
// Not in the message table, so a peer without framing drops it silently.
inline const QString Greeting = QStringLiteral("20");
} // namespace WireCode

// The texts of the status line; the first two also travel as the payload of code 18.
namespace StatusText {
inline const QString Connected = QStringLiteral("Connected");
inline const QString Disconnected = QStringLiteral("Disconnected");
inline const QString WaitingForConnection = QStringLiteral("Waiting for connection");
inline const QString WaitingForResponse = QStringLiteral("Waiting for response");
// A link between two copies was lost, and they are finding each other again.
inline const QString Reconnecting = QStringLiteral("Connection lost, reconnecting\u2026");
} // namespace StatusText
