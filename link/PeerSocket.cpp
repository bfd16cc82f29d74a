#include "PeerSocket.h"

#include "GracefulCloser.h"
#include "Windows1252.h"
#include "WireMessage.h"

#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QScopedValueRollback>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

const QString PeerSocket::GreetingTag = QStringLiteral("skarnet/1");

namespace {

constexpr int ShutdownWaitMs = 2000;

// TCP keep-alive toward any peer: the first probe after this much idle time, then one every
// interval, and the link is given up after this many unanswered probes (about 12 s in all).
// Data that stays unacknowledged for the user timeout also ends the link.
constexpr int TcpKeepIdleSeconds = 4;
constexpr int TcpKeepIntervalSeconds = 2;
constexpr int TcpKeepProbes = 4;
constexpr int TcpUserTimeoutMs = 15000;

QString describeListenFailure(QAbstractSocket::SocketError error, int port)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QObject::tr("the port is in use");
    case QAbstractSocket::SocketAccessError:
        return port < 1024 ? QObject::tr("this user may not open ports below 1024")
                           : QObject::tr("permission denied");
    default:
        return QObject::tr("the system refused it");
    }
}

QString describeConnectFailure(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QObject::tr("nobody is listening there");
    case QAbstractSocket::HostNotFoundError:
        return QObject::tr("the address was not found");
    case QAbstractSocket::SocketTimeoutError:
        return QObject::tr("no answer from that address");
    default:
        return QObject::tr("the address cannot be reached");
    }
}

bool isGreeting(const QString &message)
{
    const WireMessage parsed = WireMessage::parse(message);
    return parsed.code == WireCode::Greeting &&
           parsed.payload.startsWith(QStringLiteral("skarnet/"));
}

QByteArray framedBytes(const QString &message)
{
    QByteArray bytes = message.toUtf8();
    bytes.replace('\0', QByteArrayView());
    bytes.append('\0');
    return bytes;
}

QByteArray plainBytes(const QString &message)
{
    QByteArray bytes = Windows1252::encode(message);
    bytes.replace('\0', QByteArrayView());
    return bytes;
}

} // namespace

PeerSocket::PeerSocket(QObject *parent)
    : QObject(parent)
{
    m_greetingWait.setSingleShot(true);
    m_greetingWait.setInterval(GreetingWaitMs);
    connect(&m_greetingWait, &QTimer::timeout, this, &PeerSocket::settleOnPlainSending);
    m_connectWait.setSingleShot(true);
    m_connectWait.setInterval(ConnectTimeoutMs);
    connect(&m_connectWait, &QTimer::timeout, this,
            [this] { failConnecting(QAbstractSocket::SocketTimeoutError); });
    m_keepAlive.setSingleShot(true);
    m_keepAlive.setInterval(KeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &PeerSocket::sendKeepAlive);
    m_silence.setSingleShot(true);
    m_silence.setInterval(SilenceLimitMs);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        failLink(tr("Disconnected: nothing heard from the opponent for %n seconds", nullptr,
                    (m_silence.interval() + 999) / 1000));
    });
}

void PeerSocket::setKeepAliveTimes(int keepAliveMs, int silenceLimitMs)
{
    m_keepAlive.setInterval(keepAliveMs);
    m_silence.setInterval(silenceLimitMs);
}

PeerSocket::~PeerSocket()
{
    Close();
    for (GracefulCloser *closer : findChildren<GracefulCloser *>(Qt::FindDirectChildrenOnly))
        closer->finishNow(ShutdownWaitMs);
}

int PeerSocket::LocalPort() const
{
    return m_server ? int(m_server->serverPort()) : m_localPort;
}

void PeerSocket::SetLocalPort(int port)
{
    m_localPort = port;
}

QStringList PeerSocket::LocalAddresses()
{
    return rankAddresses(QNetworkInterface::allAddresses());
}

QStringList PeerSocket::rankAddresses(const QList<QHostAddress> &addresses)
{
    // Most home and office networks still reach each other over IPv4; a link-local address
    // works only on the same network segment (and, for IPv6, needs the name of the other
    // player's own interface), so it is offered only when there is nothing else.
    const auto rank = [](const QHostAddress &address) {
        if (address.isLinkLocal())
            return 3;
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return 0;
        if (address.isUniqueLocalUnicast() || address.isSiteLocal())
            return 2;
        return 1;
    };
    QList<QHostAddress> shown;
    for (const QHostAddress &address : addresses) {
        if (!address.isNull() && !address.isLoopback() && !address.isMulticast() &&
            !shown.contains(address))
            shown.append(address);
    }
    std::stable_sort(shown.begin(), shown.end(), [&](const QHostAddress &a, const QHostAddress &b) {
        return rank(a) < rank(b);
    });
    QStringList texts;
    for (const QHostAddress &address : std::as_const(shown))
        texts.append(address.toString());
    return texts;
}

