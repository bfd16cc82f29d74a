#pragma once

#include "wire/MessageReader.h"
#include "wire/WireMessage.h"

#include <QAbstractSocket>
#include <QObject>
#include <QQueue>
#include <QSslConfiguration>
#include <QStringList>
#include <QTimer>

class QSslSocket;
class QTcpSocket;

// One connection to the other player, from dialling or accepting to its end.
//
//   dial(host, port) -> connected -> greeting sent; outgoing messages are held until the
//                       peer's greeting shows it reads frames, or until Greeting::WaitMs passes
//                       without one (a peer that only knows the plain form)
//   accept(request)  -> the owner sends its first message; the requester's greeting, if any,
//                       is read after it, so our replies follow that first message
//
// Between two copies that both greet with Greeting::EncryptsFromVersion or later, the link
// switches to TLS 1.3 right after the greetings: the dialling side as client, the accepting
// side as server, each showing its own certificate. The connection is handed from the plain
// socket to a TLS socket at that moment (the plain one is dropped with whatever it still held),
// so no link runs through a TLS socket in the clear. What either side read before the switch
// beyond the greeting is dropped, and nothing but the greetings (and the accepting side's first
// message, which it sends before it knows who asked, and says again inside once it admits the
// peer) crosses in the clear:
//
//   dialling side: TLS up -> the peer's certificate checked against the expected fingerprint,
//                  if one was given (else the session ends, having sent nothing) -> the ticket
//                  ("24" + ticket, perhaps empty) -> messages flow
//   accepting side: TLS up -> the first message must be the ticket -> ticketPresented; the
//                  owner calls admit() or refuse(), and until then nothing is delivered or sent
//
// A dialling side that expects a fingerprint never falls back to the clear: a peer that does
// not answer with a version that encrypts ends the session before anything else is sent, and
// nothing it read before the switch is delivered.
//
// Every message from the peer is parsed once and delivered by `messageArrived`, in the order
// it was sent; the greeting and keep-alives are handled here and never delivered. The byte
// stream and the handshake are described in MessageReader.h.
//
// A link whose other end vanished is noticed: between two of our copies each side sends an
// empty frame after KeepAliveMs without sending anything else, and ends the link when it has
// heard nothing for SilenceLimitMs; toward a peer that only knows the plain form, the system's
// TCP keep-alive probes the link instead.
//
// Messages go to the system only while little of what it was given before still waits for
// the network, so on a slow link they wait here rather than in the system's large send buffer.
// While a zone's text waits, a newer text of the same zone takes its place (the peer needs only the
// newest whole text); every other message keeps its place and its order. On a link that keeps up,
// each message goes out at once.
//
// A session ends once: the peer closes (`closedByPeer`), the way to the peer fails
// (`linkFailed`, or `connectFailed` before it was ever up), the peer sends what no copy sends
// (`peerMisbehaved`), each of those with a sentence for the player, or the owner takes its
// socket to close gracefully or aborts it.
class PeerSession : public QObject
{
    Q_OBJECT
public:
    // An outgoing connection that has not come up by then is given up and reported.
    static constexpr int ConnectTimeoutMs = 15000;
    static constexpr int KeepAliveMs = 5000;
    static constexpr int SilenceLimitMs = 15000;
    // Messages go to the system while less than this waits there for the network; the system
    // holds back small writes for a moment even on a fast link.
    static constexpr qint64 SendAheadBytes = 1024;
    static constexpr int DrainCheckMs = 5;
    // From the greeting: how long the switch to TLS and the ticket may take.
    static constexpr int SecureWithinMs = 10000;

    explicit PeerSession(QObject *parent = nullptr);

    // The TLS settings (this copy's certificate and key) for links with copies that encrypt;
    // without them the session greets with the version before encryption. Set before dial or
    // accept.
    void setTls(const QSslConfiguration &configuration);
    // For a dialling session: the fingerprint (a leading part of the SHA-256 of the
    // certificate) the peer must show, and the ticket to present once it has. With a
    // fingerprint the session never sends anything unencrypted.
    void expectPeer(const QByteArray &fingerprint, const QByteArray &ticket);
    // For an accepting session that only a copy switching to TLS may continue: a peer whose
    // greeting shows it cannot (or any copy, without TLS settings here) is not answered; the
    // session ends with peerMisbehaved.
    void acceptOnlyEncrypted() { m_onlyEncrypted = true; }

    // Starts one of the two ways a session begins; call one of them once.
    void dial(const QString &host, int port);
    void accept(QTcpSocket *request);
    // As dial, on a socket already connected to the peer over another path (see IcePath),
    // which it takes.
    void dialConnected(QTcpSocket *connected);

