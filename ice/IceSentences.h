#pragma once

#include <QString>

// What the player reads when no path over UDP is found or the path ends by a fault: one
// sentence each, saying the likely cause and what would help.
namespace IceSentences {

// Why the checks found no pair through the routers, as far as the two copies can tell.
enum class Cause
{
    NoUdpHere,         // this copy asked for its outside address and got no answer
    NoUdpThere,        // the other copy found no outside address
    NoStunServer,      // this copy asks no server for its outside address
    PortPerDestination // neither: a router that gives each destination a port of its own
};

// No pair through the routers, and no relay on either side.
QString noPathThroughRouters(Cause cause);
// The relay round failed too. `ownRelay`: the relay is this copy's (`relayHost`), else the
// other copy's; `relayGaveNoAddress`: this copy's relay handed out no address.
QString noPathThroughRelay(Cause cause, bool ownRelay, const QString &relayHost,
                           bool relayGaveNoAddress);
// The joining copy checked for `minutes` and the host never answered.
QString hostNeverAnswered(int minutes);
QString noLocalAddress();
QString lostOnceFound();
QString fellBehind();

} // namespace IceSentences
