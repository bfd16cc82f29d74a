#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace LinkHarness {

// A stretch of loopback network in front of a listening copy, for tests that watch or meddle
// with what crosses a link. Each connection made to it is carried on to the target port, and
// every byte carried is recorded, per connection and direction. It can change one byte of what
// it carries next from the dialling side, and be cut (every connection it carries is reset and
// new ones are turned away) and mended.
class Relay : public QObject
{
public:
    // What crossed one connection: `up` from the side that dialled, `down` towards it.
    struct Capture
    {
        QByteArray up;
        QByteArray down;
    };

    explicit Relay(int targetPort);
    int port() const { return m_server.serverPort(); }
    const QList<Capture> &captures() const { return m_captures; }
    // The next bytes carried up reach the target with one bit of their middle byte flipped.
    void flipNextUpByte() { m_flipUp = true; }
    void cut();
    void mend() { m_up = true; }

private:
    void carry();
    void forward(QTcpSocket *from, QTcpSocket *to, qsizetype capture, bool up);

    QTcpServer m_server;
    const quint16 m_target;
    QList<Capture> m_captures;
    QList<QTcpSocket *> m_carried;
    bool m_flipUp = false;
    bool m_up = true;
};

} // namespace LinkHarness
