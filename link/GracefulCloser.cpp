#include "GracefulCloser.h"

#include <QDeadlineTimer>
#include <QSslSocket>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#elif defined(Q_OS_UNIX)
#include <sys/socket.h>
#endif

namespace {

// Ends the sending side of the connection only: the peer reads to the end of what was sent,
// then sees the end of the stream, and may still send.
void shutDownSendingSide(qintptr descriptor)
{
#if defined(Q_OS_WIN)
    ::shutdown(SOCKET(descriptor), SD_SEND);
#elif defined(Q_OS_UNIX)
    ::shutdown(int(descriptor), SHUT_WR);
#else
    Q_UNUSED(descriptor)
#endif
}

} // namespace

GracefulCloser::GracefulCloser(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->disconnect();
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &GracefulCloser::shutDownSendingWhenFlushed);
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket))
        connect(tls, &QSslSocket::encryptedBytesWritten, this,
                &GracefulCloser::shutDownSendingWhenFlushed);
    connect(m_socket, &QTcpSocket::readyRead, this, &GracefulCloser::discardIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this, &GracefulCloser::finish);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &GracefulCloser::finish);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &GracefulCloser::finish);
    m_deadline.start(DeadlineMs);
    m_socket->flush();
    shutDownSendingWhenFlushed();
    discardIncoming();
}

void GracefulCloser::finishNow(int msecs)
{
    if (m_finished)
        return;
    const QDeadlineTimer deadline(msecs);
    while (bytesToWrite() > 0 && !deadline.hasExpired() &&
           m_socket->state() == QAbstractSocket::ConnectedState) {
        if (!m_socket->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    shutDownSendingWhenFlushed();
    while (!m_finished && m_sendingShutDown && !deadline.hasExpired() &&
           m_socket->state() == QAbstractSocket::ConnectedState) {
        if (!m_socket->waitForReadyRead(int(deadline.remainingTime())))
            break;
        discardIncoming();
    }
    finish();
}

void GracefulCloser::shutDownSendingWhenFlushed()
{
    if (m_sendingShutDown || m_finished || bytesToWrite() > 0)
        return;
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        finish();
        return;
    }
    m_sendingShutDown = true;
    shutDownSendingSide(m_socket->socketDescriptor());
}

// Over TLS, what is still to be encrypted and what was encrypted but not yet sent.
qint64 GracefulCloser::bytesToWrite() const
{
    const auto *tls = qobject_cast<const QSslSocket *>(m_socket);
    return m_socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

void GracefulCloser::discardIncoming()
{
    if (!m_finished)
        m_socket->readAll();
}

void GracefulCloser::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    m_socket->disconnect(this);
    m_socket->readAll();
    m_socket->abort();
    deleteLater();
}

#include "moc_GracefulCloser.cpp"
