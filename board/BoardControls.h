#pragma once

#include "board/ZoneTable.h"

#include <array>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ValueLabel;

// The controls of the duel board that the window works with, as BoardLayout::build made them.
// Each member is named after the object name of the control it points to.
struct BoardControls
{
    // One zone's editor on the local half and its display on the opponent half. Of each pair
    // exactly one pointer is set, the one the zone's ZoneContent calls for; the other is null.
    struct Zone
    {
        QLineEdit *lineEditor = nullptr;       // a count
        QPlainTextEdit *textEditor = nullptr;  // a card or a list
        ValueLabel *labelDisplay = nullptr;    // a count or a card
        QPlainTextEdit *listDisplay = nullptr; // a list
    };

    QPushButton *cmdConnections = nullptr;
    QPushButton *cmdProb = nullptr;
    QPushButton *cmdSend = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdSubtract = nullptr;
    ValueLabel *lblStatus = nullptr;
    QPlainTextEdit *txtChat = nullptr;
    QLineEdit *txtName = nullptr;
    QLineEdit *txtMessage = nullptr;
    QLineEdit *txtValue = nullptr;
    // Zone controls the window also uses on their own; each is in `zones` as well.
    QLineEdit *txtP1LP = nullptr;
    QPlainTextEdit *lblP2Grave = nullptr;

    // In the order of ZoneTable::all().
    std::array<Zone, ZoneTable::Size> zones;

    const Zone &zone(const ZoneMirror &mirror) const { return zones[ZoneTable::indexOf(mirror)]; }
    Zone &zone(const ZoneMirror &mirror) { return zones[ZoneTable::indexOf(mirror)]; }
};
