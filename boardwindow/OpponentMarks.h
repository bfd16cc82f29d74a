#pragma once

#include "board/ChangeMarks.h"
#include "board/ZoneTable.h"

#include <QColor>
#include <QPalette>

#include <array>

class QLabel;
class ZoneFrameBox;
struct BoardControls;

// With sixteen displays on the opponent's half, an edit to one is easily missed. When a display
// there shows a new text, the caption it stands under (its zone frame's, or the label beside a
// count) is drawn in MarkBackground for a few seconds and then fades back (ChangeMarks keeps
// the time). Only colours change: nothing moves, grows or takes the focus, and what a screen
// reader is told stays as it was.
class OpponentMarks : public QObject
{
    Q_OBJECT
public:
    // Amber, with black text on it: it stands out on the black board, and apart from every
    // zone colour and from the red and blue writing of the two halves.
    static inline const QColor MarkBackground{0xFF, 0xC0, 0x00};
    static inline const QColor MarkText{0x00, 0x00, 0x00};

    OpponentMarks(const BoardControls &controls, QObject *parent);

    // The zone's display on the opponent's half now shows a text other than before.
    void changed(const ZoneMirror &zone);
    // Off, no caption is marked until it is turned on again.
    void setEnabled(bool enabled) { m_timing.setEnabled(enabled); }
    ChangeMarks &timing() { return m_timing; }

private:
    // The caption drawn `strength` of the way (0 to 1) from its own colours to the mark's.
    void draw(int zone, qreal strength);

    struct Caption
    {
        ZoneFrameBox *frame = nullptr;
        QLabel *label = nullptr;
        QPalette restPalette;
        bool restFilled = false;
    };

    ChangeMarks m_timing;
    std::array<Caption, ZoneTable::Size> m_captions;
};
