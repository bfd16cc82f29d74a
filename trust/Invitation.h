#pragma once

#include <QByteArray>
#include <QString>

// The one line a player sends the other so that the other's copy can find this one and know it:
//
//   skarnet://HOST:PORT/K<fingerprint>/T<ticket><check>
//   skarnet://HOST:PORT/K<fingerprint>/T<ticket>/I<LL><ice><check>
//
// HOST is an IPv4 address, an IPv6 address in brackets or a host name, always in lower case;
// PORT is 1-65535 without leading zeros. The fingerprint (the first bytes of the SHA-256 of the
// inviting copy's certificate) and the ticket (random bytes the inviting copy takes once) are
// base64url without padding. The "/I" segment, when the inviting copy also looks for a path
// over UDP, carries what it tells the other copy for that (an encoded IceDescription, opaque
// here) as base64url without padding, LL characters of it, LL being written as two base64url
// digits so that a line cut short is told apart from a damaged one. The last character is a
// check over everything after "skarnet://" that catches any one changed character and any two
// neighbouring characters swapped, so that a line damaged on its way is refused as such rather
// than read as another invitation.
struct Invitation
{
    QString host;           // IPv4, IPv6 (shown in brackets in the line) or a host name
    int port = 0;           // 1-65535
    QByteArray fingerprint; // the first FingerprintBytes of the SHA-256 of the certificate
    QByteArray ticket;      // TicketBytes random bytes
    QByteArray ice = {};    // none, or an encoded IceDescription

    enum class Reading
    {
        Invitation,  // a whole, undamaged line; the invitation is filled in
        BareAddress, // not an invitation at all: an address as typed before invitations
        Damaged,     // begins as an invitation but is not one; the invitation is untouched
        CutShort     // an invitation with the ICE segment whose end is missing; untouched too
    };

    // A line without the ICE segment stays within 120 characters, as copies without the segment
    // read it; one with the segment within LongestLine.
    static constexpr int FingerprintBytes = 16, TicketBytes = 16, LongestLine = 600;

    // The line to send; empty if a field cannot be written (an empty host or one with other
    // characters than an address or a host name has, a port outside 1-65535, a fingerprint or
    // ticket of the wrong length) or if the line would be too long.
    QString line() const;

    // Reads what the player pasted. Blanks around it, trailing '/', '.', ',' or ')' that chat
    // programs leave, and an enclosing <> are tolerated, and the scheme may be in any case.
    // Text that does not begin with "skarnet:" is a BareAddress; text that does but is not a
    // whole, undamaged line is Damaged, or CutShort if it is one with the ICE segment but for
    // its end. Any text at all is safe to read.
    static Reading read(const QString &text, Invitation *invitation);

    // TicketBytes fresh bytes from the system's random source.
    static QByteArray randomTicket();

    friend bool operator==(const Invitation &, const Invitation &) = default;
};
