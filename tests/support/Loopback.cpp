#include "Loopback.h"

#include "link/PeerLink.h"
#include "link/PeerSession.h"
#include "wire/WireMessage.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace LinkHarness {

QByteArray greeting(int version)
{
    return WireMessage::framedBytes(WireMessage::build(WireCode::Greeting, Greeting::tag(version)));
}

QByteArray framed(std::initializer_list<QByteArray> messages)
{
    QByteArray bytes;
    for (const QByteArray &message : messages)
        bytes += message + '\0';
    return bytes;
}

void resetConnection(QTcpSocket *socket)
{
    const linger immediately{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &immediately,
                 sizeof immediately);
    socket->abort();
}

int socketOption(const QTcpSocket *socket, int level, int option)
{
    int value = -1;
    socklen_t size = sizeof value;
    if (!socket || ::getsockopt(int(socket->socketDescriptor()), level, option, &value, &size) != 0)
        return -1;
    return value;
}

std::unique_ptr<PlainPeer> plainPeerDialledBy(PeerLink &link, QTcpServer &listener)
{
    if (!listener.isListening() && !listener.listen(QHostAddress::LocalHost, 0))
        return nullptr;
    link.dial(QStringLiteral("127.0.0.1"), listener.serverPort());
    if (!listener.waitForNewConnection(LinkTimeoutMs))
        return nullptr;
    auto peer = std::make_unique<PlainPeer>(listener.nextPendingConnection());
    peer->send("18Connected");
    return peer;
}

QTcpSocket *linkSocket(const PeerLink *link)
{
    for (const PeerSession *session :
         link->findChildren<PeerSession *>(Qt::FindDirectChildrenOnly)) {
        for (QTcpSocket *socket : session->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                return socket;
        }
    }
    return nullptr;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

bool canConnect(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(1000);
}

} // namespace LinkHarness
