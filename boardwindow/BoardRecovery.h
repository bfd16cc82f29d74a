#pragma once

#include <QObject>
#include <QString>

class PlatformServices;
class QWidget;
class RecoveryFile;
struct BoardControls;

// The recovery copy of the board as the player meets it: kept while the program runs, offered
// once at start when the last run did not end cleanly, and removed at a clean end.
class BoardRecovery : public QObject
{
    Q_OBJECT
public:
    // Keeps the copy of `port` in `folder`, taking the board from `controls`; boxes open over
    // `window`.
    BoardRecovery(const QString &folder, int port, BoardControls &controls,
                  PlatformServices &platform, QWidget *window);

    // What a run that did not end cleanly left: offered once, before this copy can be reached.
    // Yes puts the board back as it was; No discards the copy.
    void offer();
    // The board changed.
    void changed();
    // The clean end.
    void finish();

signals:
    // The copy cannot be kept; a sentence for the status line, said once.
    void cannotKeep(const QString &sentence);

private:
    BoardControls &m_controls;
    PlatformServices &m_platform;
    QWidget *const m_window;
    RecoveryFile *const m_file;
};
