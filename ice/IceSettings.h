#pragma once

#include <QString>
#include <QStringList>

// Where a copy asks for its outside address (STUN servers) and, optionally, the relay that
// carries the link where no direct path works (a TURN server). Read from the player's settings
// by the windows; tests set them, or SKARNET_STUN and SKARNET_TURN, to servers inside their own
// namespaces.
struct IceSettings
{
    // "host" or "host:port" (3478 when left out); may be empty.
    QStringList stunServers;
    // The relay; none when the host is empty. Port 3478 when 0.
    QString relayHost;
    int relayPort = 0;
    QString relayUser;
    QString relayPassword;

    bool hasRelay() const { return !relayHost.isEmpty(); }

    // Gather on these addresses alone (every address of the machine when empty): tests keep
    // their checks on loopback with it.
    QStringList localAddresses;
    // How long the joining copy keeps its checks going while nothing is linked (the host may
    // start only minutes later), and how long one round of checks may run without finding a
    // pair before it counts as failed (the library ends most failed rounds sooner by itself).
    int joinerPatienceMs = 10 * 60 * 1000;
    int checkRoundMs = 20 * 1000;

    // A few public STUN servers, for players.
    static QStringList defaultStunServers();
    // `base` with what the environment says instead: SKARNET_STUN ("host:port,host:port", or
    // empty for none) and SKARNET_TURN ("user:password@host:port", or empty for none).
    static IceSettings fromEnvironment(IceSettings base);

    friend bool operator==(const IceSettings &, const IceSettings &) = default;
};
