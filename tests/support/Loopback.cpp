#include "Loopback.h"

#include "link/PeerSession.h"
#include "link/PeerSocket.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace LinkHarness {

QTcpSocket *linkSocket(const PeerSocket *link)
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
