#include "Invitation.h"

#include <QList>
#include <QRandomGenerator>
#include <QStringView>

#include <array>
#include <optional>

// The check character. Each character after "skarnet://" has a value of six bits, taken as an
// element of the field GF(64) = GF(2)[x] / (x^6 + x + 1), and the check character c is chosen
// so that
//
//   x^n v_1 + x^(n-1) v_2 + ... + x v_n + c = 0        (the sum is XOR)
//
// Changing the character at one position from value v to v' changes the sum by x^k (v + v'),
// and swapping two neighbours of values v and v' changes it by x^k (x + 1)(v + v'). Neither x
// nor x + 1 is zero and a field has no zero divisors, so both are non-zero whenever v != v'.
//
// Base64url characters take their place in the base64url alphabet (0-63). The other five that
// a line holds take the values of 'A' to 'E': '.' 0, ':' 1, '[' 2, ']' 3, '/' 4. Those pairs
// never meet where it matters: the tail of a line has a fixed length and holds '/' only at two
// fixed places and otherwise base64url, and what comes before the tail holds only lower-case
// letters, digits and "-.:[]", among which all values differ. So any single changed character
// or swapped pair that still leaves a well-formed line changes the sum and is caught.

namespace {

constexpr char Base64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr QStringView Scheme = u"skarnet:";
constexpr QStringView SchemeAndSlashes = u"skarnet://";

// The tail of every line: "/K" fingerprint "/T" ticket check, where 16 bytes take 22 characters.
constexpr qsizetype EncodedLength = 22;
constexpr qsizetype FingerprintAt = 2;
constexpr qsizetype TicketMarkAt = FingerprintAt + EncodedLength;
constexpr qsizetype TicketAt = TicketMarkAt + 2;
constexpr qsizetype TailLength = TicketAt + EncodedLength + 1;
// The shortest head is a one-letter host, ':' and a one-digit port.
constexpr qsizetype ShortestHead = 3;

constexpr std::array<qint8, 128> makeCharacterValues()
{
    std::array<qint8, 128> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i)
        values[std::size_t(Base64Url[i])] = qint8(i);
    values['.'] = 0;
    values[':'] = 1;
    values['['] = 2;
    values[']'] = 3;
    values['/'] = 4;
    return values;
}

constexpr std::array<qint8, 128> CharacterValues = makeCharacterValues();

int valueOf(QChar ch)
{
    return ch.unicode() < CharacterValues.size() ? CharacterValues[ch.unicode()] : -1;
}

bool isBase64Url(QChar ch)
{
    const int value = valueOf(ch);
    return value >= 0 && QChar(QLatin1Char(Base64Url[value])) == ch;
}

// Multiplication by x in GF(64), modulo x^6 + x + 1.
constexpr int timesX(int value)
{
    value <<= 1;
    return value & 0x40 ? value ^ 0x43 : value;
}

// The sum above over `characters` (Horner's rule), or -1 if one of them has no value.
int checkSum(QStringView characters)
{
    int sum = 0;
    for (const QChar ch : characters) {
        const int value = valueOf(ch);
        if (value < 0)
            return -1;
        sum = timesX(sum) ^ value;
    }
    return sum;
}

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

constexpr auto Base64UrlOptions = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// The 16 bytes `text` encodes in its one canonical spelling, or nothing.
QByteArray readEncoded(QStringView text)
{
    for (const QChar ch : text) {
        if (!isBase64Url(ch))
            return {};
    }
    const QByteArray encoded = text.toLatin1();
    const QByteArray bytes = QByteArray::fromBase64(encoded, Base64UrlOptions);
    if (bytes.size() != 16 || bytes.toBase64(Base64UrlOptions) != encoded)
        return {};
    return bytes;
}

// What is left of pasted text without the blanks around it, an enclosing <> and the
// punctuation that chat programs add or take to belong to the line.
QStringView withoutDecorations(QStringView text)
{
    text = text.trimmed();
    if (text.startsWith(u'<'))
        text = text.sliced(1).trimmed();
    while (!text.isEmpty() &&
           (QStringView(u"/.,)>").contains(text.back()) || text.back().isSpace()))
        text.chop(1);
    return text;
}

std::optional<Invitation> readLine(QStringView line)
{
    if (line.size() > Invitation::LongestLine ||
        line.size() < SchemeAndSlashes.size() + ShortestHead + TailLength ||
        line.sliced(Scheme.size(), 2) != u"//")
        return std::nullopt;
    const QStringView body = line.sliced(SchemeAndSlashes.size());
    if (checkSum(body) != 0 || !isBase64Url(body.back()))
        return std::nullopt;

    const QStringView tail = body.last(TailLength);
    if (tail.first(FingerprintAt) != u"/K" || tail.sliced(TicketMarkAt, 2) != u"/T")
        return std::nullopt;
    Invitation invitation;
    invitation.fingerprint = readEncoded(tail.sliced(FingerprintAt, EncodedLength));
    invitation.ticket = readEncoded(tail.sliced(TicketAt, EncodedLength));
    if (invitation.fingerprint.isEmpty() || invitation.ticket.isEmpty())
        return std::nullopt;

    const QStringView head = body.chopped(TailLength);
    const qsizetype colon = head.lastIndexOf(u':');
    if (colon < 0)
        return std::nullopt;
    invitation.port = readPort(head.sliced(colon + 1));
    QStringView host = head.first(colon);
    if (host.startsWith(u'[')) {
        if (host.size() < 2 || !host.endsWith(u']'))
            return std::nullopt;
        host = host.sliced(1, host.size() - 2);
        if (!isIPv6(host))
            return std::nullopt;
    } else if (!isHostName(host)) {
        return std::nullopt;
    }
    if (invitation.port == 0)
        return std::nullopt;
    invitation.host = host.toString();
    return invitation;
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
            QLatin1String(fingerprint.toBase64(Base64UrlOptions)) + QLatin1String("/T") +
            QLatin1String(ticket.toBase64(Base64UrlOptions));
    body += QLatin1Char(Base64Url[timesX(checkSum(body))]);
    const QString line = SchemeAndSlashes.toString() + body;
    return line.size() <= LongestLine ? line : QString();
}

Invitation::Reading Invitation::read(const QString &text, Invitation *invitation)
{
    const QStringView line = withoutDecorations(text);
    if (!line.startsWith(Scheme, Qt::CaseInsensitive))
        return Reading::BareAddress;
    const std::optional<Invitation> read = readLine(line);
    if (!read)
        return Reading::Damaged;
    if (invitation)
        *invitation = *read;
    return Reading::Invitation;
}

QByteArray Invitation::randomTicket()
{
    std::array<quint32, TicketBytes / sizeof(quint32)> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.data()), TicketBytes);
}
