#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal, `kill`, a session that ends) into a
// signal on the Qt event loop, so that the program can end as when its window is closed. The
// handler only writes the signal's number to a pipe the event loop watches. Each handler is
// reset to the default when it runs, and all three are reset once the first has been taken, so
// a second signal ends the program at once even when the first could not end it.
//
// One object at a time watches; it gives the signals back to their defaults when destroyed.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False where the pipe or the handlers could not be set up; the signals then end the
    // program as they always do.
    bool isWatching() const;

signals:
    // Emitted once, for the first of the signals; `signalNumber` is SIGINT, SIGTERM or SIGHUP.
    void received(int signalNumber);

private:
    void takeFromPipe();
    static void restoreDefaults();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
