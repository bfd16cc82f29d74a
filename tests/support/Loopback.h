#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

class PeerSocket;

// Plain TCP peers and probes for links on loopback; nothing here needs a window.
namespace LinkHarness {

constexpr int LinkTimeoutMs = 5000;
// Long enough for a message written on loopback to be read and applied by the other side.
constexpr int SettleMs = 300;

// A peer that knows nothing of framing: it records every byte it receives and whether the
// stream has ended.
class PlainPeer : public QObject
{
public:
    explicit PlainPeer(QTcpSocket *accepted = nullptr)
        : socket(accepted ? accepted : new QTcpSocket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { received += socket->readAll(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ended = true; });
    }
    bool connectTo(int port)
    {
        socket->connectToHost(QHostAddress::LocalHost, quint16(port));
        return socket->waitForConnected(LinkTimeoutMs);
    }
    // One message in one write, as a peer without framing sends it.
    void send(const QByteArray &bytes)
    {
        socket->write(bytes);
        socket->flush();
    }

    QTcpSocket *socket;
    QByteArray received;
    bool ended = false;
};

// The connected socket under a link, or null when no link is up. Sockets still finishing a
// goodbye belong to a closer, not to a session.
QTcpSocket *linkSocket(const PeerSocket *link);

int freePort();
bool canConnect(int port);

} // namespace LinkHarness
