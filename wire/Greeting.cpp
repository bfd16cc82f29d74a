#include "Greeting.h"

#include "MessageTable.h"
#include "WireMessage.h"

namespace {

// Constant, so that it is ready for greetings built while the program's statics are made.
constexpr QLatin1String TagPrefix("skarnet/");

} // namespace

namespace Greeting {

QString tag(int version)
{
    return TagPrefix + QString::number(version);
}

QString message(int version)
{
    return WireMessage::build(WireCode::Greeting, tag(version));
}

QByteArray wireStart()
{
    return (WireCode::Greeting + TagPrefix).toLatin1();
}

bool isGreeting(const WireMessage &message)
{
    return message.code == WireCode::Greeting && message.payload.startsWith(TagPrefix);
}

int versionOf(const QString &payload)
{
    bool isNumber = false;
    const int version = payload.mid(TagPrefix.size()).toInt(&isNumber);
    return isNumber && version > 1 ? version : 1;
}

} // namespace Greeting
