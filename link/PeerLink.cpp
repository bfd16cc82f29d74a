#include "PeerLink.h"

#include "GracefulCloser.h"
#include "LinkSentences.h"
#include "LocalAddresses.h"
#include "PeerListener.h"
#include "PeerSession.h"
#include "Relinker.h"
#include "wire/Greeting.h"
#include "wire/WireMessage.h"

#include <QTcpSocket>

namespace {

constexpr int ShutdownWaitMs = 2000;

} // namespace

PeerLink::PeerLink(QObject *parent)
    : QObject(parent)
    , m_listener(new PeerListener(this))
    , m_relinker(new Relinker(this))
    , m_keepAliveMs(PeerSession::KeepAliveMs)
    , m_silenceLimitMs(PeerSession::SilenceLimitMs)
{
    connect(m_listener, &PeerListener::requested, this, &PeerLink::connectionRequested);
    connect(m_relinker, &Relinker::retry, this, &PeerLink::retryRelink);
    connect(m_relinker, &Relinker::gaveUp, this, &PeerLink::relinkGaveUp);
}

PeerLink::~PeerLink()
{
    close();
    for (GracefulCloser *closer : findChildren<GracefulCloser *>(Qt::FindDirectChildrenOnly))
        closer->finishNow(ShutdownWaitMs);
}

int PeerLink::localPort() const
{
    return m_listener->isListening() ? m_listener->port() : m_localPort;
}

void PeerLink::setLocalPort(int port)
{
    m_localPort = port;
}

QString PeerLink::localAddress() const
{
    const QStringList addresses = LocalAddresses::all();
    return addresses.isEmpty() ? QStringLiteral("127.0.0.1") : addresses.first();
}

PeerLink::State PeerLink::state() const
{
    if (m_session) {
        switch (m_session->socketState()) {
        case QAbstractSocket::ConnectedState:
            return State::Connected;
        case QAbstractSocket::HostLookupState:
        case QAbstractSocket::ConnectingState:
            return State::Connecting;
        default:
            break;
        }
    }
    if (m_listener->isListening())
        return State::Listening;
    return m_connectFailed ? State::Failed : State::Closed;
}

bool PeerLink::listen()
{
    m_relinker->stop();
    m_listener->setOnlyCopies(false);
    if (!m_listener->listen(m_localPort))
        return false;
    m_listenedPort = m_listener->port();
    return true;
}

QString PeerLink::listenError() const
{
    return m_listener->error();
}

void PeerLink::accept(int requestId)
{
    if (QTcpSocket *request = m_listener->take(requestId)) {
        m_relinker->stop();
        m_accepted = true;
        startSession()->accept(request);
    }
}

void PeerLink::dial(const QString &host, int port)
{
    m_relinker->stop();
    m_accepted = false;
    m_dialledHost = host;
    m_dialledPort = port;
    startSession()->dial(host, port);
}

bool PeerLink::send(const QString &message)
{
    if (!isConnected())
        return false;
    return m_session->send(message);
}

void PeerLink::close()
{
    // Whether the peer is a copy is known once the handshake is settled; settling may end the
    // session from the other side meanwhile.
    if (m_session)
        m_session->settleHandshake();
    endLink(sendsFrames());
}

void PeerLink::sayGoodbyeAndClose()
{
    endLink(true);
}

void PeerLink::endLink(bool goodbye)
{
    if (goodbye && isConnected())
        send(WireMessage::build(WireCode::Status, StatusText::Disconnected));
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
        emit relinkStatusChanged(StatusText::Disconnected);
    }
}

bool PeerLink::sendsFrames() const
{
    return m_session && m_session->sendsFrames();
}

bool PeerLink::readsFrames() const
{
    return m_session && m_session->readsFrames();
}

bool PeerLink::drawsTogether() const
{
    return isConnected() && sendsFrames() && readsFrames() &&
           m_session->peerVersion() >= Greeting::DrawsFromVersion;
}

void PeerLink::setKeepAliveTimes(int keepAliveMs, int silenceLimitMs)
{
    m_keepAliveMs = keepAliveMs;
    m_silenceLimitMs = silenceLimitMs;
    if (m_session)
        m_session->setKeepAliveTimes(keepAliveMs, silenceLimitMs);
}

bool PeerLink::isRelinking() const
{
    return m_relinker->isActive();
}

void PeerLink::setRelinkTimes(int retryMs, int windowMs)
{
    m_relinker->setTimes(retryMs, windowMs);
}

// Drops whatever link there was (and any earlier failure) and starts a new one.
PeerSession *PeerLink::startSession()
{
    dropSession();
    m_session = new PeerSession(this);
    m_session->setKeepAliveTimes(m_keepAliveMs, m_silenceLimitMs);
    connect(m_session, &PeerSession::messageArrived, this, [this](const WireMessage &message) {
        // A goodbye may carry the reason after "Disconnected".
        if (message.code == WireCode::Status &&
            message.payload.startsWith(StatusText::Disconnected))
            m_peerSaidGoodbye = true;
        emit messageReceived(message);
    });
    connect(m_session, &PeerSession::framingAgreed, this, [this] {
        m_betweenCopies = true;
        m_relinker->stop();
        emit framingAgreed();
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

void PeerLink::sessionEnded(Ending ending, const QString &description)
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
        emit closedByPeer();
        break;
    case Ending::ConnectFailed:
        m_connectFailed = true;
        emit failed(description);
        break;
    case Ending::LinkFailed:
    case Ending::PeerMisbehaved:
        emit failed(description);
        break;
    }
}

// The side that dialled dials the same address again; the side that accepted listens again
// at once, on the port the peer dialled. Its old session is gone by now, so nothing stands
// between the returning copy and the new link.
void PeerLink::startRelinking()
{
    emit relinkStatusChanged(StatusText::Reconnecting);
    if (m_accepted) {
        m_listener->setOnlyCopies(true);
        m_relinker->start(QString(), 0);
        retryRelink(QString(), 0);
    } else {
        m_relinker->start(m_dialledHost, m_dialledPort);
    }
}

void PeerLink::retryRelink(const QString &host, int port)
{
    if (host.isEmpty()) {
        if (!m_listener->isListening())
            m_listener->listen(m_listenedPort);
        return;
    }
    // A link that came up is settling its handshake; anything else is tried afresh, so an
    // attempt that hangs in a network that is still down does not delay the next one.
    if (isConnected())
        return;
    startSession()->dial(host, port);
}

void PeerLink::relinkGaveUp()
{
    if (m_relinker->dials()) {
        if (isConnected())
            return; // a link is up, though with a peer that did not answer the greeting
        dropSession();
        m_connectFailed = true;
        emit relinkStatusChanged(LinkSentences::relinkGaveUp());
        return;
    }
    // The other side has stopped dialling by now; this side simply waits, for anyone.
    m_listener->setOnlyCopies(false);
    emit relinkStatusChanged(m_listener->isListening() ? StatusText::WaitingForConnection
                                                       : StatusText::Disconnected);
}

void PeerLink::dropSession()
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
