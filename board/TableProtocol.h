#pragma once

#include "ice/IceSettings.h"
#include "link/PeerLink.h"
#include "trust/Invitation.h"
#include "trust/TicketBook.h"

#include <QObject>
#include <QString>

class DrawExchange;
class PathExchange;
class QTimer;
class QSslCertificate;
class QSslKey;
struct WireMessage;
struct ZoneMirror;

// What crosses the link for the board, window-free. It owns the link and this copy's side of the
// draws made together with the other copy, turns every message from the peer into one typed
// signal, builds every message for the peer from typed values, and decides who counts as the
// opponent:
//
//   - a requester that finds the seat free takes it at once and is told "18Connected", as
//     always; a copy with an identity keeps listening meanwhile. A later requester, or every
//     requester when the table is for invited players only, is heard out beside the seated link: a
//     copy with this table's ticket takes the seat (the peer there is let go), a copy without one
//     takes it only from a peer that never said a word, and anyone else is refused and reported
//     (statusNotice), never with a box or a beep;
//   - a ticket works once; "New invitation" (tickets().renew()) voids the one handed out;
//   - a requester that goes before saying a word of the table (neither our copies' greeting nor
//     a message of the plain table) is a visitor, not an opponent: a port scanner, or a program
//     that knocked on the wrong door. The copy listens again at once, as if nothing had happened,
//     so that the real opponent still finds it waiting (while a lost link is found again, the
//     listener itself lets only copies through: see PeerListener);
//   - the steps of a shared draw count only from a copy that takes part in draws; from any other
//     peer they are dropped, as every code outside the table is.
//
// The peer's text is handed on as it is: the windows show it as plain text, never as markup.
class TableProtocol : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultPort = 123;
    // How long a dial to an invitation that also offers a path over UDP tries the direct way
    // before it looks for that path.
    static constexpr int DirectTryMs = 3000;
    // How long leaving waits for a relay to let this copy's allocation go.
    static constexpr int ClosingWaitMs = 5000;

    explicit TableProtocol(int port = DefaultPort, QObject *parent = nullptr);
    // Says goodbye to a connected peer, as leaving does.
    ~TableProtocol() override;

    PeerLink &link() const { return *m_link; }
    // This copy's certificate and key: links with copies that encrypt use TLS. Set before
    // listening or dialling.
    void setIdentity(const QSslCertificate &certificate, const QSslKey &key);
    // SHA-256 of this copy's certificate; empty without an identity.
    QByteArray fingerprint() const { return m_fingerprint; }
    // The tickets this copy hands out in its invitations.
    TicketBook &tickets() { return m_tickets; }
    // "New invitation": the ticket handed out so far no longer works.
    void renewInvitation();
    // The last statusNotice, for a window opened after it.
    QString lastNotice() const { return m_lastNotice; }
    // Whether only a copy with this table's ticket (or the same copy coming back after a lost
    // link) may sit at the table.
    void setInvitedOnly(bool invitedOnly) { m_invitedOnly = invitedOnly; }
    bool invitedOnly() const { return m_invitedOnly; }
    PeerLink::Protection protection() const;
    // How the link is protected, in words: "invited opponent, encrypted", ...
    static QString protectionText(PeerLink::Protection protection);
    DrawExchange &draws() const { return *m_draws; }
    // The port this copy listens on, and dials when an address names none.
    int port() const { return m_port; }

    // Ends whatever the link is doing and listens on port(); statusChanged says whether that
    // worked, and `listening` follows when it did.
    bool listen();
    // Ends whatever the link is doing and dials the other player.
    void dial(const QString &host, int port);
    // Dials the copy that made `invitation`: it must show the certificate the invitation names
    // before anything is sent, and it is then given the ticket.
    void dial(const Invitation &invitation);
    // Where this copy looks for a path over UDP when the other player cannot dial its port.
    void setIceSettings(const IceSettings &settings);
    IceSettings iceSettings() const;
    // Whether the other player can dial this copy's port: the router opened it, or nothing says
    // otherwise. When it cannot, the invitation also carries what a path over UDP needs, which
    // is gathered from now on (invitationChanged follows once it is).
    void setDirectPathServes(bool serves);
    bool directPathServes() const { return m_directPathServes; }
    // The invitation line naming `host`:`port`; empty without an identity, or while what a path
    // over UDP needs is still being gathered.
    QString invitationLine(const QString &host, int port) const;
    // Why no invitation line can be made while gathering keeps failing; empty otherwise.
    QString invitationTrouble() const;
    // The joining side's reply line for its player to send back (replyChanged); empty when the
    // invitation it dialled needed none.
    QString replyLine() const;
    // The reply the other player sent back, as this player pasted it: the two copies then look
    // for a path over UDP. Returns why nothing was done, in words, or an empty string.
    QString acceptReply(const QString &text);
    // The path that carries the link, in words ("direct", "direct through both routers",
    // "through relay HOST (slower)"); empty with no link.
    QString pathText() const;
    // Tells a connected peer that this side is going, and ends the link.
    void leave();
    // Leaves, and the status line says "Disconnected".
    void hangUp();

    // Each sends only while a link is up, and says whether one was.
    bool sendZoneText(const ZoneMirror &zone, const QString &editorText);
    bool sendChatLine(const QString &line);
    bool sendAnnouncement(const QString &text);
    // Whether a coin flip or dice roll can be drawn together with the peer now.
    bool drawsTogether() const;

    // One message from the peer, as the link delivers it.
    void receive(const WireMessage &message);

    // A chat line as it goes out: "name: text" on one line. Line breaks and tabs the player
    // pasted become spaces and other control characters are dropped; empty when nothing is left
    // of `text`.
    static QString chatLine(const QString &name, const QString &text);

    // Whether the zone's text fits in one message the other copy takes (at most
    // MessageReader::MaxFrameBytes as UTF-8). A plain peer is held to the same limit.
    static bool fits(const ZoneMirror &zone, const QString &editorText);

    // The messages the send functions send.
    static QString zoneTextMessage(const ZoneMirror &zone, const QString &editorText);
    static QString chatMessage(const QString &line);
    static QString announcementMessage(const QString &text);

