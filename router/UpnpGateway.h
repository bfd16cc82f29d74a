#pragma once

#include "PortMappingResult.h"

// A home router reached over UPnP IGD (libminiupnpc): found by SSDP discovery, then asked over
// its control URL. Every call blocks.
namespace UpnpGateway {

// Discovers a router for at most about 3 x `discoveryMs` and asks it for a mapping: the same
// external port as `localPort` first, then a free one of 1024 or more if the router refuses
// that one. NoRouter when nothing answered.
PortMappingResult open(int localPort, int leaseSeconds, int discoveryMs);
// Asks the same router for the same external port again; the outcome says whether it agreed.
PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds);
void remove(const PortMappingResult &mapping);

} // namespace UpnpGateway
