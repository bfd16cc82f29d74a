#pragma once

#include "platform/CentredWindow.h"

#include <QPointer>

class TableProtocol;
class PlatformServices;
class QPushButton;
class ValueLabel;

// The coin and dice window: "Flip Coin" draws heads or tails, "Roll Dice" a number from 1 to 6.
// The result always shows in the window's label. Linked with a copy that draws together, the
// two copies draw it between them (DrawExchange), so neither can choose it, and each shows it;
// linked with any other peer this copy draws alone and announces the result. The window keeps
// nothing between clicks and is deleted when closed, so each opening starts from "Outcome"
// again; a draw under way then still shows its result in the next one.
class CoinDiceWindow : public CentredWindow
{
    Q_OBJECT
public:
    static constexpr int ClientWidth = 185;
    static constexpr int ClientHeight = 70;

    // `table` is the main window's.
    CoinDiceWindow(TableProtocol &table, PlatformServices &platform);

    void onCoinClicked();
    void onDiceClicked();

private:
    void draw(int faces);
    bool drawTogether(int faces);

    // Nothing is announced once the main window, and its table with it, is gone.
    QPointer<TableProtocol> m_table;
    PlatformServices &m_platform;
    QPushButton *m_coin = nullptr;
    QPushButton *m_dice = nullptr;
    ValueLabel *m_outcome = nullptr;
};
