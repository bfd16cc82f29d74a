#include "IceDescription.h"

#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace {

constexpr quint8 DirectCannotServeFlag = 0x01, RelaySetFlag = 0x02, NoOutsideAddressFlag = 0x04;
constexpr quint8 KnownFlags = DirectCannotServeFlag | RelaySetFlag | NoOutsideAddressFlag;
constexpr quint8 KindBits = 0x03, IPv6Tag = 0x04;
constexpr quint8 KnownTagBits = KindBits | IPv6Tag;
constexpr qsizetype CredentialsLength =
    1 + IceDescription::UfragBytes + IceDescription::PasswordBytes;

constexpr auto StandardBase64Options = QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals;

// An IPv4 address mapped into IPv6: ::ffff:a.b.c.d.
bool isMappedIPv4(const Q_IPV6ADDR &ipv6)
{
    constexpr std::array<quint8, 12> Prefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::equal(Prefix.begin(), Prefix.end(), ipv6.c);
}

// The address as it is written: four bytes for IPv4 (an IPv4 address mapped into IPv6 included),
// sixteen for IPv6, nothing for anything else. An IPv6 scope does not travel.
QByteArray addressBytes(const QHostAddress &address)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 ipv4 = address.toIPv4Address();
        const std::array<char, 4> bytes{char(ipv4 >> 24), char(ipv4 >> 16), char(ipv4 >> 8),
                                        char(ipv4)};
        return QByteArray(bytes.data(), bytes.size());
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    const Q_IPV6ADDR ipv6 = address.toIPv6Address();
    if (isMappedIPv4(ipv6))
        return addressBytes(QHostAddress(address.toIPv4Address()));
    return QByteArray(reinterpret_cast<const char *>(ipv6.c), sizeof(ipv6.c));
}

quint8 byteAt(const QByteArray &bytes, qsizetype at)
{
    return quint8(bytes.at(at));
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::system()->bounded(256));
    return bytes;
}

} // namespace

QByteArray IceDescription::encode() const
{
    if (ufrag.size() != UfragBytes || password.size() != PasswordBytes ||
        candidates.size() > MostCandidates)
        return {};
    QByteArray bytes;
    bytes.append(char((directCannotServe ? DirectCannotServeFlag : 0) |
                      (relaySet ? RelaySetFlag : 0) |
                      (noOutsideAddress ? NoOutsideAddressFlag : 0)));
    bytes.append(ufrag);
    bytes.append(password);
    for (const Candidate &candidate : candidates) {
        const QByteArray address = addressBytes(candidate.address);
        if (address.isEmpty() || candidate.port == 0 ||
            quint8(candidate.kind) > quint8(Kind::Relay))
            return {};
        bytes.append(char(quint8(candidate.kind) | (address.size() == 16 ? IPv6Tag : 0)));
        bytes.append(address);
        bytes.append(char(candidate.port >> 8));
        bytes.append(char(candidate.port & 0xff));
    }
    return bytes;
}

bool IceDescription::decode(const QByteArray &bytes, IceDescription *description)
{
    if (bytes.size() < CredentialsLength || (byteAt(bytes, 0) & ~KnownFlags) != 0)
        return false;
    IceDescription read;
    read.directCannotServe = byteAt(bytes, 0) & DirectCannotServeFlag;
    read.relaySet = byteAt(bytes, 0) & RelaySetFlag;
    read.noOutsideAddress = byteAt(bytes, 0) & NoOutsideAddressFlag;
    read.ufrag = bytes.sliced(1, UfragBytes);
    read.password = bytes.sliced(1 + UfragBytes, PasswordBytes);

    qsizetype at = CredentialsLength;
    while (at < bytes.size()) {
        const quint8 tag = byteAt(bytes, at);
        const qsizetype addressLength = tag & IPv6Tag ? 16 : 4;
        if ((tag & ~KnownTagBits) != 0 || (tag & KindBits) > quint8(Kind::Relay) ||
            read.candidates.size() == MostCandidates || bytes.size() - at < 1 + addressLength + 2)
            return false;
        Candidate candidate;
        candidate.kind = Kind(tag & KindBits);
        const QByteArray address = bytes.sliced(at + 1, addressLength);
        if (addressLength == 4) {
            candidate.address.setAddress(quint32(byteAt(address, 0)) << 24 |
                                         quint32(byteAt(address, 1)) << 16 |
                                         quint32(byteAt(address, 2)) << 8 | byteAt(address, 3));
        } else {
            Q_IPV6ADDR ipv6;
            std::copy(address.begin(), address.end(), ipv6.c);
            if (isMappedIPv4(ipv6))
                return false;
            candidate.address.setAddress(ipv6);
        }
        at += 1 + addressLength;
        candidate.port = quint16(byteAt(bytes, at) << 8 | byteAt(bytes, at + 1));
        at += 2;
        if (candidate.port == 0)
            return false;
        read.candidates.append(candidate);
    }
    if (description)
        *description = read;
    return true;
}

QByteArray IceDescription::ufragText() const
{
    return ufrag.toBase64(StandardBase64Options);
}

QByteArray IceDescription::passwordText() const
{
    return password.toBase64(StandardBase64Options);
}

IceDescription IceDescription::withFreshCredentials()
{
    IceDescription description;
    description.ufrag = randomBytes(UfragBytes);
    description.password = randomBytes(PasswordBytes);
    return description;
}
