#pragma once

#include <QByteArray>
#include <QString>

struct WireMessage;

// The first message of a copy that frames its messages: code 20 with the tag "skarnet/N",
// where N is the version of the protocol it speaks. Version 1 frames messages; version 2 also
// draws coin flips and dice rolls together; version 3 also switches the link to TLS right after
// the two greetings. A tag that does not end in a number counts as the
// first version. A peer that knows only the plain table never sends it.
namespace Greeting {

constexpr int Version = 3;
// The first version whose copies draw together.
constexpr int DrawsFromVersion = 2;
// The first version whose copies encrypt the link; a copy without an identity to show greets
// with the version before it.
constexpr int EncryptsFromVersion = 3;
// How long a side waits for the other's greeting before it takes the peer for one that knows
// only the plain table; and how long a listener waits for a returning copy to greet.
constexpr int WaitMs = 2000;

// "skarnet/3"; a copy of an earlier version greets with its own number.
QString tag(int version = Version);
// The greeting this copy sends, as a message.
QString message(int version = Version);
// What every copy's greeting starts with on the wire: the code and "skarnet/".
QByteArray wireStart();
bool isGreeting(const WireMessage &message);
// The version a greeting's payload names.
int versionOf(const QString &payload);

} // namespace Greeting
