#include "PeerSession.h"

#include "GracefulCloser.h"
#include "LinkSentences.h"
#include "NameLookup.h"
#include "TcpOptions.h"
#include "wire/Greeting.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QScopedValueRollback>
#include <QSslSocket>

#include <optional>

#include <unistd.h>

namespace {

// A zone's whole text, which the next text of that zone makes out of date. Life points are
// left out: each change of them is an event the players follow one by one.
bool replacesEarlier(const QString &message)
{
    return MessageTable::kindOf(message.left(2)) == MessageKind::ZoneText;
}

constexpr auto TicketEncoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

PeerSession::PeerSession(QObject *parent)
    : QObject(parent)
{
    m_greetingWait.setSingleShot(true);
    m_greetingWait.setInterval(Greeting::WaitMs);
    connect(&m_greetingWait, &QTimer::timeout, this, [this] {
        // Expecting a certain copy, this side never settles on sending in the clear.
        if (m_expectedPeer.isEmpty())
            settleOnPlainSending();
        else
            failSecuring(LinkSentences::olderProgram());
    });
    m_secureWait.setSingleShot(true);
    m_secureWait.setInterval(SecureWithinMs);
    connect(&m_secureWait, &QTimer::timeout, this,
            [this] { failSecuring(LinkSentences::notProtected()); });
    m_connectWait.setSingleShot(true);
    m_connectWait.setInterval(ConnectTimeoutMs);
    connect(&m_connectWait, &QTimer::timeout, this,
            [this] { failConnecting(QAbstractSocket::SocketTimeoutError); });
    m_keepAlive.setSingleShot(true);
    m_keepAlive.setInterval(KeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &PeerSession::sendKeepAlive);
    m_drain.setSingleShot(true);
    m_drain.setInterval(DrainCheckMs);
    connect(&m_drain, &QTimer::timeout, this, &PeerSession::sendQueued);
    m_silence.setSingleShot(true);
    m_silence.setInterval(SilenceLimitMs);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { failLink(LinkSentences::silence((m_silence.interval() + 999) / 1000)); });
}

void PeerSession::setKeepAliveTimes(int keepAliveMs, int silenceLimitMs)
{
    m_keepAlive.setInterval(keepAliveMs);
    m_silence.setInterval(silenceLimitMs);
}

void PeerSession::setTls(const QSslConfiguration &configuration)
{
    m_tls = configuration;
    m_hasTls = !configuration.localCertificate().isNull();
}

void PeerSession::expectPeer(const QByteArray &fingerprint, const QByteArray &ticket)
{
    m_expectedPeer = fingerprint;
    m_ticket = ticket;
}

int PeerSession::greetingVersion() const
{
    return m_hasTls ? Greeting::Version : Greeting::EncryptsFromVersion - 1;
}

QString PeerSession::peerAddress() const
{
    return m_peerAddress;
}

namespace {

constexpr char OtherPathAddress[] = "skarnetOtherPathAddress";

} // namespace

void PeerSession::nameOtherPath(QAbstractSocket &socket, const QString &address)
{
    socket.setProperty(OtherPathAddress, address);
}

bool PeerSession::isOtherPath(const QAbstractSocket &socket)
{
    return socket.property(OtherPathAddress).isValid();
}

