#include "IceSettings.h"

#include <QtGlobal>

namespace {

// "host", "host:port", "[ipv6]" or "[ipv6]:port" into `host` and `port` (0 when left out);
// false, leaving both untouched, when malformed.
bool readHostAndPort(QStringView text, QString *host, int *port)
{
    QStringView hostPart = text;
    QStringView rest;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 2)
            return false;
        hostPart = text.sliced(1, close - 1);
        rest = text.sliced(close + 1);
    } else if (const qsizetype colon = text.indexOf(u':'); colon >= 0) {
        hostPart = text.first(colon);
        rest = text.sliced(colon);
    }
    if (hostPart.isEmpty() || (!text.startsWith(u'[') && hostPart.contains(u':')))
        return false;
    int readPort = 0;
    if (!rest.isEmpty()) {
        bool isNumber = false;
        readPort = rest.startsWith(u':') ? rest.sliced(1).toInt(&isNumber) : 0;
        if (!isNumber || readPort < 1 || readPort > 65535)
            return false;
    }
    *host = hostPart.toString();
    *port = readPort;
    return true;
}

} // namespace

QStringList IceSettings::defaultStunServers()
{
    return {QStringLiteral("stun.l.google.com:19302"), QStringLiteral("stun.cloudflare.com:3478"),
            QStringLiteral("stun.nextcloud.com:3478")};
}

IceSettings IceSettings::fromEnvironment(IceSettings base)
{
    if (qEnvironmentVariableIsSet("SKARNET_STUN")) {
        base.stunServers.clear();
        const QString servers = qEnvironmentVariable("SKARNET_STUN");
        for (const QStringView server : QStringView(servers).split(u','))
            if (!server.trimmed().isEmpty())
                base.stunServers.append(server.trimmed().toString());
    }
    if (qEnvironmentVariableIsSet("SKARNET_TURN")) {
        const QString relay = qEnvironmentVariable("SKARNET_TURN").trimmed();
        base.relayHost.clear();
        base.relayPort = 0;
        base.relayUser.clear();
        base.relayPassword.clear();
        if (relay.isEmpty())
            return base;
        // The password may hold '@' and ':'; the user name holds neither.
        const qsizetype at = relay.lastIndexOf(u'@');
        const QStringView credentials = QStringView(relay).first(qMax(at, 0));
        const qsizetype colon = credentials.indexOf(u':');
        if (at < 0 || colon < 1 ||
            !readHostAndPort(QStringView(relay).sliced(at + 1), &base.relayHost, &base.relayPort)) {
            qWarning("SKARNET_TURN is not user:password@host:port; no relay is used");
            return base;
        }
        base.relayUser = credentials.first(colon).toString();
        base.relayPassword = credentials.sliced(colon + 1).toString();
    }
    return base;
}
