#include "RouterClient.h"

#include "NatPmpGateway.h"
#include "UpnpGateway.h"

RouterMapping RouterClient::open(int localPort, int leaseSeconds) const
{
    const RouterMapping upnp = UpnpGateway::open(localPort, leaseSeconds, DiscoveryMs);
    // Nothing more to ask when the port is open, or when the router's own internet address
    // shows that no port on it can let the other player in.
    if (upnp.isOpened() || upnp.outcome == RouterMapping::Outcome::BehindAnotherNetwork)
        return upnp;
    const RouterMapping natPmp = NatPmpGateway::open(localPort, leaseSeconds, NatPmpAnswerMs);
    if (natPmp.isOpened() || natPmp.outcome == RouterMapping::Outcome::BehindAnotherNetwork)
        return natPmp;
    // Neither opened it: the UPnP answer says more when the router gave one.
    return upnp.outcome == RouterMapping::Outcome::NoRouter ? natPmp : upnp;
}

RouterMapping RouterClient::renew(const RouterMapping &mapping, int leaseSeconds) const
{
    RouterMapping renewed = mapping.method == RouterMapping::Method::Upnp
                                ? UpnpGateway::renew(mapping, leaseSeconds)
                                : NatPmpGateway::renew(mapping, leaseSeconds, NatPmpAnswerMs);
    // A router that restarted, or a machine that moved to another network, may no longer know
    // the mapping or the address: start over.
    if (!renewed.isOpened())
        renewed = open(mapping.localPort, leaseSeconds);
    return renewed;
}

void RouterClient::remove(const RouterMapping &mapping) const
{
    if (!mapping.isOpened() && mapping.pinholeId.isEmpty())
        return;
    if (mapping.method == RouterMapping::Method::Upnp)
        UpnpGateway::remove(mapping);
    else
        NatPmpGateway::remove(mapping, NatPmpRemoveMs);
}
