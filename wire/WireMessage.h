#pragma once

#include "MessageTable.h"

#include <QByteArray>
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

    // The bytes of one message as a copy that frames reads it: UTF-8 ended by a NUL (see
    // MessageReader.h), and as a peer that knows only the plain table reads it: Windows-1252 in
    // one write. A NUL inside the text would end the frame early, so it is left out of both.
    static QByteArray framedBytes(const QString &message);
    static QByteArray plainBytes(const QString &message);
};

// The texts of the status line; the first two also travel as the payload of code 18.
namespace StatusText {
inline const QString Connected = QStringLiteral("Connected");
inline const QString Disconnected = QStringLiteral("Disconnected");
inline const QString WaitingForConnection = QStringLiteral("Waiting for connection");
inline const QString WaitingForResponse = QStringLiteral("Waiting for response");
// A link between two copies was lost, and they are finding each other again.
inline const QString Reconnecting = QStringLiteral("Connection lost, reconnecting\u2026");
} // namespace StatusText
