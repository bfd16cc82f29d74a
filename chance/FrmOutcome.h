#pragma once

#include "platform/CentredWindow.h"

#include <QPointer>

class DrawExchange;
class PeerSocket;
class PlatformServices;
class QPushButton;
class ValueLabel;

// The coin and dice window: "Flip Coin" draws heads or tails, "Roll Dice" a number from 1 to 6.
// The result always shows in the window's label. Linked with a copy that draws together, the
// two copies draw it between them (DrawExchange), so neither can choose it, and each shows it;
// linked with any other peer this copy draws alone and announces the result. The window keeps
// nothing between clicks and is deleted when closed, so each opening starts from "Outcome"
// again; a draw under way then still shows its result in the next one.
class FrmOutcome : public CentredWindow
{
    Q_OBJECT
public:
    static constexpr int ClientWidth = 185;
    static constexpr int ClientHeight = 70;

    // `link` is the main window's peer socket; `draws` its side of the shared draws, without
    // which every draw is made alone.
    FrmOutcome(PeerSocket &link, PlatformServices &platform, DrawExchange *draws = nullptr);

    void cmdCoin_Click();
    void cmdDice_Click();

private:
    void draw(int faces);
    bool drawTogether(int faces);
    void announce(const QString &message);

    // Nothing is announced once the main window, and its socket with it, is gone.
    QPointer<PeerSocket> m_link;
    QPointer<DrawExchange> m_draws;
    PlatformServices &m_platform;
    QPushButton *m_coin = nullptr;
    QPushButton *m_dice = nullptr;
    ValueLabel *m_outcome = nullptr;
};
