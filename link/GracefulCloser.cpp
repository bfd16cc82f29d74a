#include "GracefulCloser.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <sys/socket.h>

GracefulCloser::GracefulCloser(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->disconnect();
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &GracefulCloser::shutDownSendingWhenFlushed);
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
    while (m_socket->bytesToWrite() > 0 && !deadline.hasExpired() &&
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
    if (m_sendingShutDown || m_finished || m_socket->bytesToWrite() > 0)
        return;
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        finish();
        return;
    }
    m_sendingShutDown = true;
    ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
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
