#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

// How strongly each of a fixed set of places is marked as just changed. A place is marked in
// full when it changes, stays so for HoldMs, then fades out over FadeMs; a change while it is
// marked starts it over. The time comes from a clock that tests can replace; a timer steps
// through the fade and reports each new strength, and runs only while something is marked.
class ChangeMarks : public QObject
{
    Q_OBJECT
public:
    // Milliseconds from any fixed point, never going back.
    using Clock = std::function<qint64()>;

    static constexpr qint64 HoldMs = 2250;
    static constexpr qint64 FadeMs = 750;
    // How often the strength is worked out again: often enough for the fade to look smooth.
    static constexpr int StepMs = 40;

    explicit ChangeMarks(int places, QObject *parent = nullptr);

    void setClock(Clock clock);
    // Off, every mark goes at once and changes mark nothing.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    void mark(int place);
    // 1 while held, falling to 0 through the fade; 0 when not marked.
    qreal strength(int place) const;

signals:
    void strengthChanged(int place, qreal strength);

private:
    void step();
    void show(int place, qreal strength);

    Clock m_clock;
    bool m_enabled = true;
    std::vector<qint64> m_markedAt; // when each place was marked last, if it still is
    std::vector<qreal> m_shown;
    QTimer m_steps;
};
