#pragma once

#include "WireMessage.h"

#include <QObject>
#include <QString>

class PeerListener;
class PeerSession;

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
    // Shorter keep-alive times for the links made from now on, for tests that cannot wait the
    // real ones out.
    void setKeepAliveTimes(int keepAliveMs, int silenceLimitMs);

signals:
    void ConnectionRequest(int requestId);
    void DataArrival(const WireMessage &message);
    void CloseEvent();
    void LinkError(const QString &description);
    // Both sides read and send frames from now on: the peer is one of our copies.
    void FramingAgreed();

private:
    void endLink(bool goodbye);
    PeerSession *startSession();
    void dropSession();

    PeerListener *m_listener;
    PeerSession *m_session = nullptr;
    int m_localPort = 0;
    int m_remotePort = 0;
    bool m_connectFailed = false;
    bool m_accepted = false;
    int m_keepAliveMs = 0;
    int m_silenceLimitMs = 0;
};
