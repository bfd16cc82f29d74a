#include "ice/IceStreamPump.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

IceStreamPump::IceStreamPump(std::function<qsizetype(const char *, qsizetype)> send,
                             QObject *parent)
    : QObject(parent)
    , m_send(std::move(send))
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    m_linkEnd = ends[0];
    m_pathEnd = ends[1];
    m_readable = new QSocketNotifier(m_pathEnd, QSocketNotifier::Read, this);
    m_writable = new QSocketNotifier(m_pathEnd, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_readable, &QSocketNotifier::activated, this, &IceStreamPump::readFromLink);
    connect(m_writable, &QSocketNotifier::activated, this, &IceStreamPump::flushToLink);
}

IceStreamPump::~IceStreamPump()
{
    shutDown();
    if (m_linkEnd >= 0)
        ::close(m_linkEnd);
}

QTcpSocket *IceStreamPump::takeSocket()
{
    if (m_linkEnd < 0)
        return nullptr;
    auto *socket = new QTcpSocket;
    // The QTcpSocket works on a local socket as on TCP; only its peer address reads 0.0.0.0.
    if (!socket->setSocketDescriptor(m_linkEnd)) {
        delete socket;
        return nullptr;
    }
    m_linkEnd = -1;
    return socket;
}

void IceStreamPump::deliver(const char *data, qsizetype length)
{
    if (m_pathEnd < 0)
        return;
    m_bytesCarried += length;
    m_toLink.append(data, length);
    flushToLink();
    if (m_toLink.size() > HighWaterBytes) {
        shutDown();
        emit overflowed();
    }
}

void IceStreamPump::resumeSending()
{
    flushToStream();
}

void IceStreamPump::shutDown()
{
    if (m_pathEnd < 0)
        return;
    delete m_readable;
    delete m_writable;
    m_readable = m_writable = nullptr;
    ::close(m_pathEnd);
    m_pathEnd = -1;
    m_toLink.clear();
    m_toStream.clear();
}

void IceStreamPump::readFromLink()
{
    char buffer[ChunkBytes];
    while (m_toStream.size() < HighWaterBytes) {
        const ssize_t got = ::read(m_pathEnd, buffer, sizeof buffer);
        if (got > 0) {
            m_toStream.append(buffer, got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            // What the link wrote before closing still goes out.
            m_linkClosed = true;
            flushToStream();
            emit linkClosed();
            return;
        }
        break;
    }
    flushToStream();
}

void IceStreamPump::flushToStream()
{
    if (m_pathEnd < 0)
        return;
    // Partial takes are normal: the rest waits for resumeSending().
    while (!m_toStream.isEmpty()) {
        const qsizetype sent = m_send(m_toStream.constData(), qMin(m_toStream.size(), ChunkBytes));
        if (sent <= 0)
            break;
        m_bytesCarried += sent;
        m_toStream.remove(0, sent);
    }
    const bool readMore = !m_linkClosed && m_toStream.size() < HighWaterBytes;
    if (m_readable->isEnabled() != readMore)
        m_readable->setEnabled(readMore);
}

void IceStreamPump::flushToLink()
{
    if (m_pathEnd < 0)
        return;
    while (!m_toLink.isEmpty()) {
        // No SIGPIPE when the link has closed its end.
        const ssize_t written =
            ::send(m_pathEnd, m_toLink.constData(), size_t(m_toLink.size()), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno != EAGAIN && errno != EINTR)
                m_toLink.clear();
            break;
        }
        m_toLink.remove(0, written);
    }
    m_writable->setEnabled(!m_toLink.isEmpty());
}

#include "moc_IceStreamPump.cpp"
