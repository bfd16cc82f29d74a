#include "PortMappingResult.h"

#include <QHostAddress>
#include <QRandomGenerator>

PortMappingResult PortMappingResult::noRouterYet(Method method, int localPort)
{
    PortMappingResult mapping;
    mapping.outcome = Outcome::NoRouter;
    mapping.method = method;
    mapping.localPort = localPort;
    return mapping;
}

QString PortMappingResult::dialAddress() const
{
    if (isOpened())
        return QStringLiteral("%1:%2").arg(externalAddress).arg(externalPort);
    if (ipv6 == Ipv6Pinhole::Opened)
        return QStringLiteral("[%1]:%2").arg(ipv6Address).arg(localPort);
    return {};
}

QString PortMappingResult::sentence() const
{
    QString text;
    switch (outcome) {
    case Outcome::Off:
        return QStringLiteral("On the internet: not asked (port mapping is off)");
    case Outcome::Asking:
        return QStringLiteral("On the internet: asking your router to open port %1…")
            .arg(localPort);
    case Outcome::Opened:
        text = QStringLiteral("On the internet: %1 (opened on your router)").arg(dialAddress());
        break;
    case Outcome::NoRouter:
        text = QStringLiteral(
                   "On the internet: no router answered, so the other player can reach this copy "
                   "only on your network, or if port %1 is forwarded to it by hand")
                   .arg(localPort);
        break;
    case Outcome::Refused:
        text = QStringLiteral("On the internet: your router refused to open a port (%1). Forward "
                              "port %2 to %3 by hand, or let the other player wait for the "
                              "connection and connect to them")
                   .arg(reason)
                   .arg(localPort)
                   .arg(lanAddress.isEmpty() ? QStringLiteral("this machine") : lanAddress);
        break;
    case Outcome::BehindAnotherNetwork:
        text = QStringLiteral(
                   "On the internet: your router is itself behind another network (its address "
                   "there is %1), so opening a port on it will not let the other player in. If "
                   "you both have IPv6, dial an IPv6 address instead; otherwise let the other "
                   "player wait for the connection and connect to them")
                   .arg(externalAddress);
        break;
    }
    switch (ipv6) {
    case Ipv6Pinhole::NoGlobalAddress:
        break;
    case Ipv6Pinhole::Opened:
        text += QStringLiteral(". IPv6: [%1]:%2 (opened in your router's firewall)")
                    .arg(ipv6Address)
                    .arg(localPort);
        break;
    case Ipv6Pinhole::MayBeFirewalled:
        text += QStringLiteral(". IPv6: [%1]:%2 needs no forwarding, but your router's firewall "
                               "may block it")
                    .arg(ipv6Address)
                    .arg(localPort);
        break;
    }
    return text;
}

bool PortMappingResult::isPrivateOrShared(const QString &ipv4)
{
    const QHostAddress address(ipv4);
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    static const std::pair<QHostAddress, int> ranges[] = {
        {QHostAddress(QStringLiteral("10.0.0.0")), 8},
        {QHostAddress(QStringLiteral("172.16.0.0")), 12},
        {QHostAddress(QStringLiteral("192.168.0.0")), 16},
        {QHostAddress(QStringLiteral("100.64.0.0")), 10},
    };
    for (const auto &range : ranges) {
        if (address.isInSubnet(range))
            return true;
    }
    return false;
}

QList<int> PortMappingResult::otherExternalPorts(int localPort)
{
    constexpr int lowest = 1024;
    constexpr int highest = 65535;
    constexpr int tries = 6;
    QList<int> ports;
    const int readable = localPort < lowest ? 40000 + localPort : localPort + 10000;
    if (readable <= highest)
        ports.append(readable);
    // The rest anywhere in the ephemeral-free middle of the range, where fewer services sit.
    while (ports.size() < tries) {
        const int port = int(QRandomGenerator::global()->bounded(20000, 60000));
        if (port != localPort && !ports.contains(port))
            ports.append(port);
    }
    return ports;
}