QString PeerSession::addressOf(const QAbstractSocket &socket)
{
    if (isOtherPath(socket))
        return socket.property(OtherPathAddress).toString();
    const QHostAddress address = socket.peerAddress();
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

void PeerSession::dial(const QString &host, int port)
{
    auto *socket = new QTcpSocket(this);
    adopt(socket, false);
    m_remoteHost = host;
    connect(socket, &QTcpSocket::connected, this, &PeerSession::onConnected);
    m_connectWait.start();
    if (!NameLookup::replacement() || !QHostAddress(host).isNull()) {
        socket->connectToHost(host, quint16(port));
        return;
    }
    // A name looked up in a test's table, answered from the event loop as a real lookup is.
    m_lookingUp = true;
    const QList<QHostAddress> addresses = NameLookup::replacement()(host);
    QMetaObject::invokeMethod(
        socket,
        [this, socket, addresses, port] {
            if (m_socket != socket)
                return;
            m_lookingUp = false;
            if (addresses.isEmpty())
                failConnecting(QAbstractSocket::HostNotFoundError);
            else
                socket->connectToHost(addresses.first(), quint16(port));
        },
        Qt::QueuedConnection);
}

void PeerSession::dialConnected(QTcpSocket *connected)
{
    connected->setParent(this);
    adopt(connected, false);
    m_remoteHost = addressOf(*connected);
    onConnected();
}

void PeerSession::accept(QTcpSocket *request)
{
    adopt(request, true);
    TcpOptions::tuneForLiveLink(*request);
    // The owner sends its first message right after accepting; what the requester has already
    // sent is read afterwards, so our replies follow that message.
    QMetaObject::invokeMethod(this, &PeerSession::readIncoming, Qt::QueuedConnection);
}

void PeerSession::adopt(QTcpSocket *socket, bool accepted)
{
    m_acceptedSide = accepted;
    m_linkWasUp = accepted;
    if (accepted)
        m_peerAddress = addressOf(*socket);
    watch(socket);
}

void PeerSession::watch(QTcpSocket *socket)
{
    m_socket = socket;
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &PeerSession::readIncoming);
    connect(socket, &QTcpSocket::bytesWritten, this, &PeerSession::sendQueued);
    connect(socket, &QTcpSocket::disconnected, this, &PeerSession::onPeerClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerSession::onSocketError);
    if (auto *tls = qobject_cast<QSslSocket *>(socket))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &PeerSession::sendQueued);
}

QSslSocket *PeerSession::tlsSocket() const
{
    return qobject_cast<QSslSocket *>(m_socket);
}

QAbstractSocket::SocketState PeerSession::socketState() const
{
    if (m_lookingUp)
        return QAbstractSocket::HostLookupState;
    return m_socket ? m_socket->state() : QAbstractSocket::UnconnectedState;
}

void PeerSession::onConnected()
{
    m_connectWait.stop();
    m_peerAddress = addressOf(*m_socket);
    // The options only take effect once connected.
    TcpOptions::tuneForLiveLink(*m_socket);
    m_linkWasUp = true;
    m_awaitingGreeting = true;
    // Only a copy finds a path over UDP, so the peer there will greet; a greeting lost on a
    // lossy path is sent again later than the wait for a plain peer allows.
    m_greetingWait.start(isOtherPath(*m_socket) ? SecureWithinMs : Greeting::WaitMs);
    writeBytes(WireMessage::framedBytes(Greeting::message(greetingVersion())));
}

bool PeerSession::send(const QString &message)
{
    if (m_awaitingGreeting || m_securing) {
        m_heldBack.append(message);
        return true;
    }
    // The accepting side's first message goes out before it knows who asked; a copy that
    // switches to TLS drops what it read in the clear, so that message is said again inside.
    if (m_acceptedSide && m_hasTls && !m_saidAnything && m_peerVersion == 0)
        m_sayAgainInside = message;
    m_saidAnything = true;
    queue(message);
    return sendQueued();
}

void PeerSession::queue(const QString &message)
{
    if (replacesEarlier(message)) {
        const QString code = message.left(2);
        for (QString &waiting : m_outbox) {
            if (waiting.startsWith(code)) {
                waiting = message;
                return;
            }
        }
    }
    m_outbox.append(message);
}

// Hands the waiting messages to the system for as long as the network keeps up with them.
// False when the link failed on the way.
bool PeerSession::sendQueued()
{
    while (!m_outbox.isEmpty() && networkKeepsUp()) {
        if (!writeMessage(m_outbox.takeFirst()))
            return false;
    }
    if (!m_outbox.isEmpty() && m_socket)
        m_drain.start();
    return m_socket != nullptr;
}

bool PeerSession::networkKeepsUp() const
{
    return m_socket && bytesWaiting() < SendAheadBytes;
}

