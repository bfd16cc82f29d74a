#pragma once

#include <QObject>
#include <QString>

class DrawExchange;
class PeerLink;
struct WireMessage;
struct ZoneMirror;

// What crosses the link for the board, window-free. It owns the link and this copy's side of the
// draws made together with the other copy, turns every message from the peer into one typed
// signal, builds every message for the peer from typed values, and decides who counts as the
// opponent:
//
//   - the newest requester takes the seat: whatever the link was doing ends, the requester is
//     accepted and told "18Connected";
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

    explicit TableProtocol(int port = DefaultPort, QObject *parent = nullptr);
    // Says goodbye to a connected peer, as leaving does.
    ~TableProtocol() override;

    PeerLink &link() const { return *m_link; }
    DrawExchange &draws() const { return *m_draws; }
    // The port this copy listens on, and dials when an address names none.
    int port() const { return m_port; }

    // Ends whatever the link is doing and listens on port(); statusChanged says whether that
    // worked, and `listening` follows when it did.
    bool listen();
    // Ends whatever the link is doing and dials the other player.
    void dial(const QString &host, int port);
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

private:
    void acceptRequest(int requestId);
    void linkEnded(const QString &status);
    // The link that ended was a requester that never said a word of the table.
    bool visitorLeft() const;
    void listenAgainSoon();

    const int m_port;
    PeerLink *const m_link;
    DrawExchange *const m_draws;
    // Whether the peer of the current link has sent a greeting or a message of the table.
    bool m_peerSpoke = false;
    bool m_listenAgainQueued = false;
    // The peer's last goodbye on this link, "Disconnected" and perhaps why.
    QString m_peerGoodbye;
};
