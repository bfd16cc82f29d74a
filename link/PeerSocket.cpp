#include "PeerSocket.h"

#include "GracefulCloser.h"
#include "LocalAddresses.h"
#include "PeerListener.h"
#include "PeerSession.h"
#include "WireMessage.h"

#include <QTcpSocket>

namespace {

constexpr int ShutdownWaitMs = 2000;

} // namespace

PeerSocket::PeerSocket(QObject *parent)
    : QObject(parent)
    , m_listener(new PeerListener(this))
    , m_keepAliveMs(PeerSession::KeepAliveMs)
    , m_silenceLimitMs(PeerSession::SilenceLimitMs)
{
    connect(m_listener, &PeerListener::requested, this, &PeerSocket::ConnectionRequest);
}

PeerSocket::~PeerSocket()
{
    Close();
    for (GracefulCloser *closer : findChildren<GracefulCloser *>(Qt::FindDirectChildrenOnly))
        closer->finishNow(ShutdownWaitMs);
}

int PeerSocket::LocalPort() const
{
    return m_listener->isListening() ? m_listener->port() : m_localPort;
}

void PeerSocket::SetLocalPort(int port)
{
    m_localPort = port;
}

QString PeerSocket::LocalIP() const
{
    const QStringList addresses = LocalAddresses::all();
    return addresses.isEmpty() ? QStringLiteral("127.0.0.1") : addresses.first();
}

PeerSocket::LinkState PeerSocket::State() const
{
    if (m_session) {
        switch (m_session->socketState()) {
        case QAbstractSocket::ConnectedState:
            return Connected;
        case QAbstractSocket::HostLookupState:
        case QAbstractSocket::ConnectingState:
            return Connecting;
        default:
            break;
        }
    }
    if (m_listener->isListening())
        return Listening;
    return m_connectFailed ? Failed : Closed;
}

bool PeerSocket::Listen()
{
    return m_listener->listen(m_localPort);
}

QString PeerSocket::ListenError() const
{
    return m_listener->error();
}

void PeerSocket::Accept(int requestId)
{
    if (QTcpSocket *request = m_listener->take(requestId)) {
        m_accepted = true;
        startSession()->accept(request);
    }
}

void PeerSocket::Connect(const QString &host, int port)
{
    m_accepted = false;
    startSession()->dial(host, port);
}

bool PeerSocket::SendData(const QString &message)
{
    if (State() != Connected)
        return false;
    return m_session->send(message);
}

void PeerSocket::Close()
{
    // Whether the peer is a copy is known once the handshake is settled; settling may end the
    // session from the other side meanwhile.
    if (m_session)
        m_session->settleHandshake();
    endLink(sendsFrames());
}

void PeerSocket::SayGoodbyeAndClose()
{
    endLink(true);
}

void PeerSocket::endLink(bool goodbye)
{
    if (goodbye && State() == Connected)
        SendData(WireMessage::build(WireCode::Status, StatusText::Disconnected));
    m_listener->close();
    if (PeerSession *session = m_session) {
        // Settling the handshake may end the session from the other side meanwhile.
        QTcpSocket *open = session->takeForClosing();
        if (m_session == session)
            dropSession();
        if (open)
            new GracefulCloser(open, this);
    }
}

bool PeerSocket::sendsFrames() const
{
    return m_session && m_session->sendsFrames();
}

bool PeerSocket::readsFrames() const
{
    return m_session && m_session->readsFrames();
}

void PeerSocket::setKeepAliveTimes(int keepAliveMs, int silenceLimitMs)
{
    m_keepAliveMs = keepAliveMs;
    m_silenceLimitMs = silenceLimitMs;
    if (m_session)
        m_session->setKeepAliveTimes(keepAliveMs, silenceLimitMs);
}

// Drops whatever link there was (and any earlier failure) and starts a new one.
PeerSession *PeerSocket::startSession()
{
    dropSession();
    m_session = new PeerSession(this);
    m_session->setKeepAliveTimes(m_keepAliveMs, m_silenceLimitMs);
    connect(m_session, &PeerSession::messageArrived, this, &PeerSocket::DataArrival);
    connect(m_session, &PeerSession::framingAgreed, this, &PeerSocket::FramingAgreed);
    connect(m_session, &PeerSession::closedByPeer, this, [this] {
        dropSession();
        emit CloseEvent();
    });
    const auto failed = [this](const QString &description) {
        dropSession();
        emit LinkError(description);
    };
    connect(m_session, &PeerSession::linkFailed, this, failed);
    connect(m_session, &PeerSession::peerMisbehaved, this, failed);
    connect(m_session, &PeerSession::connectFailed, this, [this](const QString &description) {
        dropSession();
        m_connectFailed = true;
        emit LinkError(description);
    });
    return m_session;
}

void PeerSocket::dropSession()
{
    m_connectFailed = false;
    if (PeerSession *session = std::exchange(m_session, nullptr)) {
        session->disconnect(this);
        session->abort();
        session->deleteLater();
    }
}
