#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

// What one copy tells the other so that the two can look for a path between them over UDP:
// the credentials its checks are signed with, and the addresses it can be reached at. It
// travels inside the invitation and the reply line, so it is written as compactly as it can be:
//
//   flags(1) ufrag(3) password(16) then per candidate: tag(1) address(4 or 16) port(2)
//
// flags: bit 0 this copy's direct port cannot serve, bit 1 it has a relay set, bit 2 it found
// no outside address. A candidate's tag holds its kind in bits 0-1 and, in bit 2, whether the
// address is IPv6. Ports are big-endian; the candidates run to the end of the bytes. Reading
// takes any bytes; the addresses make it need Qt Network (QHostAddress) besides Qt Core.
struct IceDescription
{
    enum class Kind : quint8
    {
        Host = 0,    // an address of the machine itself
        Outside = 1, // the address the home router shows the internet (server reflexive)
        Relay = 2    // an address a relay holds for this copy
    };
    struct Candidate
    {
        Kind kind = Kind::Host;
        QHostAddress address;
        quint16 port = 0;
        friend bool operator==(const Candidate &, const Candidate &) = default;
    };

    static constexpr int UfragBytes = 3, PasswordBytes = 16, MostCandidates = 8;

    bool directCannotServe = false;
    bool relaySet = false;
    bool noOutsideAddress = false;
    QByteArray ufrag;    // UfragBytes
    QByteArray password; // PasswordBytes
    QList<Candidate> candidates;

    // The bytes above; empty when a field cannot be written (wrong credential lengths, more than
    // MostCandidates, an address that is neither IPv4 nor IPv6, port 0). An IPv4 address mapped
    // into IPv6 is written as IPv4, and an IPv6 scope is left out.
    QByteArray encode() const;
    // False, leaving `description` untouched, unless `bytes` are exactly one description: no
    // unknown flag or tag bits, no kind 3, no port 0, no IPv4 address mapped into IPv6, at most
    // MostCandidates and no bytes after the last candidate.
    static bool decode(const QByteArray &bytes, IceDescription *description);
    // The credentials as the ICE library takes them: standard base64 without its '=' padding,
    // whose characters ICE allows (4 characters for the ufrag, 22 for the password, where ICE
    // asks for at least 4 and 22). And fresh credentials from the system's random source.
    QByteArray ufragText() const;
    QByteArray passwordText() const;
    static IceDescription withFreshCredentials();

    friend bool operator==(const IceDescription &, const IceDescription &) = default;
};
