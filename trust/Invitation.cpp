#include "Invitation.h"

#include "LineCode.h"

#include <QList>
#include <QRandomGenerator>
#include <QStringView>

#include <array>

namespace {

constexpr QStringView Scheme = u"skarnet:";
constexpr QStringView SchemeAndSlashes = u"skarnet://";

// The keys that follow the head: "/K" fingerprint "/T" ticket, where 16 bytes take 22
// characters. Then comes the check character, or the ICE segment "/I" length payload and the
// check character.
constexpr qsizetype EncodedLength = 22;
constexpr qsizetype FingerprintAt = 2;
constexpr qsizetype TicketMarkAt = FingerprintAt + EncodedLength;
constexpr qsizetype TicketAt = TicketMarkAt + 2;
constexpr qsizetype KeysLength = TicketAt + EncodedLength;
constexpr QStringView IceMark = u"/I";
// Lines without the ICE segment stay as short as copies without it read them.
constexpr qsizetype LongestLineWithoutIce = 120;

bool isDigit(QChar ch)
{
    return ch >= u'0' && ch <= u'9';
}

bool isLowerHexDigit(QChar ch)
{
    return isDigit(ch) || (ch >= u'a' && ch <= u'f');
}

bool isDottedQuad(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return false;
        int value = 0;
        for (const QChar ch : part) {
            if (!isDigit(ch))
                return false;
            value = value * 10 + (ch.unicode() - u'0');
        }
        if (value > 255)
            return false;
    }
    return true;
}

// How many 16-bit groups the colon-separated `text` holds (a dotted quad at its end counts two
// where allowed), or -1 if it is malformed. Empty text holds none.
int ipv6Groups(QStringView text, bool mayEndInDottedQuad)
{
    if (text.isEmpty())
        return 0;
    const QList<QStringView> groups = text.split(u':');
    int count = 0;
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const QStringView group = groups.at(i);
        if (mayEndInDottedQuad && i == groups.size() - 1 && group.contains(u'.')) {
            if (!isDottedQuad(group))
                return -1;
            count += 2;
            continue;
        }
        if (group.isEmpty() || group.size() > 4)
            return -1;
        for (const QChar ch : group) {
            if (!isLowerHexDigit(ch))
                return -1;
        }
        ++count;
    }
    return count;
}

// An IPv6 address in lower case, without a zone.
bool isIPv6(QStringView text)
{
    if (text.size() > 45)
        return false;
    const qsizetype gap = text.indexOf(u"::");
    if (gap < 0)
        return ipv6Groups(text, true) == 8;
    const QStringView before = text.first(gap);
    const QStringView after = text.sliced(gap + 2);
    if (after.contains(u"::"))
        return false;
    const int groupsBefore = ipv6Groups(before, false);
    const int groupsAfter = ipv6Groups(after, true);
    return groupsBefore >= 0 && groupsAfter >= 0 && groupsBefore + groupsAfter <= 7;
}

// A host name or IPv4 address in lower case: dot-separated labels of letters, digits and
// inner hyphens.
bool isHostName(QStringView text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    for (const QStringView label : text.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (const QChar ch : label) {
            if (!isDigit(ch) && !(ch >= u'a' && ch <= u'z') && ch != u'-')
                return false;
        }
    }
    return true;
}

// 1-65535 without leading zeros; 0 for anything else.
int readPort(QStringView text)
{
    if (text.isEmpty() || text.size() > 5 || text.front() == u'0')
        return 0;
    int port = 0;
    for (const QChar ch : text) {
        if (!isDigit(ch))
            return 0;
        port = port * 10 + (ch.unicode() - u'0');
    }
    return port <= 65535 ? port : 0;
}

// The head, "host:port", into `invitation`; false if it is malformed.
bool readHead(QStringView head, Invitation *invitation)
{
    const qsizetype colon = head.lastIndexOf(u':');
    if (colon < 0)
        return false;
    invitation->port = readPort(head.sliced(colon + 1));
    QStringView host = head.first(colon);
    if (host.startsWith(u'[')) {
        if (host.size() < 2 || !host.endsWith(u']'))
            return false;
        host = host.sliced(1, host.size() - 2);
        if (!isIPv6(host))
            return false;
    } else if (!isHostName(host)) {
        return false;
    }
    if (invitation->port == 0)
        return false;
    invitation->host = host.toString();
    return true;
}