qint64 PeerSession::bytesWaiting() const
{
    const QSslSocket *tls = tlsSocket();
    return m_socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0) +
           TcpOptions::unsentBytes(*m_socket);
}

bool PeerSession::writeMessage(const QString &message)
{
    return writeBytes(m_sendFramed ? WireMessage::framedBytes(message)
                                   : WireMessage::plainBytes(message));
}

bool PeerSession::writeBytes(const QByteArray &bytes)
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return false;
    if (socket->write(bytes) == bytes.size()) {
        // Hand the bytes to the system now rather than on the next pass of the event loop,
        // which would first repaint the window the player just typed into.
        socket->flush();
        // A peer that reset the link makes the flush fail, and the session ends inside it.
        if (m_socket != socket)
            return false;
        if (m_sendFramed)
            m_keepAlive.start();
        return true;
    }
    failLink(LinkSentences::sendFailed());
    return false;
}

void PeerSession::readIncoming()
{
    // A socket the system already closed has nothing left to read. A QSslSocket still reads
    // as open while it reports that the connection under it closed, so look at what waits.
    if (!m_socket || !m_socket->isOpen() || m_socket->bytesAvailable() <= 0)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    QStringList texts;
    const bool withinLimits = m_reader.feed(bytes, texts);
    // A peer that frames its messages also sends keep-alives, so its silence means trouble.
    if (m_reader.isFramed())
        m_silence.start();
    const QTcpSocket *reading = m_socket;
    std::optional<QByteArray> ticket;
    for (const QString &text : std::as_const(texts)) {
        WireMessage message = WireMessage::parse(text);
        if (m_awaitingTicket) {
            // Inside TLS the dialling copy speaks first, and says nothing before its ticket.
            m_awaitingTicket = false;
            if (message.code != WireCode::Ticket) {
                failSecuring(LinkSentences::noTicket());
                return;
            }
            ticket = QByteArray::fromBase64(message.payload.toLatin1(), TicketEncoding);
        } else if (Greeting::isGreeting(message)) {
            if (m_peerVersion != 0)
                continue; // one greeting a link
            m_peerVersion = Greeting::versionOf(message.payload);
            onGreeting();
            // What came with the greeting is not carried into the encrypted link.
            if (m_securing || m_socket != reading)
                return;
        } else if (message.code != WireCode::Ticket)
            m_inbox.enqueue(std::move(message));
    }
    if (ticket) {
        emit ticketPresented(*ticket);
        if (m_socket != reading)
            return;
    }
    deliverInbox();
    if (!withinLimits && m_socket == reading)
        refuseOversizedFrame();
}

// A receiver that runs an event loop of its own (a modal box) may bring more messages in
// while it handles one; those join the queue and are delivered after it, in order.
void PeerSession::deliverInbox()
{
    // A dialling side that expects a certain copy believes nothing read before the switch.
    if (m_delivering || m_securing || (!m_expectedPeer.isEmpty() && !m_encrypted))
        return;
    const QScopedValueRollback delivering(m_delivering, true);
    while (!m_inbox.isEmpty())
        emit messageArrived(m_inbox.dequeue());
}

void PeerSession::onGreeting()
{
    if (m_sendFramed || m_securing)
        return;
    m_greetingWait.stop();
    const bool encrypt = m_hasTls && m_peerVersion >= Greeting::EncryptsFromVersion;
    if (!encrypt && !m_expectedPeer.isEmpty()) {
        failSecuring(LinkSentences::olderProgram());
        return;
    }
    if (!encrypt && m_onlyEncrypted) {
        failSecuring(LinkSentences::arrivalUnprotected());
        return;
    }
    m_awaitingGreeting = false;
    if (encrypt) {
        // The accepting side answers the greeting in the clear, then both switch.
        if (m_acceptedSide &&
            !writeBytes(QByteArray(1, '\0') +
                        WireMessage::framedBytes(Greeting::message(greetingVersion()))))
            return;
        startEncryption();
        return;
    }
    // The NUL ends any plain message we sent before; everything after it is framed.
    if (!writeBytes(QByteArray(1, '\0')))
        return;
    m_sendFramed = true;
    m_keepAlive.start();
    if (m_acceptedSide)
        writeBytes(WireMessage::framedBytes(Greeting::message(greetingVersion())));
    settleOnPlainSending();
    if (m_sendFramed)
        emit framingAgreed();
}

