#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

#include "wire/Greeting.h"

#include <initializer_list>
#include <memory>

class PeerLink;
class QTcpServer;

// Plain TCP peers, the bytes they send, and probes for links on loopback; nothing here needs a
// window.
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

// The version of a copy that frames and draws together but does not encrypt: what a copy
// without an identity greets with, and what these scripted peers speak unless told otherwise.
constexpr int UnencryptedCopy = Greeting::EncryptsFromVersion - 1;
// The greeting a dialling copy of `version` sends first, framed as it goes on the wire.
QByteArray greeting(int version = UnencryptedCopy);
// The messages as a reader of frames expects them: each one ends in a NUL.
QByteArray framed(std::initializer_list<QByteArray> messages);
// Ends the connection with a reset (RST) instead of an orderly close, as a crashed peer or a
// broken network does.
void resetConnection(QTcpSocket *socket);
// The value of a socket option of a connected socket, or -1.
int socketOption(const QTcpSocket *socket, int level, int option);

// Has `link` dial a plain peer listening on `listener` (on a free loopback port unless it
// listens already), which greets it with "18Connected" as such a peer does; null when no
// connection arrives.
std::unique_ptr<PlainPeer> plainPeerDialledBy(PeerLink &link, QTcpServer &listener);

// The connected socket under a link, or null when no link is up. Sockets still finishing a
// goodbye belong to a closer, not to a session.
QTcpSocket *linkSocket(const PeerLink *link);

int freePort();
bool canConnect(int port);

} // namespace LinkHarness
