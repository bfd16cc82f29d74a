#include "WireMessage.h"

#include "Windows1252.h"

WireMessage WireMessage::parse(const QString &text)
{
    return {text.left(2), text.size() > 2 ? text.mid(2) : QString()};
}

QString WireMessage::build(const QString &code, const QString &payload)
{
    return code + payload;
}

QString WireMessage::toWireLineBreaks(const QString &editorText)
{
    QString wire;
    wire.reserve(editorText.size() + editorText.count(QLatin1Char('\n')));
    for (const QChar ch : editorText) {
        if (ch == QLatin1Char('\n'))
            wire.append(QLatin1String("\r\n"));
        else
            wire.append(ch);
    }
    return wire;
}

QString WireMessage::fromWireLineBreaks(const QString &wireText)
{
    QString text = wireText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QByteArray WireMessage::framedBytes(const QString &message)
{
    QByteArray bytes = message.toUtf8();
    bytes.replace('\0', QByteArrayView());
    bytes.append('\0');
    return bytes;
}

QByteArray WireMessage::plainBytes(const QString &message)
{
    QByteArray bytes = Windows1252::encode(message);
    bytes.replace('\0', QByteArrayView());
    return bytes;
}
