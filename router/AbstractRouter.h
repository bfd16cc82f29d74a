#pragma once

#include "PortMappingResult.h"

// The requests the program makes of the home router. Each call blocks until the router answers
// or gives up, so PortMappingScheduler makes them on its worker thread, never on the event loop. An
// implementation keeps no state between calls: everything a later call needs travels in the
// PortMappingResult.
class AbstractRouter
{
public:
    virtual ~AbstractRouter() = default;

    // Finds the router and asks it to forward a TCP port to `localPort` on this machine for
    // `leaseSeconds`.
    virtual PortMappingResult open(int localPort, int leaseSeconds) const = 0;
    // Asks again for the same external port before the lease runs out.
    virtual PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds) const = 0;
    // Removes an opened mapping.
    virtual void remove(const PortMappingResult &mapping) const = 0;
};
