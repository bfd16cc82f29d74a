#pragma once

#include "ice/IceDescription.h"
#include "ice/IceSettings.h"

#include <QObject>
#include <QString>

class QTcpSocket;

// A path to the other copy over UDP, found with ICE, for when neither copy's port can be
// dialled directly. It hands the link a connected socket (one end of a local socket pair whose
// other end it pumps through the ICE library's reliable stream), so that the session above runs
// exactly as over TCP and never knows which path carries its bytes.
//
//   gather()            -> gathered(local): put local into the invitation or the reply
//   start(remote)       -> the checks run; linked(socket, path) or failed(reason)
//   close()             -> the path ends; a relay's allocation is given back
//
// The copy that made the invitation is the Host (it controls the checks); the other copy is the
// Joiner. The joiner keeps sending checks until the host's start, which waits for its player to
// paste the reply, so that both home routers stay open to each other meanwhile.
//
// When the checks over every direct pair fail and either copy has a relay set, a second round
// runs through the relay; when that fails too, or no relay is set, `failed` says why in words
// and what would help.
class IcePath : public QObject
{
    Q_OBJECT
public:
    enum class Role
    {
        Host,
        Joiner
    };
    enum class Kind
    {
        Direct,             // host address to host address: no router changed them
        ThroughRouters,     // through the routers' outside addresses
        Relay               // through the relay
    };

    IcePath(const IceSettings &settings, Role role, QObject *parent = nullptr);
    ~IcePath() override;

    void gather();
    IceDescription local() const;
    void start(const IceDescription &remote);
    void close();

    // The path that carries the link, in words: "direct", "direct through both routers",
    // "through relay HOST (slower)".
    static QString pathText(Kind kind, const QString &relayHost);

signals:
    void gathered(const IceDescription &local);
    // The socket is connected and now the receiver's; `address` is the peer's end of the pair
    // ("203.0.113.20:40745").
    void linked(QTcpSocket *socket, IcePath::Kind kind, const QString &address);
    void failed(const QString &reason);
    // After close(): the path ended, and a relay let its allocation go (or stopped answering).
    // Emitted once, perhaps before close() returns when there was nothing to wait for.
    void closed();
};
