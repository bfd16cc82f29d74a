#pragma once

#include "wire/WireMessage.h"

#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include <functional>

class PeerListener;
class PeerSession;
class Relinker;

// The program's one link to the other player, as the board sees it: it listens, accepts one
// requester or dials out, and carries wire messages in both directions. The work is done by a
// PeerListener while listening and by one PeerSession per link.
//
//   listen -> connectionRequested(id) -> the owner calls accept(id)
//   dial   -> (connected) -> the handshake described in PeerSession.h
//
// messageReceived delivers each message from the peer, parsed, in order. closedByPeer reports
// that the peer ended the link; failed that the link was ended here because of a fault, or
// could not be made, with a sentence for the player.
//
// A link between two of our copies (they agreed on frames) that ends without the peer's
// goodbye was lost, not ended by a player: instead of closedByPeer or failed,
// relinkStatusChanged says "Connection lost, reconnecting…" and the link is found again by
// itself (see Relinker). The side that dialled redials the same address; the side that
// accepted listens again at once, letting only copies through. A new link comes up as any link
// does: connectionRequested on the accepting side, then framingAgreed on both. close,
// sayGoodbyeAndClose, listen, dial and accept end the search. When it runs out,
// relinkStatusChanged says what this side does from then on. A link with a peer that only
// knows the plain table is never looked for again. Over TLS, only the copy with the same
// certificate may take a lost link back.
//
// Who sits at the table. A requester the owner accepts takes the seat at once, as always. A
// requester the owner auditions is heard out beside the seated link instead (up to
// MostAuditions at once, each for AuditionMs): only one of our copies that switches to TLS
// and whose ticket the owner's seat judge admits takes the seat, and the peer sitting there is
// let go with a goodbye. Every other one is refused (arrivalRefused), and the seated link
// never notices.
class PeerLink : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Closed,
        Listening,
        Connecting,
        Connected,
        Failed // the last dial could not be made
    };
    Q_ENUM(State)

    // How the current link is protected.
    enum class Protection
    {
        None,      // no link
        Plain,     // a peer that cannot encrypt: a plain peer or an older copy
        Encrypted, // TLS, with a copy that came without an invitation
        Invited    // TLS, with the copy the invitation named (or that used its ticket)
    };
    Q_ENUM(Protection)

    static constexpr int MostAuditions = 8;
    static constexpr int AuditionMs = 10000;

    // A copy that presented its ticket over TLS, for the owner to judge.
    struct SeatClaim
    {
        QByteArray ticket; // empty: it came without an invitation
        QString address;
        bool seatTaken = false; // someone sits at the table now
        QByteArray fingerprint; // SHA-256 of the certificate it showed
        bool overOtherPath = false;
    };
    struct SeatVerdict
    {
        bool admitted = false;
        bool invited = false;
        // For a refused copy: its goodbye ("Disconnected: ..."), and a sentence for this player.
        QString goodbye;
        QString reason;
    };
    using SeatJudge = std::function<SeatVerdict(const SeatClaim &)>;

    explicit PeerLink(QObject *parent = nullptr);
    ~PeerLink() override;

    // The port listen() opens; while listening, the port actually opened (0 picks a free one).
    int localPort() const;
    void setLocalPort(int port);
    // The port the last dial went to.
    int remotePort() const { return m_dialledPort; }
    // The best address of this machine to give the other player, or 127.0.0.1 when it has none.
    QString localAddress() const;
    State state() const;
    bool isConnected() const { return state() == State::Connected; }

    // Opens the listener on localPort(). On failure returns false and listenError() says why.
    bool listen();
    QString listenError() const;
    void accept(int requestId);
    void audition(int requestId);
    // Dials the other player. With a fingerprint (from an invitation) the peer must show that
    // certificate over TLS before anything is sent, and is then given the ticket.
    void dial(const QString &host, int port, const QByteArray &fingerprint = {},
              const QByteArray &ticket = {});
    // The same over another path: `connected` (see IcePath) already reaches the peer, and is
    // taken. A link over another path that is lost is not looked for again: finding that path
    // again needs the players to exchange new lines.
    void dialOver(QTcpSocket *connected, const QByteArray &fingerprint, const QByteArray &ticket);
    // A peer that reached this copy over another path arrives as a requester does
    // (connectionRequested), whether this copy listens or not.
    void arriveOver(QTcpSocket *connected);
    // Whether the current or last link runs over another path than a TCP connection.
    bool overOtherPath() const { return m_overOtherPath; }
    // This copy's certificate and key: links with copies that encrypt use TLS. Without them
    // every link is unencrypted, as with an older copy.
    void setIdentity(const QSslCertificate &certificate, const QSslKey &key);
    // Judges every copy that presents a ticket; without one every copy is admitted unverified.
    void setSeatJudge(SeatJudge judge) { m_judge = std::move(judge); }
    Protection protection() const;
    bool isListening() const;
    // Sends one message; false when the link is not connected or the send failed.
    bool send(const QString &message);
    // Ends whatever the link is doing; a connected link is closed gracefully. A peer that is
    // one of our copies is told that this side is going, or it would take the end for a lost
    // link and look for this side again; a plain peer hears nothing, as always.
    void close();
    // Tells a connected peer that this side is going ("18Disconnected"), then closes.
    void sayGoodbyeAndClose();

    // Whether the last link was a requester this copy accepted, rather than one it dialled.
    bool acceptedLink() const { return m_accepted; }

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
    void connectionRequested(int requestId);
    void messageReceived(const WireMessage &message);
    void closedByPeer();
    void failed(const QString &description);
    // Both sides read and send frames from now on: the peer is one of our copies.
    void framingAgreed();
    // The status line should read `text` while a lost link is looked for, and once the search
    // ran out.
    void relinkStatusChanged(const QString &text);
    // An auditioned copy took the seat; the peer sitting there before, at `letGo` (empty when
    // the seat was free), was let go.
    void seatTaken(const QString &letGo);
    // A requester was turned away, with its address and why, in words for this player.
    void arrivalRefused(const QString &address, const QString &reason);
    void protectionChanged();

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
    PeerSession *newSession();
    void judgeTicket(PeerSession *session, const QByteArray &ticket);
    void takeSeat(PeerSession *candidate, bool invited);
    void refuseCandidate(PeerSession *candidate, const QString &goodbye, const QString &reason);
    void dropCandidate(PeerSession *candidate);
    void setProtection(Protection protection);
    void sessionEnded(Ending ending, const QString &description);
    void startRelinking();
    void retryRelink(const QString &host, int port);
    void relinkGaveUp();
    void dropSession();

    PeerListener *m_listener;
    Relinker *m_relinker;
    PeerSession *m_session = nullptr;
    int m_localPort = 0;
    // The port the listener last opened, which the peer dials again after a lost link.
    int m_listenedPort = 0;
    // What dial() dialled last, dialled again after a lost link.
    QString m_dialledHost;
    int m_dialledPort = 0;
    bool m_connectFailed = false;
    bool m_accepted = false;
    bool m_overOtherPath = false;
    // Of the current session: the peer is one of our copies; the peer said goodbye.
    bool m_betweenCopies = false;
    bool m_peerSaidGoodbye = false;
    QList<PeerSession *> m_candidates;
    QSslConfiguration m_tls;
    SeatJudge m_judge;
    Protection m_protection = Protection::None;
    // Of the last link that came up: how it was protected and the certificate the peer showed,
    // which alone may take a lost link back.
    bool m_lastInvited = false;
    QByteArray m_lastPeerFingerprint;
    int m_keepAliveMs = 0;
    int m_silenceLimitMs = 0;
};
