#include "ice/IceSentences.h"

#include <QCoreApplication>

namespace {

QString iceTr(const char *text, int n = -1)
{
    return QCoreApplication::translate("IceSentences", text, nullptr, n);
}

QString iceCauseText(IceSentences::Cause cause)
{
    switch (cause) {
    case IceSentences::Cause::NoUdpHere:
        return iceTr("this computer got no answer when it asked for its outside address, so its "
                     "network probably lets no UDP out");
    case IceSentences::Cause::NoUdpThere:
        return iceTr("the other player's computer found no outside address, so their network "
                     "probably lets no UDP out");
    case IceSentences::Cause::NoStunServer:
        return iceTr("no STUN server is set, so this computer does not know its outside address");
    case IceSentences::Cause::PortPerDestination:
        break;
    }
    return iceTr("one of the routers probably gives each destination a port of its own (a "
                 "symmetric NAT)");
}

} // namespace

namespace IceSentences {

QString noPathThroughRouters(Cause cause)
{
    QString help = iceTr("Ask the other player to host (their router may open a port), or set a "
                         "relay in the settings.");
    if (cause == Cause::NoUdpThere)
        help = iceTr("Ask the other player to host (their router may open a port), or to set a "
                     "relay in their settings.");
    else if (cause == Cause::NoStunServer)
        help = iceTr("Add a STUN server in the settings, ask the other player to host (their "
                     "router may open a port), or set a relay in the settings.");
    return iceTr("No path through the routers was found: %1. %2").arg(iceCauseText(cause), help);
}

QString noPathThroughRelay(Cause cause, bool ownRelay, const QString &relayHost,
                           bool relayGaveNoAddress)
{
    if (ownRelay && relayGaveNoAddress)
        return iceTr("No path was found, and the relay %1 gave this computer no address: it "
                     "cannot be reached from here, or it refused the user name and password. "
                     "Check the relay in the settings, or ask the other player to host (their "
                     "router may open a port).")
            .arg(relayHost);
    const QString relay =
        ownRelay ? iceTr("the relay %1").arg(relayHost) : iceTr("the other player's relay");
    return iceTr("No path was found, not even through %1: %2. Check the relay in the settings, "
                 "or ask the other player to host (their router may open a port).")
        .arg(relay, iceCauseText(cause));
}

QString hostNeverAnswered(int minutes)
{
    return iceTr("The other player's copy did not answer within %n minutes: they may not have "
                 "pasted your reply. Ask them for a new invitation.",
                 minutes);
}

QString noLocalAddress()
{
    return iceTr("This computer has no network address to look for a path from: check that it "
                 "is connected to the network.");
}

QString lostOnceFound()
{
    return iceTr("The path over UDP was lost as soon as it was found. Try again, or ask the "
                 "other player to host (their router may open a port).");
}

QString fellBehind()
{
    return iceTr("The link over UDP was closed because this program fell behind reading it.");
}

} // namespace IceSentences
