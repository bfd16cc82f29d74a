#pragma once

#include "ice/IceDescription.h"
#include "ice/IceSettings.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class IceAgent;
class IceStreamPump;
class QTcpSocket;
class QTimer;

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
// and what would help. Each round has an agent of its own: the first gathers the machine's
// addresses and its outside address, the second only the relay's (or, with no relay on this
// side, the machine's, to reach the other copy's relay). The second round signs its checks with
// the description's credentials marked as its own, so that each round's checks reach only the
// other copy's agent of the same round.
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
        Direct,         // host address to host address: no router changed them
        ThroughRouters, // through the routers' outside addresses
        Relay           // through the relay
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
    // How many of the ICE library's agents, of paths closed or deleted, are still ending: an
    // agent with a relay gives back its allocation before it goes, through the event loop.
    static int agentsStillEnding();

signals:
    void gathered(const IceDescription &local);
    // The socket is connected and now the receiver's; `address` is the peer's end of the pair
    // ("203.0.113.20:40745").
    void linked(QTcpSocket *socket, IcePath::Kind kind, const QString &address);
    void failed(const QString &reason);

private:
    enum class Stage
    {
        Idle,
        Gathering,
        Gathered,
        Checking,
        Linked,
        Ended
    };
    void lookUpServers();
    void createAgents();
    void agentGathered();
    void describe();
    void beginChecks();
    void runRound(IceAgent *agent);
    void roundFailed(IceAgent *agent);
    bool relayRoundPossible() const;
    void link(IceAgent *agent);
    void carrierFailed();
    void fail(const QString &reason);
    void releaseAgent(IceAgent *&agent);
    void releaseEverything();

    IceSettings m_settings;
    Role m_role;
    Stage m_stage = Stage::Idle;
    IceDescription m_local;
    IceDescription m_remote;
    bool m_startWhenGathered = false;
    // Each STUN server's address once looked up (null where it was not found), and the relay's.
    QList<QHostAddress> m_stunAddresses;
    QList<quint16> m_stunPorts;
    QHostAddress m_relayAddress;
    quint16 m_relayPort = 0;
    int m_lookupsPending = 0;
    bool m_stunUsed = false;
    bool m_relayGaveNoAddress = false;
    // The first round's agent and the relay round's.
    IceAgent *m_direct = nullptr;
    IceAgent *m_relayed = nullptr;
    bool m_directOver = false;
    bool m_relayRunning = false;
    bool m_relayOver = false;
    QTimer *m_directRoundTimer = nullptr;
    QTimer *m_relayRoundTimer = nullptr;
    QTimer *m_patience = nullptr;
    IceAgent *m_carrier = nullptr;
    IceStreamPump *m_pump = nullptr;
};