QString PeerSocket::LocalIP() const
{
    const QStringList addresses = LocalAddresses();
    return addresses.isEmpty() ? QStringLiteral("127.0.0.1") : addresses.first();
}

PeerSocket::LinkState PeerSocket::State() const
{
    if (m_socket) {
        switch (m_socket->state()) {
        case QAbstractSocket::ConnectedState:
            return Connected;
        case QAbstractSocket::HostLookupState:
        case QAbstractSocket::ConnectingState:
            return Connecting;
        default:
            break;
        }
    }
    if (m_server)
        return Listening;
    return m_connectFailed ? Failed : Closed;
}

bool PeerSocket::Listen()
{
    closeServer();
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &PeerSocket::takeConnectionRequests);
    // Any is one socket for IPv6 and IPv4 peers alike (IPv4 ones arrive as mapped addresses),
    // or IPv4 alone on a machine without IPv6.
    if (m_server->listen(QHostAddress::Any, quint16(m_localPort))) {
        m_listenError.clear();
        return true;
    }
    m_listenError = describeListenFailure(m_server->serverError(), m_localPort);
    closeServer();
    return false;
}

void PeerSocket::takeConnectionRequests()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *request = m_server->nextPendingConnection();
        request->setParent(this);
        const int id = ++m_lastRequestId;
        m_requests.insert(id, request);
        emit ConnectionRequest(id);
    }
    // A request the owner did not accept while handling its event is refused.
    for (QTcpSocket *request : std::as_const(m_requests)) {
        request->abort();
        request->deleteLater();
    }
    m_requests.clear();
}

void PeerSocket::Accept(int requestId)
{
    QTcpSocket *request = m_requests.take(requestId);
    if (!request)
        return;
    adopt(request, true);
    // The owner's handler sends its greeting right after accepting; what the requester has
    // already sent is read afterwards, so our replies follow that greeting.
    QMetaObject::invokeMethod(this, &PeerSocket::readIncoming, Qt::QueuedConnection);
}

void PeerSocket::Connect(const QString &host, int port)
{
    auto *socket = new QTcpSocket(this);
    adopt(socket, false);
    m_remoteHost = host;
    connect(socket, &QTcpSocket::connected, this, &PeerSocket::onConnected);
    m_connectWait.start();
    socket->connectToHost(host, quint16(port));
}

// Drops whatever connection there was (and any earlier failure) and takes `socket` on.
void PeerSocket::adopt(QTcpSocket *socket, bool accepted)
{
    dropSocket();
    m_socket = socket;
    m_acceptedSide = accepted;
    connect(socket, &QTcpSocket::readyRead, this, &PeerSocket::readIncoming);
    connect(socket, &QTcpSocket::disconnected, this, &PeerSocket::onPeerClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, &PeerSocket::onSocketError);
    m_linkWasUp = accepted;
    if (accepted) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        probeWithTcpKeepAlive();
    }
}

void PeerSocket::probeWithTcpKeepAlive()
{
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int descriptor = int(m_socket->socketDescriptor());
    const auto set = [descriptor](int level, int option, int value) {
        ::setsockopt(descriptor, level, option, &value, sizeof value);
    };
    set(IPPROTO_TCP, TCP_KEEPIDLE, TcpKeepIdleSeconds);
    set(IPPROTO_TCP, TCP_KEEPINTVL, TcpKeepIntervalSeconds);
    set(IPPROTO_TCP, TCP_KEEPCNT, TcpKeepProbes);
    set(IPPROTO_TCP, TCP_USER_TIMEOUT, TcpUserTimeoutMs);
#endif
}

void PeerSocket::onConnected()
{
    // Only takes effect once connected: each small message must leave at once instead of
    // waiting for the acknowledgement of the previous one.
    m_connectWait.stop();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    probeWithTcpKeepAlive();
    m_linkWasUp = true;
    m_awaitingGreeting = true;
    m_greetingWait.start();
    writeBytes(framedBytes(WireMessage::build(WireCode::Greeting, GreetingTag)));
}

bool PeerSocket::SendData(const QString &message)
{
    if (State() != Connected)
        return false;
    if (m_awaitingGreeting) {
        m_heldBack.append(message);
        return true;
    }
    return writeMessage(message);
}

bool PeerSocket::writeMessage(const QString &message)
{
    return writeBytes(m_sendFramed ? framedBytes(message) : plainBytes(message));
}

bool PeerSocket::writeBytes(const QByteArray &bytes)
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return false;
    if (socket->write(bytes) == bytes.size()) {
        // Hand the bytes to the system now rather than on the next pass of the event loop,
        // which would first repaint the window the player just typed into.
        socket->flush();
        // A peer that reset the link makes the flush fail, and the link ends inside it.
        if (m_socket != socket)
            return false;
        if (m_sendFramed)
            m_keepAlive.start();
        return true;
    }
    failLink(tr("Disconnected: a message could not be sent"));
    return false;
}

