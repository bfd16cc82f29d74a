#pragma once

#include "PortMappingResult.h"

// A home router reached over NAT-PMP (libnatpmp) at the default gateway. Every call blocks,
// for at most `answerMs` per request.
namespace NatPmpGateway {

PortMappingResult open(int localPort, int leaseSeconds, int answerMs);
PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds, int answerMs);
void remove(const PortMappingResult &mapping, int answerMs);

} // namespace NatPmpGateway
