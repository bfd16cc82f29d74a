#pragma once

#include <QString>

// Where the player asked to connect to, read from the answer to "Connect to IP": a host name,
// an IPv4 address or an IPv6 address, each optionally followed by a port, as in
// "host:port" and "[IPv6]:port". A bare IPv6 address has no port, because its own colons
// cannot be told apart from the one before a port. Blanks around the answer are ignored.
struct PeerAddress
{
    enum Problem
    {
        NoProblem,
        NoHost,           // nothing before the port, or nothing at all
        BadPort,          // not a whole number from 1 to 65535
        UnclosedBracket,  // "[" without "]"
        TextAfterBracket, // something other than ":port" after "]"
        NotIPv6,          // brackets, or several colons, around something that is no IPv6 address
        BlankInHost,      // a blank inside the address, often typed instead of the colon
    };

    QString host;
    int port = 0;
    Problem problem = NoProblem;
    // The part of the answer the problem is about, quoted back to the player.
    QString offending;

    bool isValid() const { return problem == NoProblem; }
    // A sentence for the player saying what is wrong with the answer and how to write it.
    QString problemText() const;

    // Reads `answer`; an address without a port takes `defaultPort`.
    static PeerAddress parse(const QString &answer, int defaultPort);
};
