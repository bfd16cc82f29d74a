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
// A link over a path through the routers ended without the peer's goodbye.
QString otherPathLost();
// A copy dialled with an invitation, and the other end cannot encrypt the link.
QString olderProgram();
// The switch to TLS failed or took too long.
QString notProtected();
// The certificate the other end showed is not the one the invitation names.
QString notTheInvitingProgram();
// An encrypted peer that did not start with its ticket.
QString noTicket();
// The goodbye to a copy that tries to take the seat of a lost link it did not hold.
QString seatKeptForOpponent();
// Why a requester was turned away, for this player: "Refused a connection from ADDRESS: ...".
QString tooManyArrivals();
QString arrivalSilent(int seconds);
QString arrivalNotInvited();
QString arrivalUnprotected();
QString arrivalNotTheOpponent();

} // namespace LinkSentences
