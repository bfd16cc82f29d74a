#pragma once

#include "board/BoardControls.h"

#include <QPointer>
#include <QWidget>

class DrawExchange;
class PeerSocket;
class PortMapper;
class RecoveryFile;
struct BoardSnapshot;
class PlatformServices;
class QLabel;
struct WireMessage;
struct ZoneMirror;

// The duel board: the one main window of a run. It owns the peer socket and the status line,
// publishes every edit of the local half and applies what the peer sends to the opponent half.
class FrmMain : public QWidget
{
    Q_OBJECT
public:
    static constexpr int DefaultPort = 123;

    explicit FrmMain(PlatformServices &platform, int port = DefaultPort, QWidget *parent = nullptr);
    // Leaving without closing the window (the object is destroyed) says goodbye as closing does.
    ~FrmMain() override;

    // Runs once, right before the window is first shown: the thanks box, then listening.
    void Form_Load();
    // Ends whatever the socket is doing and listens on this copy's port; the status line says
    // whether that worked.
    void startListening();
    // Asks `mapper` to keep this copy's port open on the home router while it listens; without
    // one the router is never asked. Set before Form_Load.
    void setPortMapper(PortMapper *mapper) { m_portMapper = mapper; }
    // Keeps a recovery copy of the board in `folder` while the program runs, and offers what a
    // run that did not end cleanly left there; without a folder nothing is kept. Set before
    // Form_Load.
    void keepRecoveryIn(const QString &folder);
    // The board as it is now, as a recovery copy holds it.
    BoardSnapshot snapshot() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectControls();
    void connectZoneEditors();
    void cmdConnections_Click();
    void cmdProb_Click();
    void cmdSend_Click();
    void txtMessage_KeyPress();
    void sendChatLine();
    void cmdAdd_Click();
    void cmdSubtract_Click();
    void showSecondaryWindow(QWidget *window);
    void ZoneEditor_Change(const ZoneMirror &zone);
    void sendWholeHalf();
    void lblP2Grave_Change();
    void txtChat_Change();
    void Form_Unload();
    void W1_ConnectionRequest(int requestId);
    void W1_DataArrival(const WireMessage &message);
    void W1_Close();
    bool endedBeforePeerSpoke() const;
    void listenAgainSoon();
    void W1_Error(const QString &description);
    void apply(const WireMessage &message);
    void offerRecovery();
    void restore(const BoardSnapshot &snapshot);
    void boardChanged();
    void appendToChat(const QString &entry);
    void connectDraws();

    PeerSocket *const W1;
    PlatformServices &m_platform;
    const int m_port;
    BoardControls m_controls;
    QPointer<QWidget> m_connections;
    QPointer<QWidget> m_outcome;
    // This copy's side of the coin flips and dice rolls drawn together with the other copy.
    DrawExchange *const m_draws;
    PortMapper *m_portMapper = nullptr;
    RecoveryFile *m_recovery = nullptr;
    // Whether the peer of the current link has sent a greeting or a message of the table.
    bool m_peerSpoke = false;
    bool m_listenAgainQueued = false;
};
