#include "PeerSocket.h"

#include "GracefulCloser.h"
#include "LinkSentences.h"
#include "LocalAddresses.h"
#include "PeerListener.h"
#include "PeerSession.h"
#include "Relinker.h"
#include "WireMessage.h"

#include <QTcpSocket>

namespace {

constexpr int ShutdownWaitMs = 2000;

} // namespace

PeerSocket::PeerSocket(QObject *parent)
    : QObject(parent)
    , m_listener(new PeerListener(this))
    , m_relinker(new Relinker(this))
    , m_keepAliveMs(PeerSession::KeepAliveMs)
    , m_silenceLimitMs(PeerSession::SilenceLimitMs)
{
    connect(m_listener, &PeerListener::requested, this, &PeerSocket::ConnectionRequest);
    connect(m_relinker, &Relinker::retry, this, &PeerSocket::retryRelink);
    connect(m_relinker, &Relinker::gaveUp, this, &PeerSocket::relinkGaveUp);
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
    m_relinker->stop();
    m_listener->setOnlyCopies(false);
    if (!m_listener->listen(m_localPort))
        return false;
    m_listenedPort = m_listener->port();
    return true;
}

QString PeerSocket::ListenError() const
{
    return m_listener->error();
}

void PeerSocket::Accept(int requestId)
{
    if (QTcpSocket *request = m_listener->take(requestId)) {
        m_relinker->stop();
        m_accepted = true;
        startSession()->accept(request);
    }
}

void PeerSocket::Connect(const QString &host, int port)
{
    m_relinker->stop();
    m_accepted = false;
    m_dialledHost = host;
    m_dialledPort = port;
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
    // Last, as the send or the settling above may have found the link lost and started looking
    // for the peer again. The status line must no longer say that the search goes on.
    if (m_relinker->isActive()) {
        m_relinker->stop();
        emit RelinkStatus(StatusText::Disconnected);
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

bool PeerSocket::drawsTogether() const
{
    return State() == Connected && sendsFrames() && readsFrames() && m_session->peerVersion() >= 2;
}

void PeerSocket::setKeepAliveTimes(int keepAliveMs, int silenceLimitMs)
{
    m_keepAliveMs = keepAliveMs;
    m_silenceLimitMs = silenceLimitMs;
    if (m_session)
        m_session->setKeepAliveTimes(keepAliveMs, silenceLimitMs);
}

bool PeerSocket::isRelinking() const
{
    return m_relinker->isActive();
}

void PeerSocket::setRelinkTimes(int retryMs, int windowMs)
{
    m_relinker->setTimes(retryMs, windowMs);
}

// Drops whatever link there was (and any earlier failure) and starts a new one.
PeerSession *PeerSocket::startSession()
{
    dropSession();
    m_session = new PeerSession(this);
    m_session->setKeepAliveTimes(m_keepAliveMs, m_silenceLimitMs);
    connect(m_session, &PeerSession::messageArrived, this, [this](const WireMessage &message) {
        if (message.code == WireCode::Status && message.payload == StatusText::Disconnected)
            m_peerSaidGoodbye = true;
        emit DataArrival(message);
    });
    connect(m_session, &PeerSession::framingAgreed, this, [this] {
        m_betweenCopies = true;
        m_relinker->stop();
        emit FramingAgreed();
    });
    connect(m_session, &PeerSession::closedByPeer, this,
            [this] { sessionEnded(Ending::PeerClosed, {}); });
    connect(m_session, &PeerSession::linkFailed, this,
            [this](const QString &description) { sessionEnded(Ending::LinkFailed, description); });
    connect(m_session, &PeerSession::connectFailed, this, [this](const QString &description) {
        sessionEnded(Ending::ConnectFailed, description);
    });
    connect(m_session, &PeerSession::peerMisbehaved, this, [this](const QString &description) {
        sessionEnded(Ending::PeerMisbehaved, description);
    });
    return m_session;
}

void PeerSocket::sessionEnded(Ending ending, const QString &description)
{
    const bool lost = m_betweenCopies && !m_peerSaidGoodbye && ending != Ending::PeerMisbehaved;
    dropSession();
    // A redial that failed: the next one follows on schedule.
    if (m_relinker->isActive())
        return;
    if (lost) {
        startRelinking();
        return;
    }
    switch (ending) {
    case Ending::PeerClosed:
        emit CloseEvent();
        break;
    case Ending::ConnectFailed:
        m_connectFailed = true;
        emit LinkError(description);
        break;
    case Ending::LinkFailed:
    case Ending::PeerMisbehaved:
        emit LinkError(description);
        break;
    }
}

// The side that dialled dials the same address again; the side that accepted listens again
// at once, on the port the peer dialled. Its old session is gone by now, so nothing stands
// between the returning copy and the new link.
void PeerSocket::startRelinking()
{
    emit RelinkStatus(StatusText::Reconnecting);
    if (m_accepted) {
        m_listener->setOnlyCopies(true);
        m_relinker->start(QString(), 0);
        retryRelink(QString(), 0);
    } else {
        m_relinker->start(m_dialledHost, m_dialledPort);
    }
}

void PeerSocket::retryRelink(const QString &host, int port)
{
    if (host.isEmpty()) {
        if (!m_listener->isListening())
            m_listener->listen(m_listenedPort);
        return;
    }
    // A link that came up is settling its handshake; anything else is tried afresh, so an
    // attempt that hangs in a network that is still down does not delay the next one.
    if (State() == Connected)
        return;
    startSession()->dial(host, port);
}

void PeerSocket::relinkGaveUp()
{
    if (m_relinker->dials()) {
        if (State() == Connected)
            return; // a link is up, though with a peer that did not answer the greeting
        dropSession();
        m_connectFailed = true;
        emit RelinkStatus(LinkSentences::relinkGaveUp());
        return;
    }
    // The other side has stopped dialling by now; this side simply waits, for anyone.
    m_listener->setOnlyCopies(false);
    emit RelinkStatus(m_listener->isListening() ? StatusText::WaitingForConnection
                                                : StatusText::Disconnected);
}

void PeerSocket::dropSession()
{
    m_connectFailed = false;
    m_betweenCopies = false;
    m_peerSaidGoodbye = false;
    if (PeerSession *session = std::exchange(m_session, nullptr)) {
        session->disconnect(this);
        session->abort();
        session->deleteLater();
    }
}