    // The accepting side's answer to ticketPresented. admit() lets messages flow (and
    // framingAgreed follow); refuse() tells the peer `goodbye` and ends the session with
    // peerMisbehaved(reason).
    void admit();
    void refuse(const QString &goodbye, const QString &reason);
    bool isEncrypted() const { return m_encrypted; }
    // SHA-256 of the certificate the peer showed over TLS; empty for an unencrypted link.
    QByteArray peerFingerprint() const { return m_peerFingerprint; }
    // Where the peer connected from or was reached; kept after the session ended, so that the
    // sentence about how it ended can name it. Empty before a dialled link is up.
    QString peerAddress() const;
    // Whether the session runs over another path than a TCP connection (see IcePath).
    bool overOtherPath() const { return m_socket && isOtherPath(*m_socket); }
    // The peer's address as the player reads it: an IPv4 peer of a listener for both kinds as
    // 192.0.2.1, not as the IPv6 address it is mapped to; for a socket over another path, the
    // name that path gave it (nameOtherPath).
    static QString addressOf(const QAbstractSocket &socket);
    // Names the peer of a socket whose own peer address says nothing (a local socket pair that
    // carries another path), and marks it as such.
    static void nameOtherPath(QAbstractSocket &socket, const QString &address);
    static bool isOtherPath(const QAbstractSocket &socket);

    QAbstractSocket::SocketState socketState() const;
    // Sends one message in the form the peer reads, or holds it while the handshake is
    // undecided. False when the message could not be handed to the system.
    bool send(const QString &message);
    // Messages held while the handshake is undecided must go out in the form the peer reads:
    // framed to a copy that answers the greeting, plain to a peer that never will. So this waits
    // (at most for what is left of Greeting::WaitMs) for the answer, then sends them. The session
    // may end meanwhile.
    void settleHandshake();
    // Settles the handshake, then ends the session and hands over its socket for a graceful
    // close; null when nothing is connected.
    QTcpSocket *takeForClosing();
    // Ends the session at once, sending nothing more.
    void abort();

    bool sendsFrames() const { return m_sendFramed; }
    bool readsFrames() const { return m_reader.isFramed(); }
    // The protocol version of the peer's greeting: 0 before one arrived (a plain peer never
    // sends one), 1 for copies that frame messages, 2 for copies that also draw together.
    int peerVersion() const { return m_peerVersion; }
    // Shorter keep-alive times, for tests that cannot wait the real ones out.
    void setKeepAliveTimes(int keepAliveMs, int silenceLimitMs);

signals:
    void messageArrived(const WireMessage &message);
    // Both sides read and send frames from now on: the peer is one of our copies.
    void framingAgreed();
    void closedByPeer();
    void linkFailed(const QString &description);
    void connectFailed(const QString &description);
    void peerMisbehaved(const QString &description);
    // An accepting session over TLS read the peer's ticket (empty: it came without one).
    void ticketPresented(const QByteArray &ticket);

private:
    void adopt(QTcpSocket *socket, bool accepted);
    void watch(QTcpSocket *socket);
    QSslSocket *tlsSocket() const;
    void onConnected();
    void readIncoming();
    void deliverInbox();
    void onGreeting();
    void settleOnPlainSending();
    void queue(const QString &message);
    bool sendQueued();
    bool networkKeepsUp() const;
    bool writeMessage(const QString &message);
    bool writeBytes(const QByteArray &bytes);
    void sendKeepAlive();
    void onSocketError();
    void failConnecting(QAbstractSocket::SocketError error);
    void onPeerClosed();
    void failLink(const QString &description, bool peerMisbehaved = false);
    void refuseOversizedFrame();
    int greetingVersion() const;
    void startEncryption();
    void onEncrypted();
    void agreeFraming();
    void failSecuring(const QString &description);
    void endWithGoodbye(const QString &goodbye, const QString &reason);
    qint64 bytesWaiting() const;

    QTcpSocket *m_socket = nullptr;
    QString m_remoteHost;
    QString m_peerAddress;
    MessageReader m_reader;
    QQueue<WireMessage> m_inbox;
    bool m_delivering = false;
    bool m_acceptedSide = false;
    bool m_linkWasUp = false;
    bool m_sendFramed = false;
    int m_peerVersion = 0;
    bool m_awaitingGreeting = false;
    QSslConfiguration m_tls;
    bool m_hasTls = false;
    QByteArray m_expectedPeer;
    bool m_onlyEncrypted = false;
    QByteArray m_ticket;
    // From the greeting until the ticket was judged: nothing goes out and nothing is delivered.
    bool m_securing = false;
    bool m_awaitingTicket = false;
    bool m_encrypted = false;
    QByteArray m_peerFingerprint;
    // The accepting side's first message, sent in the clear before the peer greeted; said
    // again once admitted over TLS.
    bool m_saidAnything = false;
    QString m_sayAgainInside;
    QTimer m_secureWait;
    bool m_waitingInPlace = false;
    // A name is being looked up before the socket dials.
    bool m_lookingUp = false;
    QStringList m_heldBack;
    // Messages for the peer that the system has not been handed yet, oldest first.
    QStringList m_outbox;
    // While messages wait for the network: when to look again whether it took the last one.
    QTimer m_drain;
    QTimer m_greetingWait;
    QTimer m_connectWait;
    QTimer m_keepAlive;
    QTimer m_silence;
};
