#pragma once

#include "board/AnnouncementQueue.h"

#include <QObject>

class PlatformServices;
class QWidget;
class TableProtocol;

// What the opponent announces, shown over the board one box at a time (AnnouncementQueue): its
// coin flips and dice rolls drawn alone, and the draws it made with this copy, settled or not.
// Each box beeps once as it opens.
class AnnouncementBox : public QObject
{
    Q_OBJECT
public:
    AnnouncementBox(TableProtocol &table, PlatformServices &platform, QWidget *window);

private:
    void show(const QString &text, bool opens);

    PlatformServices &m_platform;
    QWidget *const m_window;
    AnnouncementQueue m_queue;
};
