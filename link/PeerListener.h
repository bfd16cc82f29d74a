#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// Listens on one port for the other player's copy. Each incoming connection is offered to the
// owner as a numbered request; the owner takes the one it accepts while it handles the
// `requested` signal, and every request not taken by then is refused.
class PeerListener : public QObject
{
    Q_OBJECT
public:
    explicit PeerListener(QObject *parent = nullptr);

    // Opens `port` (0 picks a free one) for IPv4 and IPv6 peers alike. On failure returns false
    // and error() says why, in words for the player.
    bool listen(int port);
    QString error() const { return m_error; }
    bool isListening() const { return m_server != nullptr; }
    // The port actually opened; meaningful only while listening.
    int port() const;
    // Stops listening; may be called while handling `requested`.
    void close();
    // The request numbered `requestId`, now the caller's; null for a request no longer offered.
    QTcpSocket *take(int requestId);

signals:
    void requested(int requestId);

private:
    void offerPendingRequests();

    QTcpServer *m_server = nullptr;
    QMap<int, QTcpSocket *> m_requests;
    int m_lastRequestId = 0;
    QString m_error;
};
