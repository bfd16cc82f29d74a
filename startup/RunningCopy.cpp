#include "startup/RunningCopy.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringDecoder>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QByteArray Taken = QByteArrayLiteral("ok\n");
const QByteArray Refused = QByteArrayLiteral("refused\n");
// How long a connection may take to say its line before the running copy drops it.
constexpr int ReadTimeoutMs = 5000;
// How long a start waits to learn whether a copy listens on the socket.
constexpr int ConnectTimeoutMs = 1000;

QString userId()
{
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

} // namespace

RunningCopy::RunningCopy(const QString &socketName, QObject *parent)
    : QObject(parent)
    , m_socketName(socketName)
    , m_server(new QLocalServer(this))
{
    // Only this user may hand the program an invitation.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &RunningCopy::accept);
}

QString RunningCopy::socketNameForThisUser()
{
    QString name = QStringLiteral("skarnet-") + userId();
    const QString instance = qEnvironmentVariable("SKARNET_INSTANCE_NAME");
    if (instance.contains(QLatin1Char('/')))
        return instance;
    if (!instance.isEmpty())
        name += QLatin1Char('-') + instance;
    // The runtime folder is this user's alone; without one Qt uses its temporary folder.
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeFolder.isEmpty() && QFileInfo(runtimeFolder).isDir())
        return runtimeFolder + QLatin1Char('/') + name;
    return name;
}

bool RunningCopy::fitsOneMessage(const QString &text)
{
    if (text.isEmpty() || text.toUtf8().size() >= MaxMessageBytes)
        return false;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

RunningCopy::HandOver RunningCopy::handOver(const QString &text, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return HandOver::NoCopyRunning;
    socket.write(text.toUtf8() + '\n');
    const QDeadlineTimer deadline(timeoutMs);
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return HandOver::NotTaken;
    }
    return socket.readLine() == Taken ? HandOver::Delivered : HandOver::NotTaken;
}

bool RunningCopy::listen()
{
    if (anotherCopyAnswers())
        return false;
    // Nothing answers: a socket file still there is one a crashed copy left behind.
    QLocalServer::removeServer(m_socketName);
    return m_server->listen(m_socketName);
}

bool RunningCopy::anotherCopyAnswers() const
{
    QLocalSocket probe;
    probe.connectToServer(m_socketName);
    return probe.waitForConnected(ConnectTimeoutMs);
}

void RunningCopy::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // Qt reads no more than this from the system before the line is taken.
        socket->setReadBufferSize(MaxMessageBytes);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        QTimer::singleShot(ReadTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void RunningCopy::readFrom(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        // A full buffer without a line feed is a line too long.
        if (socket->bytesAvailable() >= MaxMessageBytes) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    // No longer than the read buffer; fitsOneMessage() measures it exactly.
    const QByteArray line = socket->readLine();
    QStringDecoder fromUtf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = fromUtf8(line.chopped(1));
    const bool usable = !fromUtf8.hasError() && fitsOneMessage(text);
    // Answered before the text is opened: opening it may show a box, which waits for the player.
    socket->write(usable ? Taken : Refused);
    socket->disconnectFromServer();
    // Nothing more is read from this connection.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    if (usable)
        emit invitationReceived(text);
}

#include "moc_RunningCopy.cpp"
