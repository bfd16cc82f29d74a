#pragma once

#include "AbstractRouter.h"

// The real home router: asked over UPnP IGD first, then over NAT-PMP, and the first that opens
// the IPv4 port wins. A router that answers neither within a few seconds is reported as absent.
// Where this machine has a stable global IPv6 address, the router is also asked, over UPnP, to
// open its IPv6 firewall for the port; that pinhole is renewed and removed with the port.
class UpnpNatPmpRouter : public AbstractRouter
{
public:
    PortMappingResult open(int localPort, int leaseSeconds) const override;
    PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds) const override;
    void remove(const PortMappingResult &mapping) const override;

private:
    // The IPv4 port alone.
    PortMappingResult openPort(int localPort, int leaseSeconds) const;

    // How long each kind of SSDP search waits for routers to answer.
    static constexpr int DiscoveryMs = 1500;
    // How long a NAT-PMP request waits for the gateway, resends included.
    static constexpr int NatPmpAnswerMs = 2000;
    static constexpr int NatPmpRemoveMs = 500;
};