// Reads a line freed of its decorations that begins with the scheme. The head ends at the first
// '/'; the keys, and the ICE segment if there is one, must follow it exactly.
Invitation::Reading readLine(QStringView line, Invitation *invitation)
{
    using Reading = Invitation::Reading;
    if (line.size() > Invitation::LongestLine || line.size() < SchemeAndSlashes.size() ||
        line.sliced(Scheme.size(), 2) != u"//")
        return Reading::Damaged;
    const QStringView body = line.sliced(SchemeAndSlashes.size());
    const qsizetype keysAt = body.indexOf(u'/');
    if (keysAt < 0 || body.size() - keysAt < KeysLength)
        return Reading::Damaged;
    const QStringView keys = body.sliced(keysAt, KeysLength);
    if (keys.first(FingerprintAt) != u"/K" || keys.sliced(TicketMarkAt, 2) != u"/T")
        return Reading::Damaged;
    Invitation read;
    read.fingerprint = LineCode::readBase64Url(keys.sliced(FingerprintAt, EncodedLength),
                                               Invitation::FingerprintBytes);
    read.ticket =
        LineCode::readBase64Url(keys.sliced(TicketAt, EncodedLength), Invitation::TicketBytes);
    if (read.fingerprint.isEmpty() || read.ticket.isEmpty() || !readHead(body.first(keysAt), &read))
        return Reading::Damaged;

    const qsizetype afterKeys = keysAt + KeysLength;
    if (body.size() == afterKeys)
        return Reading::Damaged;
    if (body.size() - afterKeys > 1) {
        // The ICE segment: only characters that can belong to it, in any number up to what its
        // length says, and then the check character.
        const QStringView segment = body.sliced(afterKeys);
        if (!segment.startsWith(IceMark))
            return Reading::Damaged;
        for (const QChar ch : segment.sliced(IceMark.size())) {
            if (!LineCode::isBase64Url(ch))
                return Reading::Damaged;
        }
        const qsizetype digitsAt = afterKeys + IceMark.size();
        const qsizetype payloadAt = digitsAt + LineCode::LengthDigits;
        if (body.size() < payloadAt)
            return Reading::CutShort;
        const int payloadLength = LineCode::readLengthDigits(body.sliced(digitsAt, 2));
        if (payloadLength == 0 || body.size() > payloadAt + payloadLength + 1)
            return Reading::Damaged;
        if (body.size() < payloadAt + payloadLength + 1)
            return LineCode::lengthWasChanged(body, digitsAt) ? Reading::Damaged
                                                              : Reading::CutShort;
        read.ice = LineCode::readBase64Url(body.sliced(payloadAt, payloadLength));
        if (read.ice.isEmpty())
            return Reading::Damaged;
    } else if (line.size() > LongestLineWithoutIce) {
        return Reading::Damaged;
    }
    if (LineCode::checkSum(body) != 0 || !LineCode::isBase64Url(body.back()))
        return Reading::Damaged;
    *invitation = read;
    return Reading::Invitation;
}

} // namespace

QString Invitation::line() const
{
    const QString lowerHost = host.toLower();
    QString body;
    if (lowerHost.contains(u':') && isIPv6(lowerHost))
        body = QLatin1Char('[') + lowerHost + QLatin1Char(']');
    else if (isHostName(lowerHost))
        body = lowerHost;
    else
        return {};
    if (port < 1 || port > 65535 || fingerprint.size() != FingerprintBytes ||
        ticket.size() != TicketBytes)
        return {};
    body += QLatin1Char(':') + QString::number(port) + QLatin1String("/K") +
            LineCode::base64Url(fingerprint) + QLatin1String("/T") + LineCode::base64Url(ticket);
    if (!ice.isEmpty()) {
        const QString payload = LineCode::base64Url(ice);
        if (payload.size() > LineCode::LongestSegment)
            return {};
        body += IceMark.toString() + LineCode::lengthDigits(payload.size()) + payload;
    }
    body += LineCode::checkCharacter(body);
    const QString line = SchemeAndSlashes.toString() + body;
    return line.size() <= (ice.isEmpty() ? LongestLineWithoutIce : LongestLine) ? line : QString();
}

Invitation::Reading Invitation::read(const QString &text, Invitation *invitation)
{
    const QStringView line = LineCode::withoutDecorations(text);
    if (!line.startsWith(Scheme, Qt::CaseInsensitive))
        return Reading::BareAddress;
    Invitation read;
    const Reading reading = readLine(line, &read);
    if (reading == Reading::Invitation && invitation)
        *invitation = read;
    return reading;
}

QByteArray Invitation::randomTicket()
{
    std::array<quint32, TicketBytes / sizeof(quint32)> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.data()), TicketBytes);
}
