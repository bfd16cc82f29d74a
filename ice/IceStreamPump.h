#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>

class QSocketNotifier;
class QTcpSocket;

// A local socket pair between the link and the ICE stream: the link gets one end as a connected
// QTcpSocket, and the pump moves bytes between the other end and the stream, in chunks of up
// to 16 KB. It holds at most about 256 KB each way: beyond that it stops reading the link's
// end, and gives up if the link falls that far behind reading its own.
class IceStreamPump : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype ChunkBytes = 16 * 1024;
    static constexpr qsizetype HighWaterBytes = 256 * 1024;

    // `send` gives the stream what it can take now and says how much it took.
    explicit IceStreamPump(std::function<qsizetype(const char *, qsizetype)> send,
                           QObject *parent = nullptr);
    ~IceStreamPump() override;

    // The link's end, connected; null when the pair could not be made. Called once.
    QTcpSocket *takeSocket();
    // From the stream toward the link.
    void deliver(const char *data, qsizetype length);
    // The stream takes bytes again.
    void resumeSending();
    // The path ended: the link's end reads the end of the stream.
    void shutDown();
    qint64 bytesCarried() const { return m_bytesCarried; }
    bool hasBytesForStream() const { return !m_toStream.isEmpty(); }

signals:
    // The link fell behind reading; the pump has shut down.
    void overflowed();
    // The link closed its end.
    void linkClosed();

private:
    void readFromLink();
    void flushToStream();
    void flushToLink();

    std::function<qsizetype(const char *, qsizetype)> m_send;
    int m_linkEnd = -1;
    int m_pathEnd = -1;
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    QByteArray m_toStream;
    QByteArray m_toLink;
    bool m_linkClosed = false;
    qint64 m_bytesCarried = 0;
};
