#pragma once

#include "platform/CentredWindow.h"

#include <QPointer>

class PeerSocket;
class PlatformServices;
class QPushButton;
class ValueLabel;

// The coin and dice window: "Flip Coin" draws heads or tails, "Roll Dice" a number from 1 to 6.
// The result always shows in the window's label; while the link is up it is also announced to
// the opponent. The window keeps nothing between clicks and is deleted when closed, so each
// opening starts from "Outcome" again.
class FrmOutcome : public CentredWindow
{
    Q_OBJECT
public:
    static constexpr int ClientWidth = 185;
    static constexpr int ClientHeight = 70;

    // `link` is the main window's peer socket.
    FrmOutcome(PeerSocket &link, PlatformServices &platform);

    void cmdCoin_Click();
    void cmdDice_Click();

private:
    void announce(const QString &message);

    // Nothing is announced once the main window, and its socket with it, is gone.
    QPointer<PeerSocket> m_link;
    PlatformServices &m_platform;
    QPushButton *m_coin = nullptr;
    QPushButton *m_dice = nullptr;
    ValueLabel *m_outcome = nullptr;
};
