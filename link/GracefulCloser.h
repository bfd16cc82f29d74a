#pragma once

#include <QObject>
#include <QTimer>

class QTcpSocket;

// Ends a connected socket without losing what was sent on it.
//
// A plain close of a socket whose peer has unread data answers with a reset, and a reset can
// make the peer discard bytes it has received but not yet read, such as a goodbye message.
// So the closer first lets Qt hand every pending byte to the system, then shuts down only the
// sending side (the peer sees the end of the stream after our last message), reads and drops
// whatever the peer still sends, and closes once the peer has closed too or a deadline passes.
class GracefulCloser : public QObject
{
    Q_OBJECT
public:
    static constexpr int DeadlineMs = 3000;

    // Takes ownership of `socket` and starts closing it on the event loop.
    GracefulCloser(QTcpSocket *socket, QObject *parent);

    // Completes the close without the event loop, waiting at most `msecs`; used when the
    // program ends and no event loop will run again.
    void finishNow(int msecs);

private:
    void shutDownSendingWhenFlushed();
    void discardIncoming();
    void finish();

    qint64 bytesToWrite() const;

    QTcpSocket *m_socket;
    QTimer m_deadline;
    bool m_sendingShutDown = false;
    bool m_finished = false;
};
