#include "ChangeMarks.h"

#include <QElapsedTimer>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr qint64 Unmarked = std::numeric_limits<qint64>::min();

} // namespace

ChangeMarks::ChangeMarks(int places, QObject *parent)
    : QObject(parent)
    , m_markedAt(std::size_t(places), Unmarked)
    , m_shown(std::size_t(places), 0.0)
{
    setClock({});
    m_steps.setInterval(StepMs);
    connect(&m_steps, &QTimer::timeout, this, &ChangeMarks::step);
}

void ChangeMarks::setClock(Clock clock)
{
    if (!clock) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        clock = [started] {
            return started->elapsed();
        };
    }
    m_clock = std::move(clock);
}

void ChangeMarks::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        return;
    std::fill(m_markedAt.begin(), m_markedAt.end(), Unmarked);
    step();
}

void ChangeMarks::mark(int place)
{
    if (!m_enabled)
        return;
    m_markedAt[std::size_t(place)] = m_clock();
    show(place, 1.0);
    if (!m_steps.isActive())
        m_steps.start();
}

qreal ChangeMarks::strength(int place) const
{
    const qint64 markedAt = m_markedAt[std::size_t(place)];
    if (markedAt == Unmarked)
        return 0.0;
    const qint64 left = HoldMs + FadeMs - (m_clock() - markedAt);
    if (left <= 0)
        return 0.0;
    if (left >= FadeMs)
        return 1.0;
    // Eased at both ends, so the fade neither starts nor ends with a jump.
    const qreal x = qreal(left) / FadeMs;
    return x * x * (3 - 2 * x);
}

void ChangeMarks::step()
{
    bool anyMarked = false;
    for (int place = 0; place < int(m_markedAt.size()); ++place) {
        const qreal now = strength(place);
        if (now == 0.0)
            m_markedAt[std::size_t(place)] = Unmarked;
        else
            anyMarked = true;
        show(place, now);
    }
    if (!anyMarked)
        m_steps.stop();
}

void ChangeMarks::show(int place, qreal strength)
{
    qreal &shown = m_shown[std::size_t(place)];
    if (shown == strength)
        return;
    shown = strength;
    emit strengthChanged(place, strength);
}

#include "moc_ChangeMarks.cpp"
