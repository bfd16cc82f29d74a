#include "PeerLink.h"

#include "GracefulCloser.h"
#include "LinkSentences.h"
#include "LocalAddresses.h"
#include "PeerListener.h"
#include "PeerSession.h"
#include "Relinker.h"
#include "wire/Greeting.h"
#include "wire/WireMessage.h"

#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

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
        m_overOtherPath = PeerSession::isOtherPath(*request);
        m_lastInvited = false;
        startSession()->accept(request);
    }
}

void PeerLink::audition(int requestId)
{
    QTcpSocket *request = m_listener->take(requestId);
    if (!request)
        return;
    if (m_candidates.size() >= MostAuditions) {
        const QString address = PeerSession::addressOf(*request);
        request->abort();
        request->deleteLater();
        emit arrivalRefused(address, LinkSentences::tooManyArrivals());
        return;
    }
    PeerSession *candidate = newSession();
    m_candidates.append(candidate);
    // Beside a seated link only a copy over TLS can take the seat; an older copy can only
    // take back a lost link that was unencrypted too. Any other is not even answered.
    if (!m_relinker->isActive() || !m_lastPeerFingerprint.isEmpty())
        candidate->acceptOnlyEncrypted();
    candidate->accept(request);
    QTimer::singleShot(AuditionMs, candidate, [this, candidate] {
        refuseCandidate(candidate, {}, LinkSentences::arrivalSilent(AuditionMs / 1000));
    });
}

void PeerLink::dial(const QString &host, int port, const QByteArray &fingerprint,
                    const QByteArray &ticket)
{
    m_relinker->stop();
    m_accepted = false;
    m_overOtherPath = false;
    m_dialledHost = host;
    m_dialledPort = port;
    m_lastInvited = !fingerprint.isEmpty();
    m_lastPeerFingerprint.clear();
    PeerSession *session = startSession();
    session->expectPeer(fingerprint, ticket);
    session->dial(host, port);
}

void PeerLink::dialOver(QTcpSocket *connected, const QByteArray &fingerprint,
                        const QByteArray &ticket)
{
    m_relinker->stop();
    m_accepted = false;
    m_overOtherPath = true;
    m_dialledHost.clear();
    m_dialledPort = 0;
    m_lastInvited = !fingerprint.isEmpty();
    m_lastPeerFingerprint.clear();
    PeerSession *session = startSession();
    session->expectPeer(fingerprint, ticket);
    session->dialConnected(connected);
}

void PeerLink::arriveOver(QTcpSocket *connected)
{
    m_listener->offerArrival(connected);
}

void PeerLink::setIdentity(const QSslCertificate &certificate, const QSslKey &key)
{
    m_tls = QSslConfiguration::defaultConfiguration();
    m_tls.setLocalCertificate(certificate);
    m_tls.setPrivateKey(key);
    m_tls.setProtocol(QSsl::TlsV1_3OrLater);
    // Both sides show a certificate; neither is checked against an authority (they are
    // self-signed), only against the fingerprint the players exchanged.
    m_tls.setPeerVerifyMode(QSslSocket::QueryPeer);
    m_tls.setCaCertificates({});
}

PeerLink::Protection PeerLink::protection() const
{
    return m_protection;
}

void PeerLink::setProtection(Protection protection)
{
    if (m_protection == protection)
        return;
    m_protection = protection;
    emit protectionChanged();
}

bool PeerLink::isListening() const
{
    return m_listener->isListening();
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
    for (PeerSession *candidate : std::exchange(m_candidates, {})) {
        candidate->disconnect(this);
        candidate->abort();
        candidate->deleteLater();
    }
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
    m_session = newSession();
    return m_session;
}

// A session's signals count for the seat only from the seated session; from one that is being
// auditioned they decide whether it takes the seat.
PeerSession *PeerLink::newSession()
{
    auto *session = new PeerSession(this);
    session->setKeepAliveTimes(m_keepAliveMs, m_silenceLimitMs);
    session->setTls(m_tls);
    connect(session, &PeerSession::messageArrived, this,
            [this, session](const WireMessage &message) {
                if (session != m_session) {
                    refuseCandidate(session, {}, LinkSentences::arrivalNotInvited());
                    return;
                }
                // A goodbye may carry the reason after "Disconnected".
                if (message.code == WireCode::Status &&
                    message.payload.startsWith(StatusText::Disconnected))
                    m_peerSaidGoodbye = true;
                if (!m_betweenCopies)
                    setProtection(Protection::Plain);
                emit messageReceived(message);
            });
    connect(session, &PeerSession::framingAgreed, this, [this, session] {
        if (session != m_session) {
            // An older copy, unencrypted, only takes back a link that was unencrypted too.
            if (m_relinker->isActive() && m_lastPeerFingerprint.isEmpty())
                takeSeat(session, false);
            else
                refuseCandidate(session, {}, LinkSentences::arrivalUnprotected());
            return;
        }
        m_betweenCopies = true;
        m_relinker->stop();
        m_lastPeerFingerprint = session->peerFingerprint();
        setProtection(!session->isEncrypted() ? Protection::Plain
                      : m_lastInvited         ? Protection::Invited
                                              : Protection::Encrypted);
        emit framingAgreed();
    });
    connect(session, &PeerSession::ticketPresented, this,
            [this, session](const QByteArray &ticket) { judgeTicket(session, ticket); });
    const auto ended = [this, session](Ending ending, const QString &description) {
        if (session == m_session)
            sessionEnded(ending, description);
        else if (ending == Ending::PeerMisbehaved)
            refuseCandidate(session, {}, description);
        else
            dropCandidate(session);
    };
    connect(session, &PeerSession::closedByPeer, this, [ended] { ended(Ending::PeerClosed, {}); });
    connect(session, &PeerSession::linkFailed, this,
            [ended](const QString &description) { ended(Ending::LinkFailed, description); });
    connect(session, &PeerSession::connectFailed, this,
            [ended](const QString &description) { ended(Ending::ConnectFailed, description); });
    connect(session, &PeerSession::peerMisbehaved, this,
            [ended](const QString &description) { ended(Ending::PeerMisbehaved, description); });
    return session;
}

