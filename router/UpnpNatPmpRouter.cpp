#include "UpnpNatPmpRouter.h"

#include "NatPmpGateway.h"
#include "UpnpGateway.h"

PortMappingResult UpnpNatPmpRouter::open(int localPort, int leaseSeconds) const
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
    PortMappingResult renewed = mapping.method == PortMappingResult::Method::Upnp
                                    ? UpnpGateway::renew(mapping, leaseSeconds)
                                    : NatPmpGateway::renew(mapping, leaseSeconds, NatPmpAnswerMs);
    // A router that restarted, or a machine that moved to another network, may no longer know
    // the mapping or the address: start over.
    if (!renewed.isOpened())
        renewed = open(mapping.localPort, leaseSeconds);
    return renewed;
}

void UpnpNatPmpRouter::remove(const PortMappingResult &mapping) const
{
    if (!mapping.isOpened() && mapping.pinholeId.isEmpty())
        return;
    if (mapping.method == PortMappingResult::Method::Upnp)
        UpnpGateway::remove(mapping);
    else
        NatPmpGateway::remove(mapping, NatPmpRemoveMs);
}
