#pragma once

#include "RouterAccess.h"

// The real home router: asked over UPnP IGD first, then over NAT-PMP, and the first that opens
// the port wins. A router that answers neither within a few seconds is reported as absent.
class RouterClient : public RouterAccess
{
public:
    RouterMapping open(int localPort, int leaseSeconds) const override;
    RouterMapping renew(const RouterMapping &mapping, int leaseSeconds) const override;
    void remove(const RouterMapping &mapping) const override;

private:
    // How long each kind of SSDP search waits for routers to answer.
    static constexpr int DiscoveryMs = 1500;
    // How long a NAT-PMP request waits for the gateway, resends included.
    static constexpr int NatPmpAnswerMs = 2000;
    static constexpr int NatPmpRemoveMs = 500;
};
