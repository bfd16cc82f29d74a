#pragma once

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

// Runs the event loop until `ms` have passed, to show that something does not happen. A timer
// started earlier with a shorter interval has fired by then, however late the loop gets to it.
inline void runEventsPast(int ms)
{
    QTimer past;
    past.setSingleShot(true);
    past.setTimerType(Qt::PreciseTimer);
    QSignalSpy passed(&past, &QTimer::timeout);
    past.start(ms);
    QVERIFY(passed.wait());
}
