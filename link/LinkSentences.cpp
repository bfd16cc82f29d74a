#include "LinkSentences.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("LinkSentences", text, nullptr, n);
}

QString connectProblem(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("nobody is listening there");
    case QAbstractSocket::HostNotFoundError:
        return tr("the address was not found");
    case QAbstractSocket::SocketTimeoutError:
        return tr("no answer from that address");
    default:
        return tr("the address cannot be reached");
    }
}

} // namespace

namespace LinkSentences {

QString listenFailure(QAbstractSocket::SocketError error, int port)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return tr("the port is in use");
    case QAbstractSocket::SocketAccessError:
        return port < 1024 ? tr("this user may not open ports below 1024")
                           : tr("permission denied");
    default:
        return tr("the system refused it");
    }
}

QString connectFailure(const QString &host, QAbstractSocket::SocketError error)
{
    return tr("Cannot connect to %1: %2").arg(host, connectProblem(error));
}

QString silence(int seconds)
{
    return tr("Disconnected: nothing heard from the opponent for %n seconds", seconds);
}

QString sendFailed()
{
    return tr("Disconnected: a message could not be sent");
}

QString frameTooLarge()
{
    return tr("Disconnected: the opponent sent a message over 1 MiB");
}

QString oversizedRefused()
{
    return tr("Disconnected: the opponent's copy does not take a message over 1 MiB, and this "
              "copy sent one");
}

QString connectionLost()
{
    return tr("Disconnected: the connection to the opponent was lost");
}

QString relinkGaveUp()
{
    return tr("Disconnected: could not reconnect within two minutes");
}

} // namespace LinkSentences
