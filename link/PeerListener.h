#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// Listens on one port for the other player's copy. Each incoming connection is offered to the
// owner as a numbered request; the owner takes the one it accepts while it handles the
// `requested` signal, and every request not taken by then is refused.
//
// While waiting for a copy whose link was lost, only copies are let through: a request is
// offered once its first bytes are a copy's greeting (which a dialling copy sends as soon as it
// is connected, and which is left unread for the session), and closed when anything else comes
// first or nothing within Greeting::WaitMs. Port scanners and plain peers then
// leave no trace on the board while it waits.
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
    // Whether only requests that greet as one of our copies are offered; off by default.
    void setOnlyCopies(bool only) { m_onlyCopies = only; }
    // The request numbered `requestId`, now the caller's; null for a request no longer offered.
    QTcpSocket *take(int requestId);
    // Offers a socket that came over another path (see IcePath) as a request, listening or not.
    void offerArrival(QTcpSocket *request);

signals:
    void requested(int requestId);

private:
    void offerPendingRequests();
    void screen(QTcpSocket *request);
    void checkGreeting(QTcpSocket *request);
    void dropScreened(QTcpSocket *request);
    void offer(QTcpSocket *request);
    static void refuse(QTcpSocket *request);

    QTcpServer *m_server = nullptr;
    QMap<int, QTcpSocket *> m_requests;
    // Requests waiting for their greeting while only copies are let through.
    QList<QTcpSocket *> m_screened;
    int m_lastRequestId = 0;
    bool m_onlyCopies = false;
    QString m_error;
};
