#include "AnnouncementQueue.h"

void AnnouncementQueue::add(const QString &announcement)
{
    if (!m_boxOpen) {
        m_boxOpen = true;
        m_earlier = 0;
        emit show(announcement, true);
        return;
    }
    ++m_earlier;
    emit show(
        announcement + QStringLiteral("\n\n") +
            tr("(%n earlier announcement(s) from your opponent came while this box was open.)",
               nullptr, m_earlier),
        false);
}

void AnnouncementQueue::boxClosed()
{
    m_boxOpen = false;
    m_earlier = 0;
}

#include "moc_AnnouncementQueue.cpp"
