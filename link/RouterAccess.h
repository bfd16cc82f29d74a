#pragma once

#include "RouterMapping.h"

// The requests the program makes of the home router. Each call blocks until the router answers
// or gives up, so PortMapper makes them on its worker thread, never on the event loop. An
// implementation keeps no state between calls: everything a later call needs travels in the
// RouterMapping.
class RouterAccess
{
public:
    virtual ~RouterAccess() = default;

    // Finds the router and asks it to forward a TCP port to `localPort` on this machine for
    // `leaseSeconds`.
    virtual RouterMapping open(int localPort, int leaseSeconds) const = 0;
    // Asks again for the same external port before the lease runs out.
    virtual RouterMapping renew(const RouterMapping &mapping, int leaseSeconds) const = 0;
    // Removes an opened mapping.
    virtual void remove(const RouterMapping &mapping) const = 0;
};
