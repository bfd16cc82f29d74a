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

QString otherPathLost()
{
    return QStringLiteral("Connection lost: the path between the two copies closed. Make a new "
                          "invitation and send it to the other player to play on.");
}

QString relinkGaveUp()
{
    return tr("Disconnected: could not reconnect within two minutes");
}

QString olderProgram()
{
    return tr("Not connected: the other side is an older program that cannot protect the link, "
              "so nothing was sent. Ask the other player to update, or connect with the bare "
              "address to play unprotected");
}

QString notProtected()
{
    return tr("Disconnected: the link could not be encrypted; try connecting again");
}

QString notTheInvitingProgram()
{
    return tr("Not connected: the program at that address is not the one that made the "
              "invitation, so nothing was sent. Check the address with the other player, or "
              "ask for a new invitation");
}

QString noTicket()
{
    return tr("Disconnected: the other copy did not present its invitation");
}

QString seatKeptForOpponent()
{
    return tr("Disconnected: this table is waiting for its own opponent to come back");
}

QString tooManyArrivals()
{
    return tr("too many connections at once");
}

QString arrivalSilent(int seconds)
{
    return tr("it did not identify itself within %n seconds", seconds);
}

QString arrivalNotInvited()
{
    return tr("it did not come with this table's invitation");
}

QString arrivalUnprotected()
{
    return tr("it is an older program that cannot protect the link");
}

QString arrivalNotTheOpponent()
{
    return tr("it is not the opponent whose link was lost");
}

} // namespace LinkSentences
