#pragma once

#include <QAbstractSocket>
#include <QString>

// What the player reads in the status line when the link cannot be made or ends by a fault.
namespace LinkSentences {

// Why listening on `port` failed, as the end of "Cannot listen on port N: ...".
QString listenFailure(QAbstractSocket::SocketError error, int port);
// "Cannot connect to <host>: <why>".
QString connectFailure(const QString &host, QAbstractSocket::SocketError error);
QString silence(int seconds);
QString sendFailed();
QString frameTooLarge();
// What this copy tells a peer whose message over the frame limit it refused, as its goodbye.
QString oversizedRefused();
QString connectionLost();
// The side that dialled stopped dialling a lost link again (after Relinker::WindowMs).
QString relinkGaveUp();

} // namespace LinkSentences
