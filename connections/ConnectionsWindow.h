#pragma once

#include "platform/CentredWindow.h"

class PlatformServices;
struct IceSettings;
class QCheckBox;
class PortMappingScheduler;
class TableProtocol;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ValueLabel;
struct PortMappingResult;

// The player's control panel for the link: wait for a connection, connect to an address
// (a name or IP address, with a port if the other copy listens on a different one),
// disconnect, and what to give to the other player: this machine's addresses, the best one
// first, the port this copy listens on, and the address and port the home router opened for it
// on the internet (or why there is none), with a button that copies them. It keeps no state of its
// own: every action works on the table it is given, which tells the status line what happened.
class ConnectionsWindow : public CentredWindow
{
    Q_OBJECT
public:
    // `table` is the main window's; its port is dialled too when an address names none.
    // `portMapper` is what keeps the port open on the home router, or null when the router is
    // not asked.
    ConnectionsWindow(TableProtocol &table, PlatformServices &platform,
                      const PortMappingScheduler *portMapper = nullptr);

    // The table this window works on.
    TableProtocol &table() const { return m_table; }

    void onConnectClicked();
    void onDisconnectClicked();
    void onWaitClicked();
    void onCopyAddressClicked();
    void onCopyInvitationClicked();
    void onNewInvitationClicked();
    // Takes the reply the player pasted, or copies this copy's own reply when it joins.
    void onReplyClicked();
    void onNetworkSettingsClicked();

    // Dials what the player answered to "Connect to IP" (or passed on the command line): an
    // invitation, or a bare address with an optional port. Returns why nothing was dialled, in
    // words, or an empty string once the table dials.
    static QString dialAnswer(TableProtocol &table, const QString &answer);

    // Whether the board marks the captions of the opponent's displays that just changed, as the
    // player last chose with "Mark the opponent's changes"; on until turned off.
    static bool marksOpponentChanges(const PlatformServices &platform);
    // The STUN servers and relay the player set ("STUN and relay…"), the public STUN servers
    // until they set any, and what the environment says instead (IceSettings::fromEnvironment).
    static IceSettings iceSettings(const PlatformServices &platform);
    static void rememberIceSettings(PlatformServices &platform, const IceSettings &settings);

signals:
    // The player turned "Mark the opponent's changes" on or off.
    void markOpponentChangesToggled(bool on);

private:
    void showAddresses();
    void showMapping(const PortMappingResult &mapping);
    void showInvitation();
    void showProtection();
    void showReply();

    TableProtocol &m_table;
    PlatformServices &m_platform;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_portBox = nullptr;
    QPlainTextEdit *m_otherAddresses = nullptr;
    ValueLabel *m_internet = nullptr;
    QPushButton *m_copyAddress = nullptr;
    QString m_dialAddress;
    QLineEdit *m_invitation = nullptr;
    QPushButton *m_copyInvitation = nullptr;
    QLineEdit *m_reply = nullptr;
    QPushButton *m_replyButton = nullptr;
    ValueLabel *m_protection = nullptr;
    ValueLabel *m_notice = nullptr;
    QCheckBox *m_invitedOnly = nullptr;
};