void PeerSession::startEncryption()
{
    m_securing = true;
    // Inside TLS every message is framed; nothing read before the switch is kept.
    m_reader.reset();
    QStringList none;
    m_reader.feed(QByteArray(1, '\0'), none);
    m_inbox.clear();
    // The connection moves to a TLS socket of its own; the plain socket goes with whatever
    // it still held. Closing one of the two descriptors leaves the connection open.
    // What was written before the switch (the accepting side's greeting) must reach the
    // system first; it is a few bytes on a fresh connection.
    if (m_socket->bytesToWrite() > 0)
        m_socket->waitForBytesWritten(Greeting::WaitMs);
    const int descriptor = ::dup(int(m_socket->socketDescriptor()));
    QTcpSocket *plain = std::exchange(m_socket, nullptr);
    plain->disconnect(this);
    plain->abort();
    plain->deleteLater();
    auto *socket = new QSslSocket(this);
    if (isOtherPath(*plain))
        nameOtherPath(*socket, addressOf(*plain));
    if (descriptor < 0 || !socket->setSocketDescriptor(descriptor)) {
        if (descriptor >= 0)
            ::close(descriptor);
        m_socket = socket;
        failSecuring(LinkSentences::notProtected());
        return;
    }
    watch(socket);
    socket->setSslConfiguration(m_tls);
    connect(socket, &QSslSocket::encrypted, this, &PeerSession::onEncrypted);
    // The certificates are self-signed: who the peer is comes from its fingerprint, which the
    // dialling side checks against the invitation and the owner judges on the accepting side.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->ignoreSslErrors(); });
    m_secureWait.start();
    if (m_acceptedSide)
        socket->startServerEncryption();
    else
        socket->startClientEncryption();
}

void PeerSession::onEncrypted()
{
    m_encrypted = true;
    m_peerFingerprint = tlsSocket()->peerCertificate().digest(QCryptographicHash::Sha256);
    if (m_acceptedSide) {
        m_awaitingTicket = true;
        readIncoming();
        return;
    }
    if (!m_expectedPeer.isEmpty() &&
        (m_peerFingerprint.isEmpty() || !m_peerFingerprint.startsWith(m_expectedPeer))) {
        failSecuring(LinkSentences::notTheInvitingProgram());
        return;
    }
    m_secureWait.stop();
    m_securing = false;
    m_sendFramed = true;
    m_heldBack.prepend(WireMessage::build(WireCode::Ticket,
                                          QString::fromLatin1(m_ticket.toBase64(TicketEncoding))));
    agreeFraming();
}

void PeerSession::admit()
{
    if (!m_securing || !m_encrypted || !m_acceptedSide || !m_socket)
        return;
    m_secureWait.stop();
    m_securing = false;
    m_sendFramed = true;
    m_keepAlive.start();
    if (!m_sayAgainInside.isEmpty())
        m_heldBack.prepend(std::exchange(m_sayAgainInside, {}));
    agreeFraming();
}

// Writing over TLS also reads what the peer sent meanwhile; that is delivered only once the
// owner knows the link is up, so that it is never taken for a peer that cannot encrypt.
void PeerSession::agreeFraming()
{
    {
        const QScopedValueRollback holding(m_delivering, true);
        settleOnPlainSending();
        if (!m_socket)
            return;
        emit framingAgreed();
    }
    deliverInbox();
}

void PeerSession::refuse(const QString &goodbye, const QString &reason)
{
    if (!m_socket)
        return;
    m_sendFramed = m_encrypted || m_sendFramed;
    endWithGoodbye(goodbye, reason);
}

void PeerSession::failSecuring(const QString &description)
{
    if (!m_socket)
        return;
    abort();
    emit peerMisbehaved(description);
}

