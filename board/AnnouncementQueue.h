#pragma once

#include <QObject>
#include <QString>

// What the opponent announces (a coin flip or dice roll, a draw that could not be checked) is
// shown in one box at a time, however fast it arrives. The first announcement opens the box;
// one that arrives while the box is open takes its place in it, and the box says how many came
// before it since it opened. Once the player closes the box, the next announcement opens a new
// one.
class AnnouncementQueue : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void add(const QString &announcement);
    // The player closed the box.
    void boxClosed();

signals:
    // The box should show `text`: a new box when `opens`, else the open one.
    void show(const QString &text, bool opens);

private:
    bool m_boxOpen = false;
    int m_earlier = 0;
};
