#include "PeerListener.h"

#include "LinkSentences.h"

#include <QTcpServer>
#include <QTcpSocket>

PeerListener::PeerListener(QObject *parent)
    : QObject(parent)
{
}

bool PeerListener::listen(int port)
{
    close();
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &PeerListener::offerPendingRequests);
    // Any is one socket for IPv6 and IPv4 peers alike (IPv4 ones arrive as mapped addresses),
    // or IPv4 alone on a machine without IPv6.
    if (m_server->listen(QHostAddress::Any, quint16(port))) {
        m_error.clear();
        return true;
    }
    m_error = LinkSentences::listenFailure(m_server->serverError(), port);
    close();
    return false;
}

int PeerListener::port() const
{
    return m_server ? int(m_server->serverPort()) : 0;
}

void PeerListener::close()
{
    // Deleted later: close() may run inside the server's own newConnection signal.
    if (QTcpServer *server = std::exchange(m_server, nullptr)) {
        server->close();
        server->deleteLater();
    }
}

void PeerListener::offerPendingRequests()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *request = m_server->nextPendingConnection();
        request->setParent(this);
        const int id = ++m_lastRequestId;
        m_requests.insert(id, request);
        emit requested(id);
    }
    for (QTcpSocket *request : std::as_const(m_requests)) {
        request->abort();
        request->deleteLater();
    }
    m_requests.clear();
}

QTcpSocket *PeerListener::take(int requestId)
{
    QTcpSocket *request = m_requests.take(requestId);
    if (request)
        request->setParent(nullptr);
    return request;
}
