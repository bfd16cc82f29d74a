#pragma once

#include "board/TableProtocol.h"
#include "boardwindow/BoardControls.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

class BoardRecovery;
class OpponentMarks;
class PeerLink;
class PlatformServices;
class PortMappingScheduler;
struct ZoneMirror;

// The duel board: the one main window of a run. It shows what the table protocol hands it from
// the peer in the opponent half and the status line, and hands it every edit of the local half,
// every chat line and every life-point change.
class BoardWindow : public QWidget
{
    Q_OBJECT
public:
    // `port` is the one this copy listens on, and dials when an address names none. The board
    // is drawn `factor` times its normal size (see BoardLayout::factorToFitScreen).
    explicit BoardWindow(PlatformServices &platform, int port = TableProtocol::DefaultPort,
                         double factor = 1.0, QWidget *parent = nullptr);
    // Leaving without closing the window (the object is destroyed) says goodbye as closing does.
    ~BoardWindow() override;

    // Runs once, right before the window is first shown: the thanks box, then listening.
    void start();
    // Ends whatever the link is doing and listens on this copy's port; the status line says
    // whether that worked.
    void startListening();
    // Asks `mapper` to keep this copy's port open on the home router while it listens; without
    // one the router is never asked. Set before start().
    void setPortMapper(PortMappingScheduler *mapper);
    // Keeps a recovery copy of the board in `folder` while the program runs, and offers what a
    // run that did not end cleanly left there; without a folder nothing is kept. Set before
    // start().
    void keepRecoveryIn(const QString &folder);

    // Keeps this installation's identity (its key and certificate) in `folder`, made on first
    // use; links with copies that encrypt use it. Without one every link is unencrypted. Set
    // before start().
    void keepIdentityIn(const QString &folder);
    // Dials what the player was given: an invitation line or a bare address, as typed into
    // "Connect to IP". A damaged invitation is reported on the status line.
    void openInvitation(const QString &text);
    // Whether only a copy with this table's invitation (or the same copy coming back after a
    // lost link) may sit at the table; off by default.
    void setInvitedOnly(bool invitedOnly);

    TableProtocol &table() const { return *m_table; }
    PeerLink &link() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectControls();
    void connectTable();
    void onConnectionsClicked();
    void onCoinDiceClicked();
    void onSendClicked();
    void sendChatLine();
    void onAddClicked();
    void onSubtractClicked();
    void onZoneEdited(const ZoneMirror &zone);
    void sendWholeHalf();
    void boardChanged();
    void leave();

    TableProtocol *const m_table;
    PlatformServices &m_platform;
    BoardControls m_controls;
    QPointer<QWidget> m_connections;
    QPointer<QWidget> m_coinDice;
    PortMappingScheduler *m_portMapper = nullptr;
    BoardRecovery *m_recovery = nullptr;
    OpponentMarks *m_marks = nullptr;
    // Holds this run's identity where the data folder cannot; removed with the window.
    std::unique_ptr<QTemporaryDir> m_runIdentityFolder;
};
