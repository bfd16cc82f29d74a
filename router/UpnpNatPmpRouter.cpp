#include "UpnpNatPmpRouter.h"

#include "NatPmpGateway.h"
#include "UpnpGateway.h"
#include "UpnpPinhole.h"

namespace {

// `port`, an answer about the IPv4 port, with the IPv6 part of `earlier`.
PortMappingResult withPinholeOf(PortMappingResult port, const PortMappingResult &earlier)
{
    port.ipv6 = earlier.ipv6;
    port.ipv6Address = earlier.ipv6Address;
    port.pinholeId = earlier.pinholeId;
    port.firewallControlUrl = earlier.firewallControlUrl;
    port.firewallServiceType = earlier.firewallServiceType;
    return port;
}

} // namespace

PortMappingResult UpnpNatPmpRouter::open(int localPort, int leaseSeconds) const
{
    PortMappingResult mapping = openPort(localPort, leaseSeconds);
    // The IPv6 firewall is asked whatever became of the IPv4 port: behind a carrier's network
    // the pinhole is the only way in.
    UpnpPinhole::open(mapping, leaseSeconds, DiscoveryMs);
    return mapping;
}

PortMappingResult UpnpNatPmpRouter::openPort(int localPort, int leaseSeconds) const
{
    const PortMappingResult upnp = UpnpGateway::open(localPort, leaseSeconds, DiscoveryMs);
    // Nothing more to ask when the port is open, or when the router's own internet address
    // shows that no port on it can let the other player in.
    if (upnp.isOpened() || upnp.outcome == PortMappingResult::Outcome::BehindAnotherNetwork)
        return upnp;
    const PortMappingResult natPmp = NatPmpGateway::open(localPort, leaseSeconds, NatPmpAnswerMs);
    if (natPmp.isOpened() || natPmp.outcome == PortMappingResult::Outcome::BehindAnotherNetwork)
        return natPmp;
    // Neither opened it: the UPnP answer says more when the router gave one.
    return upnp.outcome == PortMappingResult::Outcome::NoRouter ? natPmp : upnp;
}

PortMappingResult UpnpNatPmpRouter::renew(const PortMappingResult &mapping, int leaseSeconds) const
{
    PortMappingResult renewed = mapping;
    if (mapping.isOpened()) {
        renewed = mapping.method == PortMappingResult::Method::Upnp
                      ? UpnpGateway::renew(mapping, leaseSeconds)
                      : NatPmpGateway::renew(mapping, leaseSeconds, NatPmpAnswerMs);
        // A router that restarted, or a machine that moved to another network, may no longer
        // know the mapping or the address: start over.
        if (!renewed.isOpened())
            renewed = withPinholeOf(openPort(mapping.localPort, leaseSeconds), mapping);
    }
    if (mapping.hasPinhole() && !UpnpPinhole::renew(mapping, leaseSeconds))
        UpnpPinhole::open(renewed, leaseSeconds, DiscoveryMs);
    return renewed;
}

void UpnpNatPmpRouter::remove(const PortMappingResult &mapping) const
{
    if (mapping.isOpened()) {
        if (mapping.method == PortMappingResult::Method::Upnp)
            UpnpGateway::remove(mapping);
        else
            NatPmpGateway::remove(mapping, NatPmpRemoveMs);
    }
    if (mapping.hasPinhole())
        UpnpPinhole::remove(mapping);
}
