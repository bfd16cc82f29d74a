#pragma once

#include <QtGlobal>

class QTcpSocket;

// What the link asks of the system's TCP on a connected socket.
namespace TcpOptions {

// Small messages leave at once instead of waiting for the acknowledgement of the previous
// one, and a link whose other end vanished is probed and given up within about 12 seconds
// (where the system lets the times be set; elsewhere after its own, longer defaults).
void tuneForLiveLink(QTcpSocket &socket);

// The bytes written to `socket` that the system has not sent yet: they wait for the network to
// take them. Zero where the system does not tell.
qint64 unsentBytes(const QTcpSocket &socket);

} // namespace TcpOptions