bool PeerSocket::GetData(QString &message)
{
    if (m_inbox.isEmpty())
        return false;
    message = m_inbox.dequeue();
    return true;
}

void PeerSocket::readIncoming()
{
    // A socket the system already closed has nothing left to read.
    if (!m_socket || !m_socket->isOpen())
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    QStringList messages;
    const bool withinLimits = m_reader.feed(bytes, messages);
    // A peer that frames its messages also sends keep-alives, so its silence means trouble.
    if (m_reader.isFramed())
        m_silence.start();
    const QTcpSocket *reading = m_socket;
    for (const QString &message : std::as_const(messages)) {
        if (isGreeting(message))
            onGreeting();
        else
            m_inbox.enqueue(message);
    }
    if (!m_inbox.isEmpty())
        emit DataArrival(bytes.size());
    if (!withinLimits && m_socket == reading)
        failLink(tr("Disconnected: the opponent sent a message over 1 MiB"));
}

void PeerSocket::onGreeting()
{
    if (m_sendFramed)
        return;
    m_greetingWait.stop();
    m_awaitingGreeting = false;
    // The NUL ends any plain message we sent before; everything after it is framed.
    if (!writeBytes(QByteArray(1, '\0')))
        return;
    m_sendFramed = true;
    m_keepAlive.start();
    if (m_acceptedSide)
        writeBytes(framedBytes(WireMessage::build(WireCode::Greeting, GreetingTag)));
    settleOnPlainSending();
    if (m_sendFramed)
        emit FramingAgreed();
}

void PeerSocket::settleOnPlainSending()
{
    m_awaitingGreeting = false;
    const QStringList heldBack = std::exchange(m_heldBack, {});
    for (const QString &message : heldBack) {
        if (!writeMessage(message))
            return;
    }
}

void PeerSocket::sendKeepAlive()
{
    if (m_sendFramed && m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        writeBytes(QByteArray(1, '\0'));
}

void PeerSocket::onSocketError()
{
    if (!m_socket || sender() != m_socket)
        return;
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // The peer closing or resetting the link is followed by `disconnected`; anything
        // else (keep-alive probes or data left unanswered) means the way to it was lost.
        const auto error = m_socket->error();
        if (error == QAbstractSocket::SocketTimeoutError && m_waitingInPlace)
            return;
        if (error != QAbstractSocket::RemoteHostClosedError)
            failLink(tr("Disconnected: the connection to the opponent was lost"));
        return;
    }
    if (m_linkWasUp) {
        onPeerClosed();
        return;
    }
    failConnecting(m_socket->error());
}

void PeerSocket::failConnecting(QAbstractSocket::SocketError error)
{
    if (!m_socket || m_linkWasUp)
        return;
    const QString description =
        tr("Cannot connect to %1: %2").arg(m_remoteHost, describeConnectFailure(error));
    dropSocket();
    m_connectFailed = true;
    emit LinkError(description);
}

void PeerSocket::onPeerClosed()
{
    if (!m_socket)
        return;
    readIncoming();
    if (!m_socket)
        return;
    dropSocket();
    emit CloseEvent();
}

void PeerSocket::failLink(const QString &description)
{
    if (!m_socket)
        return;
    dropSocket();
    emit LinkError(description);
}

void PeerSocket::Close()
{
    closeServer();
    if (!m_socket)
        return;
    if (m_awaitingGreeting)
        settleHandshakeBeforeClosing();
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        QTcpSocket *socket = std::exchange(m_socket, nullptr);
        dropSocket();
        new GracefulCloser(socket, this);
        return;
    }
    dropSocket();
}

// Messages held while the handshake is undecided must go out in the form the peer reads:
// framed to a copy that answers the greeting, plain to a peer that never will. So before
// closing, wait (at most for what is left of the greeting wait) for the answer.
void PeerSocket::settleHandshakeBeforeClosing()
{
    const QDeadlineTimer deadline(m_greetingWait.remainingTime());
    // Running out of this wait is reported as a socket error; it says nothing about the link.
    const QScopedValueRollback waiting(m_waitingInPlace, true);
    while (m_awaitingGreeting && m_socket && m_socket->state() == QAbstractSocket::ConnectedState &&
           !deadline.hasExpired()) {
        if (!m_socket->waitForReadyRead(int(deadline.remainingTime())))
            break;
        readIncoming();
    }
    if (m_awaitingGreeting && m_socket)
        settleOnPlainSending();
}

void PeerSocket::dropSocket()
{
    m_connectWait.stop();
    m_greetingWait.stop();
    m_keepAlive.stop();
    m_silence.stop();
    m_awaitingGreeting = false;
    m_sendFramed = false;
    m_heldBack.clear();
    m_reader.reset();
    m_inbox.clear();
    m_connectFailed = false;
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void PeerSocket::closeServer()
{
    if (QTcpServer *server = std::exchange(m_server, nullptr)) {
        server->close();
        server->deleteLater();
    }
}
