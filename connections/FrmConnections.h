#pragma once

#include "platform/CentredWindow.h"

class PeerSocket;
class PlatformServices;
class PortMapper;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ValueLabel;
struct RouterMapping;

// The player's control panel for the link: wait for a connection, connect to an address
// (a name or IP address, with a port if the other copy listens on a different one),
// disconnect, and what to give to the other player: this machine's addresses, the best one
// first, the port this copy listens on, and the address and port the home router opened for it
// on the internet (or why there is none), with a button that copies them. It keeps no state of its
// own: every action works on the link it is given, and what the main window must do (show a status,
// listen again) it asks for by signal.
class FrmConnections : public CentredWindow
{
    Q_OBJECT
public:
    // `link` is the main window's peer socket; `ownPort` the port this copy listens on, which is
    // also dialled when an address names no port; `portMapper` what keeps the port open on the
    // home router, or null when the router is not asked.
    FrmConnections(PeerSocket &link, int ownPort, PlatformServices &platform,
                   const PortMapper *portMapper = nullptr);

    // The link this window works on.
    PeerSocket &link() const { return m_link; }

    void cmdConnect_Click();
    void cmdClose_Click();
    void cmdWait_Click();
    void cmdCopyAddress_Click();

signals:
    // The status line should read `text`.
    void statusChanged(const QString &text);
    // The player asked to end the link and listen on this copy's port again.
    void listenAgainRequested();

private:
    void Form_Load();
    void showMapping(const RouterMapping &mapping);

    PeerSocket &m_link;
    const int m_ownPort;
    PlatformServices &m_platform;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_portBox = nullptr;
    QPlainTextEdit *m_otherAddresses = nullptr;
    ValueLabel *m_internet = nullptr;
    QPushButton *m_copyAddress = nullptr;
    QString m_dialAddress;
};
