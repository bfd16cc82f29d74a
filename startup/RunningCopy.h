#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The one copy of the program that takes invitations in a user's session. The first copy to
// start listens on a local socket that only this user can reach; a later start given an
// invitation hands the text over there and ends, and the running copy opens it. A start
// without an invitation never asks: two copies on one machine (on two ports) stay possible.
//
// A message is one line of UTF-8 ended by a line feed, at most MaxMessageBytes in all; the
// running copy answers "ok" and a line feed once it has taken it, or "refused" for a text it
// cannot take. Anything longer, undecodable or too slow ends the connection.
class RunningCopy : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxMessageBytes = 4096;

    enum class HandOver
    {
        Delivered,     // the running copy took the text
        NoCopyRunning, // nothing listens on the socket: this start is the first
        NotTaken,      // a copy listens but refused the text or did not answer in time
    };

    // `socketName` is a name Qt places in its temporary folder, or the socket's whole path.
    explicit RunningCopy(const QString &socketName, QObject *parent = nullptr);

    // The socket of this user: "skarnet-UID" in $XDG_RUNTIME_DIR (or the temporary folder).
    // SKARNET_INSTANCE_NAME, where set, sets another: a path is taken as it is, and a plain
    // name is added to the usual one, so that copies started with it (tests run side by side)
    // meet only each other.
    static QString socketNameForThisUser();
    // Whether `text` goes as one message: one line, without control characters, and short
    // enough.
    static bool fitsOneMessage(const QString &text);

    // Gives `text` to the copy listening on the socket, waiting up to `timeoutMs` for it to
    // confirm. Blocks; needs no event loop.
    HandOver handOver(const QString &text, int timeoutMs = 5000) const;
    // Listens for the invitations of later starts, unless a live copy already does; a socket
    // left behind by a copy that did not end cleanly is replaced. True when this copy listens.
    bool listen();

signals:
    void invitationReceived(const QString &text);

private:
    bool anotherCopyAnswers() const;
    void accept();
    void readFrom(QLocalSocket *socket);

    const QString m_socketName;
    QLocalServer *const m_server;
};
