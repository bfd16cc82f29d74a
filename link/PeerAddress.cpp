#include "PeerAddress.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {

constexpr int HighestPort = 65535;

PeerAddress failure(PeerAddress::Problem problem, const QString &offending)
{
    PeerAddress address;
    address.problem = problem;
    address.offending = offending;
    return address;
}

PeerAddress success(const QString &host, int port)
{
    PeerAddress address;
    address.host = host;
    address.port = port;
    return address;
}

bool isIPv6(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

// A port is written in ASCII digits only: no sign, no blanks, no other scripts' digits.
int portNumber(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return 0;
    int port = 0;
    for (const QChar digit : text) {
        if (digit < QLatin1Char('0') || digit > QLatin1Char('9'))
            return 0;
        port = port * 10 + (digit.unicode() - '0');
    }
    return port <= HighestPort ? port : 0;
}

PeerAddress withPort(const QString &host, const QString &portText)
{
    const int port = portNumber(portText);
    if (port == 0)
        return failure(PeerAddress::BadPort, portText);
    return success(host, port);
}

// A name or IPv4 address is passed on to the name lookup as written; only what can never be
// one is refused here.
PeerAddress::Problem hostProblem(const QString &host)
{
    if (host.isEmpty())
        return PeerAddress::NoHost;
    for (const QChar character : host) {
        if (character.isSpace())
            return PeerAddress::BlankInHost;
    }
    return PeerAddress::NoProblem;
}

PeerAddress bracketed(const QString &text, int defaultPort)
{
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    if (close < 0)
        return failure(PeerAddress::UnclosedBracket, text);
    const QString host = text.mid(1, close - 1);
    const QString rest = text.mid(close + 1);
    if (host.isEmpty())
        return failure(PeerAddress::NoHost, host);
    if (!isIPv6(host))
        return failure(PeerAddress::NotIPv6, host);
    if (rest.isEmpty())
        return success(host, defaultPort);
    if (!rest.startsWith(QLatin1Char(':')))
        return failure(PeerAddress::TextAfterBracket, rest);
    return withPort(host, rest.mid(1));
}

} // namespace

PeerAddress PeerAddress::parse(const QString &answer, int defaultPort)
{
    const QString text = answer.trimmed();
    if (text.startsWith(QLatin1Char('[')))
        return bracketed(text, defaultPort);
    const qsizetype colons = text.count(QLatin1Char(':'));
    if (colons > 1) {
        if (!isIPv6(text))
            return failure(NotIPv6, text);
        return success(text, defaultPort);
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? text : text.left(colon);
    if (const Problem problem = hostProblem(host); problem != NoProblem)
        return failure(problem, host);
    if (colon < 0)
        return success(host, defaultPort);
    return withPort(host, text.mid(colon + 1));
}

QString PeerAddress::problemText() const
{
    const auto text = [](const char *sentence) {
        return QCoreApplication::translate("PeerAddress", sentence);
    };
    switch (problem) {
    case NoProblem:
        break;
    case NoHost:
        return text("The address is missing. Enter the other player's IP address or host name, "
                    "for example 192.168.1.5 or 192.168.1.5:123.");
    case BadPort:
        if (offending.isEmpty())
            return text("The port after the colon is missing. A port is a whole number from 1 "
                        "to 65535, as in 192.168.1.5:123.");
        return text("\"%1\" is not a port. A port is a whole number from 1 to 65535, as in "
                    "192.168.1.5:123.")
            .arg(offending);
    case UnclosedBracket:
        return text("The \"]\" after the IPv6 address is missing. Write it as in "
                    "[2001:db8::5]:123.");
    case TextAfterBracket:
        return text("Only a colon and a port may follow the \"]\", as in [2001:db8::5]:123, "
                    "not \"%1\".")
            .arg(offending);
    case NotIPv6:
        return text("\"%1\" is not an IPv6 address. To give a port with an IPv6 address, put the "
                    "address in brackets, as in [2001:db8::5]:123.")
            .arg(offending);
    case BlankInHost:
        return text("\"%1\" is not an address: it contains a blank. To give a port, write it "
                    "after a colon, as in 192.168.1.5:123.")
            .arg(offending);
    }
    return QString();
}
