#pragma once

#include "MessageReader.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

// The program's one peer connection: it listens, accepts one requester or connects out,
// and carries wire messages in both directions.
//
// Connection sequence (details of the byte stream in MessageReader.h):
//   Listen -> ConnectionRequest(id) -> the owner closes the listener and calls Accept(id)
//   Connect -> (connected) -> greeting sent, outgoing messages held until the peer's
//              greeting shows it reads frames, or until GreetingWaitMs passes without one
//              (a peer that only knows the plain form)
// Messages are read as they arrive and queued; DataArrival tells the owner to drain the
// queue with GetData. CloseEvent reports that the peer ended the link; LinkError that the
// link was ended here because of a fault, with a sentence for the player.
//
// A link whose other end vanished (machine off, cable out, network gone) is noticed: between
// two of our copies each side sends an empty frame after KeepAliveMs without sending anything
// else, and ends the link when it has heard nothing for SilenceLimitMs; toward a peer that
// only knows the plain form, the system's TCP keep-alive probes the link instead.
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

    static constexpr int GreetingWaitMs = 2000;
    // An outgoing connection that has not come up by then is given up and reported.
    static constexpr int ConnectTimeoutMs = 15000;
    static constexpr int KeepAliveMs = 5000;
    static constexpr int SilenceLimitMs = 15000;
    static const QString GreetingTag;

    explicit PeerSocket(QObject *parent = nullptr);
    ~PeerSocket() override;

    // The port Listen opens; while listening, the port actually opened (0 picks a free one).
    int LocalPort() const;
    void SetLocalPort(int port);
    int RemotePort() const { return m_remotePort; }
    void SetRemotePort(int port) { m_remotePort = port; }
    // Every non-loopback address of this machine, best to give the other player first: IPv4,
    // then global IPv6, then unique-local IPv6, and link-local addresses (usable only on the
    // same network segment) last. Addresses of interfaces that are down are left out.
    static QStringList LocalAddresses();
    // `addresses` in that order, loopback and repeated addresses dropped, as text.
    static QStringList rankAddresses(const QList<QHostAddress> &addresses);
    // The first of LocalAddresses(), or 127.0.0.1 when the machine has none.
    QString LocalIP() const;
    LinkState State() const;

    // Opens the listener on LocalPort. On failure returns false and ListenError() says why.
    bool Listen();
    QString ListenError() const { return m_listenError; }
    void Accept(int requestId);
    void Connect(const QString &host, int port);
    // Queues one message; false when the link is not connected or the send failed.
    bool SendData(const QString &message);
    // Takes the oldest message received and not yet read; false when there is none.
    bool GetData(QString &message);
    // Ends whatever the socket is doing; a connected link is closed gracefully.
    void Close();

    bool sendsFrames() const { return m_sendFramed; }
    bool readsFrames() const { return m_reader.isFramed(); }
    // Shorter keep-alive times, for tests that cannot wait the real ones out.
    void setKeepAliveTimes(int keepAliveMs, int silenceLimitMs);

signals:
    void ConnectionRequest(int requestId);
    void DataArrival(qint64 bytesTotal);
    void CloseEvent();
    void LinkError(const QString &description);
    // Both sides read and send frames from now on: the peer is one of our copies.
    void FramingAgreed();

private:
    void takeConnectionRequests();
    void adopt(QTcpSocket *socket, bool accepted);
    void onConnected();
    void readIncoming();
    void onGreeting();
    void settleOnPlainSending();
    void settleHandshakeBeforeClosing();
    bool writeMessage(const QString &message);
    bool writeBytes(const QByteArray &bytes);
    void onSocketError();
    void sendKeepAlive();
    void probeWithTcpKeepAlive();
    void failConnecting(QAbstractSocket::SocketError error);
    void onPeerClosed();
    void failLink(const QString &description);
    void dropSocket();
    void closeServer();

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_socket = nullptr;
    QMap<int, QTcpSocket *> m_requests;
    int m_lastRequestId = 0;
    int m_localPort = 0;
    int m_remotePort = 0;
    QString m_listenError;
    bool m_connectFailed = false;

    MessageReader m_reader;
    QQueue<QString> m_inbox;
    bool m_acceptedSide = false;
    bool m_linkWasUp = false;
    bool m_sendFramed = false;
    bool m_awaitingGreeting = false;
    bool m_waitingInPlace = false;
    QStringList m_heldBack;
    QTimer m_greetingWait;
    QTimer m_connectWait;
    QTimer m_keepAlive;
    QTimer m_silence;
    QString m_remoteHost;
};
