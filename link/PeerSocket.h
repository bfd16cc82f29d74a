#pragma once

#include "WireMessage.h"

#include <QObject>
#include <QString>

class PeerListener;
class PeerSession;
class Relinker;

// The program's one peer connection, as the windows see it: it listens, accepts one requester
// or connects out, and carries wire messages in both directions. The work is done by a
// PeerListener while listening and by one PeerSession per link.
//
//   Listen -> ConnectionRequest(id) -> the owner closes the listener and calls Accept(id)
//   Connect -> (connected) -> the handshake described in PeerSession.h
//
// DataArrival delivers each message from the peer, parsed, in order. CloseEvent reports that
// the peer ended the link; LinkError that the link was ended here because of a fault, or could
// not be made, with a sentence for the player.
//
// A link between two of our copies (they agreed on frames) that ends without the peer's
// goodbye was lost, not ended by a player: instead of CloseEvent or LinkError, RelinkStatus
// says "Connection lost, reconnecting…" and the link is found again by itself (see Relinker).
// The side that dialled redials the same address; the side that accepted listens again at
// once, letting only copies through. A new link comes up as any link does: ConnectionRequest
// on the accepting side, then FramingAgreed on both. Close, SayGoodbyeAndClose, Listen,
// Connect and Accept end the search. When it runs out, RelinkStatus says what this side does
// from then on. A link with a peer that only knows the plain table is never looked for again.
class PeerSocket : public QObject
{
    Q_OBJECT
public:
    // Values of State(); only Connected is tested by the senders.
    enum LinkState
    {
        Closed = 0,
        Listening = 2,
        Connecting = 6,
        Connected = 7,
        Failed = 9
    };
    Q_ENUM(LinkState)

    explicit PeerSocket(QObject *parent = nullptr);
    ~PeerSocket() override;

    // The port Listen opens; while listening, the port actually opened (0 picks a free one).
    int LocalPort() const;
    void SetLocalPort(int port);
    int RemotePort() const { return m_remotePort; }
    void SetRemotePort(int port) { m_remotePort = port; }
    // The best address of this machine to give the other player, or 127.0.0.1 when it has none.
    QString LocalIP() const;
    LinkState State() const;

    // Opens the listener on LocalPort. On failure returns false and ListenError() says why.
    bool Listen();
    QString ListenError() const;
    void Accept(int requestId);
    void Connect(const QString &host, int port);
    // Sends one message; false when the link is not connected or the send failed.
    bool SendData(const QString &message);
    // Ends whatever the socket is doing; a connected link is closed gracefully. A peer that is
    // one of our copies is told that this side is going, or it would take the end for a lost
    // link and look for this side again; a plain peer hears nothing, as always.
    void Close();
    // Tells a connected peer that this side is going ("18Disconnected"), then closes.
    void SayGoodbyeAndClose();

    // Whether the last link was a requester this copy accepted, rather than one it dialled.
    bool AcceptedLink() const { return m_accepted; }

    bool sendsFrames() const;
    bool readsFrames() const;
    // The link is up and the peer is a copy that takes part in coin flips and dice rolls.
    bool drawsTogether() const;
    // Shorter keep-alive times for the links made from now on, for tests that cannot wait the
    // real ones out.
    void setKeepAliveTimes(int keepAliveMs, int silenceLimitMs);
    // Whether a lost link between copies is being found again.
    bool isRelinking() const;
    // Shorter times between tries and before giving up, for tests.
    void setRelinkTimes(int retryMs, int windowMs);

signals:
    void ConnectionRequest(int requestId);
    void DataArrival(const WireMessage &message);
    void CloseEvent();
    void LinkError(const QString &description);
    // Both sides read and send frames from now on: the peer is one of our copies.
    void FramingAgreed();
    // The status line should read `text` while a lost link is looked for, and once the search
    // ran out.
    void RelinkStatus(const QString &text);

private:
    enum class Ending
    {
        PeerClosed,
        LinkFailed,
        ConnectFailed,
        PeerMisbehaved
    };

    void endLink(bool goodbye);
    PeerSession *startSession();
    void sessionEnded(Ending ending, const QString &description);
    void startRelinking();
    void retryRelink(const QString &host, int port);
    void relinkGaveUp();
    void dropSession();

    PeerListener *m_listener;
    Relinker *m_relinker;
    PeerSession *m_session = nullptr;
    int m_localPort = 0;
    int m_remotePort = 0;
    // The port the listener last opened, which the peer dials again after a lost link.
    int m_listenedPort = 0;
    // What Connect dialled last, dialled again after a lost link.
    QString m_dialledHost;
    int m_dialledPort = 0;
    bool m_connectFailed = false;
    bool m_accepted = false;
    // Of the current session: the peer is one of our copies; the peer said goodbye.
    bool m_betweenCopies = false;
    bool m_peerSaidGoodbye = false;
    int m_keepAliveMs = 0;
    int m_silenceLimitMs = 0;
};