signals:
    // The status line should read `text`: the link's state in words, or the peer's status.
    void statusChanged(const QString &text);
    // This copy listens on `port` (the one actually opened).
    void listening(int port);
    // The peer is one of our copies, newly linked: it should see this whole half as it is now.
    void copyLinked();
    void zoneTextReceived(const ZoneMirror &zone, const QString &text);
    void chatLineReceived(const QString &line);
    void announcementReceived(const QString &text);
    // How the link is protected changed (see protection()).
    void protectionChanged();
    // Something the player should know about who came to the table: a refused requester, a
    // peer let go for the invited one. Never a reason for a box or a beep.
    void statusNotice(const QString &text);
    // The ticket changed: it was used, or the player asked for a new invitation; or what a path
    // over UDP needs was gathered (or is being gathered anew).
    void invitationChanged();
    void replyChanged();
    void pathChanged();

private:
    void acceptRequest(int requestId);
    PeerLink::SeatVerdict judge(const PeerLink::SeatClaim &claim);
    void seatTaken(const QString &letGo);
    void linkEnded(const QString &status);
    // The link that ended was a requester that never said a word of the table.
    bool visitorLeft() const;
    void listenAgainSoon();
    void tryDirectFirst(const Invitation &invitation);
    void joinOverUdp();

    const int m_port;
    PeerLink *const m_link;
    DrawExchange *const m_draws;
    // Whether the peer of the current link has sent a greeting or a message of the table.
    bool m_peerSpoke = false;
    bool m_listenAgainQueued = false;
    // The peer's last goodbye on this link, "Disconnected" and perhaps why.
    QString m_peerGoodbye;
    QByteArray m_fingerprint;
    TicketBook m_tickets;
    bool m_invitedOnly = false;
    QString m_lastNotice;
    bool m_directPathServes = true;
    PathExchange *const m_paths;
    // While a dial to an invitation that also offers a path over UDP tries the direct way.
    QTimer *const m_directTry;
    Invitation m_joining;
};