// A copy that came back after a lost link is admitted by its certificate alone; any other is
// judged by the owner.
void PeerLink::judgeTicket(PeerSession *session, const QByteArray &ticket)
{
    SeatVerdict verdict;
    if (m_relinker->isActive() && !m_relinker->dials() && !m_lastPeerFingerprint.isEmpty()) {
        verdict.admitted = session->peerFingerprint() == m_lastPeerFingerprint;
        verdict.invited = m_lastInvited;
        verdict.goodbye = LinkSentences::seatKeptForOpponent();
        verdict.reason = LinkSentences::arrivalNotTheOpponent();
    } else if (m_judge) {
        verdict = m_judge({ticket, session->peerAddress(), session != m_session && isConnected(),
                           session->peerFingerprint(), session->overOtherPath()});
    } else {
        verdict.admitted = true;
    }
    if (verdict.admitted) {
        if (session == m_session) {
            m_lastInvited = verdict.invited;
            session->admit();
        } else {
            takeSeat(session, verdict.invited);
        }
        return;
    }
    if (session != m_session) {
        refuseCandidate(session, verdict.goodbye, verdict.reason);
        return;
    }
    // The requester that took the free seat at once: the seat is free again.
    emit arrivalRefused(session->peerAddress(), verdict.reason);
    session->refuse(verdict.goodbye, verdict.reason);
}

// The seated peer, if any, is let go with a goodbye, as when the player leaves.
void PeerLink::takeSeat(PeerSession *candidate, bool invited)
{
    m_candidates.removeOne(candidate);
    QString letGo;
    if (PeerSession *seated = m_session) {
        letGo = seated->peerAddress();
        if (isConnected())
            seated->send(WireMessage::build(WireCode::Status, StatusText::Disconnected));
        QTcpSocket *open = seated->takeForClosing();
        if (m_session == seated)
            dropSession();
        if (open)
            new GracefulCloser(open, this);
    }
    m_relinker->stop();
    m_listener->setOnlyCopies(false);
    m_session = candidate;
    m_accepted = true;
    m_lastInvited = invited;
    emit seatTaken(letGo);
    if (m_session != candidate)
        return;
    if (candidate->isEncrypted()) {
        candidate->admit();
        return;
    }
    // An older copy: its framing was agreed while it was heard out.
    m_betweenCopies = true;
    setProtection(Protection::Plain);
    emit framingAgreed();
}

void PeerLink::refuseCandidate(PeerSession *candidate, const QString &goodbye,
                               const QString &reason)
{
    if (!m_candidates.removeOne(candidate))
        return;
    const QString address = candidate->peerAddress();
    candidate->disconnect(this);
    if (goodbye.isEmpty())
        candidate->abort();
    else
        candidate->refuse(goodbye, reason);
    candidate->deleteLater();
    emit arrivalRefused(address, reason);
}

void PeerLink::dropCandidate(PeerSession *candidate)
{
    if (!m_candidates.removeOne(candidate))
        return;
    candidate->disconnect(this);
    candidate->abort();
    candidate->deleteLater();
}

void PeerLink::sessionEnded(Ending ending, const QString &description)
{
    const bool lost = m_betweenCopies && !m_peerSaidGoodbye && ending != Ending::PeerMisbehaved;
    dropSession();
    // A redial that failed: the next one follows on schedule.
    if (m_relinker->isActive())
        return;
    if (lost && m_overOtherPath) {
        emit failed(LinkSentences::otherPathLost());
        return;
    }
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
    // Over TLS only the same copy is taken back; it needs no ticket.
    PeerSession *session = startSession();
    session->expectPeer(m_lastPeerFingerprint, {});
    session->dial(host, port);
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
    setProtection(Protection::None);
    m_connectFailed = false;
    m_betweenCopies = false;
    m_peerSaidGoodbye = false;
    if (PeerSession *session = std::exchange(m_session, nullptr)) {
        session->disconnect(this);
        session->abort();
        session->deleteLater();
    }
}

#include "moc_PeerLink.cpp"
