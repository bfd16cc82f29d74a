#pragma once

#include "platform/CentredWindow.h"

class FrmMain;
class PlatformServices;

// The player's control panel for the link: wait for a connection, connect to an address
// (a name or IP address, with a port if the other copy listens on a different one),
// disconnect, and what to give to the other player: this machine's addresses, the best one
// first, and the port this copy listens on. It keeps no state of its own; every action works
// on the main window's socket and status line.
class FrmConnections : public CentredWindow
{
    Q_OBJECT
public:
    FrmConnections(FrmMain &main, PlatformServices &platform);

    // The main window whose link this window works on.
    FrmMain &mainWindow() const { return m_main; }

    void cmdConnect_Click();
    void cmdClose_Click();
    void cmdWait_Click();

private:
    void Form_Load();

    FrmMain &m_main;
    PlatformServices &m_platform;
};
