#pragma once

#include "board/ZoneTable.h"

#include <array>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ValueLabel;
struct BoardSnapshot;

// The controls of the duel board that the window works with, as BoardLayout::build made them,
// and what is done with them zone by zone. Each member's comment gives the object name of the
// control it points to, by which tests and tools find it.
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

    QPushButton *connectionsButton = nullptr; // cmdConnections
    QPushButton *coinDiceButton = nullptr;    // cmdProb
    QPushButton *sendButton = nullptr;        // cmdSend
    QPushButton *addButton = nullptr;         // cmdAdd
    QPushButton *subtractButton = nullptr;    // cmdSubtract
    ValueLabel *status = nullptr;             // lblStatus
    ValueLabel *protection = nullptr;         // lblProtection: how the link is protected
    QPlainTextEdit *chatLog = nullptr;        // txtChat
    QLineEdit *chatName = nullptr;            // txtName
    QLineEdit *chatMessage = nullptr;         // txtMessage
    QLineEdit *lifePointsAmount = nullptr;    // txtValue
    // Zone controls the window also uses on their own; each is in `zones` as well.
    QLineEdit *ownLifePoints = nullptr;          // txtP1LP
    QPlainTextEdit *opponentGraveyard = nullptr; // lblP2Grave

    // In the order of ZoneTable::all().
    std::array<Zone, ZoneTable::Size> zones;
    // The whole texts behind the opponent's displays and the chat log, which show an over-long
    // run of characters shortened (DisplayText); the recovery copy keeps these.
    std::array<QString, ZoneTable::Size> opponentTexts;
    // What each of the player's editors held when it was last sent (or could have been).
    std::array<QString, ZoneTable::Size> acceptedTexts;
    QString chatText;

    const Zone &zone(const ZoneMirror &mirror) const { return zones[ZoneTable::indexOf(mirror)]; }
    Zone &zone(const ZoneMirror &mirror) { return zones[ZoneTable::indexOf(mirror)]; }

    // What the player typed into the zone's editor.
    QString ownText(const ZoneMirror &mirror) const;
    QString opponentText(const ZoneMirror &mirror) const
    {
        return opponentTexts[ZoneTable::indexOf(mirror)];
    }
    // Takes what the zone's editor holds now as its accepted text, if it fits in one message the
    // other copy takes; otherwise puts the accepted text back, without reporting an edit, and
    // says no.
    bool acceptOwnText(const ZoneMirror &mirror);
    // Shows what the opponent sent for the zone; says whether it differs from what was shown.
    bool showOpponentText(const ZoneMirror &mirror, const QString &text);
    // Adds an entry and an empty line at the end of the chat log.
    void appendToChat(const QString &entry);

    // The board as a recovery copy holds it, and back: the local half goes in as if typed.
    BoardSnapshot snapshot() const;
    void restore(const BoardSnapshot &snapshot);
};
