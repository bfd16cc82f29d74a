#pragma once

#include "board/BoardSnapshot.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QLockFile;

// The recovery copy of one running copy's board, so that a crash or a power cut loses at most
// the last second of typing. While the program runs, every change asks for a write; the writes
// come at most once per WriteDelayMs, each replacing the whole file at once (never half
// written). A clean end removes the file, so finding one at start means the last run did not
// end cleanly.
//
// Files are kept per port, so that two copies of one player (on two ports) keep one each; a
// lock beside the file keeps a second copy on the same port from touching it.
class RecoveryFile : public QObject
{
    Q_OBJECT
public:
    static constexpr int WriteDelayMs = 1000;

    // What a start finds in the folder.
    struct Found
    {
        enum class Kind
        {
            Nothing,
            Snapshot,  // `snapshot` is the board as it was
            Unreadable // the file was set aside as `setAsidePath`; `problem` says why
        };
        Kind kind = Kind::Nothing;
        BoardSnapshot snapshot;
        QString problem;
        QString setAsidePath;
    };

    // Keeps the file of `port` in `folder`; `take` gives the board as it is now.
    RecoveryFile(const QString &folder, int port, std::function<BoardSnapshot()> take,
                 QObject *parent = nullptr);
    ~RecoveryFile() override;

    // Takes the file for this copy. False when another running copy holds it: this copy then
    // neither reads nor writes it.
    bool claim();
    // What the last run left, read once at start. A file that cannot be read is renamed out of
    // the way, so that it is neither offered again nor overwritten.
    Found find();
    // The board changed: it is written within the write delay (WriteDelayMs).
    void changed();
    // Writes the board now.
    void writeNow();
    // Removes the file (the player declined what it held); later changes write it again.
    void remove();
    // The clean end: removes the file and writes nothing more.
    void finish();

    QString path() const { return m_path; }
    // A shorter write delay, for tests.
    void setWriteDelayMs(int ms) { m_delay.setInterval(ms); }

signals:
    // A write failed; said once, with the reason for the player.
    void cannotKeep(const QString &reason);

private:
    void fail(const QString &reason);

    const QString m_folder;
    const QString m_path;
    std::function<BoardSnapshot()> m_take;
    std::unique_ptr<QLockFile> m_lock;
    QTimer m_delay;
    bool m_claimed = false;
    bool m_finished = false;
    bool m_failed = false;
};
