#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// What the home router was asked and what it answered: the port opened on its internet side
// for this copy's listening port, or why there is none. A plain value: the worker that talks to
// the router hands a fresh one back to the event loop after each request.
struct PortMappingResult
{
    enum class Outcome
    {
        Off,                  // the player turned port mapping off
        Asking,               // a request is under way
        Opened,               // the router forwards externalPort to localPort on lanAddress
        NoRouter,             // no router answered, over UPnP or NAT-PMP
        Refused,              // a router answered and said no; `reason` says why
        BehindAnotherNetwork, // the router's own internet address is private or shared
    };
    enum class Method
    {
        None,
        Upnp,
        NatPmp
    };
    // Whether the router's IPv6 firewall lets the other player reach this machine's stable global
    // IPv6 address, which needs no forwarding.
    enum class Ipv6Pinhole
    {
        NoGlobalAddress,
        Opened,
        MayBeFirewalled
    };

    Outcome outcome = Outcome::Off;
    Method method = Method::None;
    int localPort = 0;
    int externalPort = 0;
    // The router's address on its internet side, as it reports it.
    QString externalAddress;
    // This machine's address on the home network, which the router forwards to.
    QString lanAddress;
    QString reason;
    // Where a UPnP router takes its requests, to renew and remove the mapping.
    QString controlUrl;
    QString serviceType;
    // The router's IPv6 firewall, when it offers one over UPnP (an address of the router on
    // IPv6, since the router lets only the address a pinhole is for ask for it).
    QString firewallControlUrl;
    QString firewallServiceType;
    Ipv6Pinhole ipv6 = Ipv6Pinhole::NoGlobalAddress;
    QString ipv6Address;
    QString pinholeId;

    // What a request over `method` starts from: no router heard yet.
    static PortMappingResult noRouterYet(Method method, int localPort);

    bool isOpened() const { return outcome == Outcome::Opened; }
    bool hasPinhole() const { return ipv6 == Ipv6Pinhole::Opened && !pinholeId.isEmpty(); }
    // Whether the router keeps something for this copy that runs out unless renewed, and that
    // is removed at the end: the IPv4 port, the IPv6 pinhole, or both.
    bool holdsLease() const { return isOpened() || hasPinhole(); }
    // What the other player types into "Connect to IP": "198.51.100.7:40123" when the router
    // opened an IPv4 port, else "[2001:db8::20]:123" when it opened its IPv6 firewall, else
    // empty.
    QString dialAddress() const;
    // The sentence the connections window shows, in plain words.
    QString sentence() const;

    // True for an IPv4 address that the internet cannot route to: the private ranges and the
    // carrier-grade NAT range 100.64/10. A router whose internet side has such an address is
    // behind another network, and a port opened on it does not let the other player in.
    static bool isPrivateOrShared(const QString &ipv4);
    // External ports to ask for when the router refuses the local one (below 1024, or already
    // forwarded to another machine): all 1024 or more, none equal to `localPort`, the first one
    // easy to read beside it ("40123" for 123).
    static QList<int> otherExternalPorts(int localPort);
};

Q_DECLARE_METATYPE(PortMappingResult)
