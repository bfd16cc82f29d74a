#include "Relay.h"

#include "Loopback.h"

#include <QTcpSocket>

namespace LinkHarness {

Relay::Relay(int targetPort)
    : m_target(quint16(targetPort))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &Relay::carry);
}

void Relay::cut()
{
    m_up = false;
    const QList<QTcpSocket *> carried = std::exchange(m_carried, {});
    // Each end is reset, not closed after the other ended.
    for (QTcpSocket *socket : carried)
        socket->disconnect();
    for (QTcpSocket *socket : carried)
        resetConnection(socket);
}

void Relay::carry()
{
    while (QTcpSocket *near = m_server.nextPendingConnection()) {
        near->setParent(this);
        if (!m_up) {
            near->abort();
            continue;
        }
        auto *far = new QTcpSocket(this);
        const qsizetype capture = m_captures.size();
        m_captures.append(Capture());
        m_carried << near << far;
        connect(near, &QTcpSocket::readyRead, this,
                [=, this] { forward(near, far, capture, true); });
        connect(far, &QTcpSocket::readyRead, this,
                [=, this] { forward(far, near, capture, false); });
        connect(far, &QTcpSocket::connected, this,
                [=, this] { forward(near, far, capture, true); });
        connect(near, &QTcpSocket::disconnected, far, &QTcpSocket::disconnectFromHost);
        connect(far, &QTcpSocket::disconnected, near, &QTcpSocket::disconnectFromHost);
        connect(far, &QTcpSocket::errorOccurred, near, [near](auto error) {
            if (error == QAbstractSocket::ConnectionRefusedError)
                near->abort(); // nobody listens at the target
        });
        far->connectToHost(QHostAddress::LocalHost, m_target);
    }
}

void Relay::forward(QTcpSocket *from, QTcpSocket *to, qsizetype capture, bool up)
{
    if (to->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray bytes = from->readAll();
    if (up && m_flipUp && !bytes.isEmpty()) {
        m_flipUp = false;
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
    }
    (up ? m_captures[capture].up : m_captures[capture].down) += bytes;
    to->write(bytes);
}

} // namespace LinkHarness
