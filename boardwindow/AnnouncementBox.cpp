#include "AnnouncementBox.h"

#include "board/TableProtocol.h"
#include "draws/DrawExchange.h"
#include "draws/DrawSentences.h"
#include "platform/PlatformServices.h"

#include <QPointer>
#include <QWidget>

AnnouncementBox::AnnouncementBox(TableProtocol &table, PlatformServices &platform, QWidget *window)
    : QObject(window)
    , m_platform(platform)
    , m_window(window)
{
    connect(&table, &TableProtocol::announcementReceived, &m_queue, &AnnouncementQueue::add);
    connect(&table.draws(), &DrawExchange::opponentDrawSettled, this, [this](int faces, int face) {
        m_queue.add(DrawSentences::sharedAnnouncement(faces, face));
    });
    connect(&table.draws(), &DrawExchange::opponentDrawUnchecked, this,
            [this](int faces, DrawExchange::Unchecked why) {
                m_queue.add(DrawSentences::unchecked(faces, why));
            });
    connect(&m_queue, &AnnouncementQueue::show, this, &AnnouncementBox::show);
}

void AnnouncementBox::show(const QString &text, bool opens)
{
    if (opens)
        m_platform.beep();
    m_platform.announce(m_window, text, QStringLiteral("Skarnet"), [self = QPointer(this)] {
        if (self)
            self->m_queue.boxClosed();
    });
}

#include "moc_AnnouncementBox.cpp"
