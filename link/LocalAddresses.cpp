#include "LocalAddresses.h"

#include <QNetworkInterface>

#include <algorithm>

namespace LocalAddresses {

QStringList all()
{
    return ranked(QNetworkInterface::allAddresses());
}

QStringList ranked(const QList<QHostAddress> &addresses)
{
    // Most home and office networks still reach each other over IPv4; a link-local address
    // works only on the same network segment (and, for IPv6, needs the name of the other
    // player's own interface), so it is offered only when there is nothing else.
    const auto rank = [](const QHostAddress &address) {
        if (address.isLinkLocal())
            return 3;
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return 0;
        if (address.isUniqueLocalUnicast() || address.isSiteLocal())
            return 2;
        return 1;
    };
    QList<QHostAddress> shown;
    for (const QHostAddress &address : addresses) {
        if (!address.isNull() && !address.isLoopback() && !address.isMulticast() &&
            !shown.contains(address))
            shown.append(address);
    }
    std::stable_sort(shown.begin(), shown.end(), [&](const QHostAddress &a, const QHostAddress &b) {
        return rank(a) < rank(b);
    });
    QStringList texts;
    for (const QHostAddress &address : std::as_const(shown))
        texts.append(address.toString());
    return texts;
}

} // namespace LocalAddresses
