#include "TcpOptions.h"

#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace {

// The first keep-alive probe after this much idle time, then one every interval, and the link
// is given up after this many unanswered probes. Data that stays unacknowledged for the user
// timeout also ends the link.
constexpr int KeepIdleSeconds = 4;
constexpr int KeepIntervalSeconds = 2;
constexpr int KeepProbes = 4;
constexpr int UserTimeoutMs = 15000;

} // namespace

namespace TcpOptions {

void tuneForLiveLink(QTcpSocket &socket)
{
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int descriptor = int(socket.socketDescriptor());
    const auto set = [descriptor](int level, int option, int value) {
        ::setsockopt(descriptor, level, option, &value, sizeof value);
    };
    set(IPPROTO_TCP, TCP_KEEPIDLE, KeepIdleSeconds);
    set(IPPROTO_TCP, TCP_KEEPINTVL, KeepIntervalSeconds);
    set(IPPROTO_TCP, TCP_KEEPCNT, KeepProbes);
    set(IPPROTO_TCP, TCP_USER_TIMEOUT, UserTimeoutMs);
#endif
}

qint64 unsentBytes(const QTcpSocket &socket)
{
#ifdef Q_OS_LINUX
    int unsent = 0;
    if (::ioctl(int(socket.socketDescriptor()), SIOCOUTQNSD, &unsent) == 0)
        return unsent;
#else
    Q_UNUSED(socket)
#endif
    return 0;
}

} // namespace TcpOptions
