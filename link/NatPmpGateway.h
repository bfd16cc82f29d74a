#pragma once

#include "RouterMapping.h"

// A home router reached over NAT-PMP (libnatpmp) at the default gateway. Every call blocks,
// for at most `answerMs` per request.
namespace NatPmpGateway {

RouterMapping open(int localPort, int leaseSeconds, int answerMs);
RouterMapping renew(const RouterMapping &mapping, int leaseSeconds, int answerMs);
void remove(const RouterMapping &mapping, int answerMs);

} // namespace NatPmpGateway
