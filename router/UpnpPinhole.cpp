#include "UpnpPinhole.h"

#include "SoapRequest.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkInterface>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <algorithm>
#include <array>

namespace {

constexpr unsigned char PinholeSearchTtl = 2;
// The router is on the home network: one request, connecting included, takes far less.
constexpr int FirewallRequestMs = 2000;
// The longest lease a router gives a pinhole.
constexpr int LongestPinholeLease = 86400;
// A pinhole request names TCP by its IP protocol number.
constexpr const char *TcpProtocolNumber = "6";

QByteArray decimal(int value)
{
    return QByteArray::number(value);
}

// Looks for a router that offers IPv6 firewall control, by an SSDP search over IPv6, and notes
// where it takes requests.
bool findFirewall(PortMappingResult &mapping, int discoveryMs)
{
    static const char *const kinds[] = {"urn:schemas-upnp-org:service:WANIPv6FirewallControl:1",
                                        nullptr};
    int error = 0;
    UPNPDev *devices = upnpDiscoverDevices(kinds, discoveryMs, nullptr, nullptr, 0, 1,
                                           PinholeSearchTtl, &error, 0);
    if (!devices)
        return false;
    UPNPUrls urls{};
    IGDdatas data{};
    std::array<char, 64> lanAddress{};
    const int found =
        UPNP_GetValidIGD(devices, &urls, &data, lanAddress.data(), int(lanAddress.size()));
    freeUPNPDevlist(devices);
    if (found <= 0)
        return false;
    if (urls.controlURL_6FC && data.IPv6FC.controlurl[0]) {
        mapping.firewallControlUrl = QString::fromUtf8(urls.controlURL_6FC);
        mapping.firewallServiceType = QString::fromUtf8(data.IPv6FC.servicetype);
    }
    FreeUPNPUrls(&urls);
    return !mapping.firewallControlUrl.isEmpty();
}

// Asks the router's firewall from the address the pinhole is for.
SoapRequest::Answer askFirewall(const PortMappingResult &mapping, const QByteArray &action,
                                const SoapRequest::Arguments &arguments)
{
    return SoapRequest::send(mapping.firewallControlUrl, mapping.firewallServiceType.toUtf8(),
                             action, arguments, mapping.ipv6Address, FirewallRequestMs);
}

// Whether the router says it keeps inbound pinholes out whatever is asked, or has no firewall
// to open. A router that does not answer this is asked for the pinhole all the same.
bool refusesEveryPinhole(const PortMappingResult &mapping)
{
    const QByteArray control = mapping.firewallControlUrl.toUtf8();
    const QByteArray service = mapping.firewallServiceType.toUtf8();
    int enabled = 0;
    int inboundAllowed = 0;
    return UPNP_GetFirewallStatus(control.constData(), service.constData(), &enabled,
                                  &inboundAllowed) == UPNPCOMMAND_SUCCESS &&
           (!enabled || !inboundAllowed);
}

int pinholeLease(int leaseSeconds)
{
    return std::clamp(leaseSeconds, 1, LongestPinholeLease);
}

} // namespace

namespace UpnpPinhole {

bool isStableGlobal(const QNetworkAddressEntry &entry)
{
    const QHostAddress address = entry.ip();
    // Qt marks temporary and deprecated addresses as not to be published in the DNS.
    return address.protocol() == QAbstractSocket::IPv6Protocol && address.isGlobal() &&
           !address.isUniqueLocalUnicast() &&
           entry.dnsEligibility() != QNetworkAddressEntry::DnsIneligible &&
           !(entry.isLifetimeKnown() && entry.preferredLifetime().hasExpired());
}

QString stableGlobalAddress()
{
    for (const QNetworkInterface &networkInterface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = networkInterface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : networkInterface.addressEntries()) {
            if (isStableGlobal(entry))
                return entry.ip().toString();
        }
    }
    return {};
}

void open(PortMappingResult &mapping, int leaseSeconds, int discoveryMs)
{
    mapping.firewallControlUrl.clear();
    mapping.firewallServiceType.clear();
    mapping.pinholeId.clear();
    mapping.ipv6Address = stableGlobalAddress();
    if (mapping.ipv6Address.isEmpty()) {
        mapping.ipv6 = PortMappingResult::Ipv6Pinhole::NoGlobalAddress;
        return;
    }
    mapping.ipv6 = PortMappingResult::Ipv6Pinhole::MayBeFirewalled;
    if (!findFirewall(mapping, discoveryMs) || refusesEveryPinhole(mapping))
        return;
    // An empty remote host and port 0 let any peer in.
    const SoapRequest::Answer answer =
        askFirewall(mapping, "AddPinhole",
                    {{"RemoteHost", ""},
                     {"RemotePort", "0"},
                     {"InternalClient", mapping.ipv6Address.toUtf8()},
                     {"InternalPort", decimal(mapping.localPort)},
                     {"Protocol", TcpProtocolNumber},
                     {"LeaseTime", decimal(pinholeLease(leaseSeconds))}});
    const QString id = answer.values.value(QStringLiteral("UniqueID"));
    if (answer.succeeded() && !id.isEmpty()) {
        mapping.ipv6 = PortMappingResult::Ipv6Pinhole::Opened;
        mapping.pinholeId = id;
    }
}

bool renew(const PortMappingResult &mapping, int leaseSeconds)
{
    return askFirewall(mapping, "UpdatePinhole",
                       {{"UniqueID", mapping.pinholeId.toUtf8()},
                        {"NewLeaseTime", decimal(pinholeLease(leaseSeconds))}})
        .succeeded();
}

void remove(const PortMappingResult &mapping)
{
    askFirewall(mapping, "DeletePinhole", {{"UniqueID", mapping.pinholeId.toUtf8()}});
}

} // namespace UpnpPinhole
