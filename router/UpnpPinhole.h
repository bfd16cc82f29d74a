#pragma once

#include "PortMappingResult.h"

class QNetworkAddressEntry;

// A pinhole in the home router's IPv6 firewall for this copy's listening port, asked of a router
// that offers UPnP IGD version 2's IPv6 firewall control. Routers let a machine open pinholes
// only for the address it asks from, so the router is found over IPv6 and asked from the very
// address the pinhole is for, whichever address the system would pick itself. Every call blocks.
namespace UpnpPinhole {

// An address the other player can still dial tomorrow: global (neither link-local nor a unique
// local fc00::/7 one), and neither a temporary privacy address nor a deprecated one.
bool isStableGlobal(const QNetworkAddressEntry &entry);
// The first such address of an interface that is up, or empty.
QString stableGlobalAddress();

// Fills the IPv6 part of `mapping` afresh: this machine's stable global address and, where a
// router found within about `discoveryMs` offers IPv6 firewall control and agrees, a pinhole
// for mapping.localPort for `leaseSeconds`.
void open(PortMappingResult &mapping, int leaseSeconds, int discoveryMs);
// Extends the pinhole's lease; false when the router did not (it restarted, or this machine
// lost the address).
bool renew(const PortMappingResult &mapping, int leaseSeconds);
void remove(const PortMappingResult &mapping);

} // namespace UpnpPinhole
