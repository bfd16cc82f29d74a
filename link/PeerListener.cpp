#include "PeerListener.h"

#include "LinkSentences.h"
#include "wire/Greeting.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Beyond this many requests waiting for their greeting, more are refused at once.
constexpr qsizetype MostScreened = 8;

} // namespace

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
    for (QTcpSocket *request : std::exchange(m_screened, {})) {
        request->disconnect(this);
        refuse(request);
    }
}

void PeerListener::offerPendingRequests()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *request = m_server->nextPendingConnection();
        request->setParent(this);
        if (m_onlyCopies)
            screen(request);
        else
            offer(request);
    }
}

void PeerListener::offerArrival(QTcpSocket *request)
{
    request->setParent(this);
    offer(request);
}

void PeerListener::offer(QTcpSocket *request)
{
    const int id = ++m_lastRequestId;
    m_requests.insert(id, request);
    emit requested(id);
    if (QTcpSocket *untaken = m_requests.take(id))
        refuse(untaken);
}

void PeerListener::refuse(QTcpSocket *request)
{
    request->abort();
    request->deleteLater();
}

void PeerListener::screen(QTcpSocket *request)
{
    if (m_screened.size() >= MostScreened) {
        refuse(request);
        return;
    }
    m_screened.append(request);
    connect(request, &QTcpSocket::readyRead, this, [this, request] { checkGreeting(request); });
    connect(request, &QTcpSocket::disconnected, this, [this, request] { dropScreened(request); });
    connect(request, &QTcpSocket::errorOccurred, this, [this, request] { dropScreened(request); });
    QTimer::singleShot(Greeting::WaitMs, this, [this, request = QPointer(request)] {
        if (request)
            dropScreened(request);
    });
    checkGreeting(request);
}

// The greeting is only looked at, not read: the session that takes the request reads it.
void PeerListener::checkGreeting(QTcpSocket *request)
{
    if (!m_screened.contains(request))
        return;
    // What a dialling copy sends first: the greeting's code and the start of its tag.
    static const QByteArray copyGreeting = Greeting::wireStart();
    const QByteArray start = request->peek(copyGreeting.size());
    if (!copyGreeting.startsWith(start)) {
        dropScreened(request);
        return;
    }
    if (start.size() < copyGreeting.size())
        return;
    m_screened.removeOne(request);
    request->disconnect(this);
    offer(request);
}

void PeerListener::dropScreened(QTcpSocket *request)
{
    if (!m_screened.removeOne(request))
        return;
    request->disconnect(this);
    refuse(request);
}

QTcpSocket *PeerListener::take(int requestId)
{
    QTcpSocket *request = m_requests.take(requestId);
    if (request)
        request->setParent(nullptr);
    return request;
}

#include "moc_PeerListener.cpp"