void PeerSession::settleOnPlainSending()
{
    m_awaitingGreeting = false;
    // Each held message goes out as it was sent: the wait was the handshake's, not the network's.
    m_outbox.append(std::exchange(m_heldBack, {}));
    sendQueued();
}

void PeerSession::sendKeepAlive()
{
    if (m_sendFramed && m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        writeBytes(QByteArray(1, '\0'));
}

void PeerSession::onSocketError()
{
    if (!m_socket || sender() != m_socket)
        return;
    if (m_securing) {
        failSecuring(LinkSentences::notProtected());
        return;
    }
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // The peer closing or resetting the link is followed by `disconnected`; anything
        // else (keep-alive probes or data left unanswered) means the way to it was lost.
        const auto error = m_socket->error();
        if (error == QAbstractSocket::SocketTimeoutError && m_waitingInPlace)
            return;
        if (error != QAbstractSocket::RemoteHostClosedError)
            failLink(LinkSentences::connectionLost());
        return;
    }
    if (m_linkWasUp) {
        onPeerClosed();
        return;
    }
    failConnecting(m_socket->error());
}

void PeerSession::failConnecting(QAbstractSocket::SocketError error)
{
    if (!m_socket || m_linkWasUp)
        return;
    const QString description = LinkSentences::connectFailure(m_remoteHost, error);
    abort();
    emit connectFailed(description);
}

void PeerSession::onPeerClosed()
{
    if (!m_socket)
        return;
    readIncoming();
    if (!m_socket)
        return;
    abort();
    emit closedByPeer();
}

// The peer is told why before the link ends, so that it neither takes the end for a lost link
// nor sends the same message again; the socket is closed gracefully so that it gets to read
// that.
void PeerSession::refuseOversizedFrame()
{
    endWithGoodbye(LinkSentences::oversizedRefused(), LinkSentences::frameTooLarge());
}

void PeerSession::endWithGoodbye(const QString &goodbye, const QString &reason)
{
    writeMessage(WireMessage::build(WireCode::Status, goodbye));
    if (!m_socket)
        return;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->setParent(nullptr);
    abort();
    new GracefulCloser(socket, parent());
    emit peerMisbehaved(reason);
}

void PeerSession::failLink(const QString &description, bool peerMisbehaved)
{
    if (!m_socket)
        return;
    abort();
    if (peerMisbehaved)
        emit this->peerMisbehaved(description);
    else
        emit linkFailed(description);
}

QTcpSocket *PeerSession::takeForClosing()
{
    settleHandshake();
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        abort();
        return nullptr;
    }
    // Nothing waiting is dropped: it goes to the system ahead of the close.
    while (!m_outbox.isEmpty()) {
        if (!writeMessage(m_outbox.takeFirst()))
            return nullptr;
    }
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    abort();
    return socket;
}

void PeerSession::settleHandshake()
{
    if (!m_awaitingGreeting)
        return;
    const QDeadlineTimer deadline(m_greetingWait.remainingTime());
    // Running out of this wait is reported as a socket error; it says nothing about the link.
    const QScopedValueRollback waiting(m_waitingInPlace, true);
    while (m_awaitingGreeting && m_socket && m_socket->state() == QAbstractSocket::ConnectedState &&
           !deadline.hasExpired()) {
        if (!m_socket->waitForReadyRead(int(deadline.remainingTime())))
            break;
        readIncoming();
    }
    if (m_awaitingGreeting && m_socket) {
        if (m_expectedPeer.isEmpty())
            settleOnPlainSending();
        else
            abort(); // nothing goes out in the clear to a copy that was to show a certificate
    }
}

void PeerSession::abort()
{
    m_connectWait.stop();
    m_greetingWait.stop();
    m_secureWait.stop();
    m_securing = false;
    m_awaitingTicket = false;
    m_keepAlive.stop();
    m_silence.stop();
    m_awaitingGreeting = false;
    m_lookingUp = false;
    m_sendFramed = false;
    m_heldBack.clear();
    m_outbox.clear();
    m_drain.stop();
    m_reader.reset();
    m_inbox.clear();
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

#include "moc_PeerSession.cpp"
