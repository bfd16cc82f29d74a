#include "LineCode.h"

#include <array>
#include <utility>

// The check character. Each character after the scheme has a value of six bits, taken as an
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
// never meet where it matters: past its first '/', a line holds '/' only at fixed places and
// otherwise base64url, and what comes before holds only lower-case letters, digits and
// "-.:[]", among which all values differ. So any single changed character or swapped pair that
// still leaves a well-formed line changes the sum and is caught; the readers hold each line to
// exactly its segments, in their order, for this.

namespace {

constexpr char Base64UrlAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<qint8, 128> makeCharacterValues()
{
    std::array<qint8, 128> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i)
        values[std::size_t(Base64UrlAlphabet[i])] = qint8(i);
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

// Multiplication by x in GF(64), modulo x^6 + x + 1.
constexpr int timesX(int value)
{
    value <<= 1;
    return value & 0x40 ? value ^ 0x43 : value;
}

constexpr auto Base64UrlOptions = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

namespace LineCode {

int checkSum(QStringView characters)
{
    int sum = 0;
    for (const QChar ch : characters) {
        const int value = valueOf(ch);
        if (value < 0)
            return -1;
        sum = timesX(sum) ^ value; // Horner's rule
    }
    return sum;
}

QChar checkCharacter(QStringView characters)
{
    const int sum = checkSum(characters);
    return sum < 0 ? QChar() : QLatin1Char(Base64UrlAlphabet[timesX(sum)]);
}

bool isBase64Url(QChar ch)
{
    const int value = valueOf(ch);
    return value >= 0 && QLatin1Char(Base64UrlAlphabet[value]) == ch;
}

QString base64Url(const QByteArray &bytes)
{
    return QLatin1String(bytes.toBase64(Base64UrlOptions));
}

QByteArray readBase64Url(QStringView text, qsizetype bytes)
{
    for (const QChar ch : text) {
        if (!isBase64Url(ch))
            return {};
    }
    const QByteArray encoded = text.toLatin1();
    const QByteArray decoded = QByteArray::fromBase64(encoded, Base64UrlOptions);
    if ((bytes >= 0 && decoded.size() != bytes) || decoded.toBase64(Base64UrlOptions) != encoded)
        return {};
    return decoded;
}

QString lengthDigits(qsizetype length)
{
    if (length < 0 || length > LongestSegment)
        return {};
    const QChar digits[] = {QLatin1Char(Base64UrlAlphabet[length / 64]),
                            QLatin1Char(Base64UrlAlphabet[length % 64])};
    return QString(digits, LengthDigits);
}

int readLengthDigits(QStringView digits)
{
    if (digits.size() != LengthDigits || !isBase64Url(digits[0]) || !isBase64Url(digits[1]))
        return -1;
    return valueOf(digits[0]) * 64 + valueOf(digits[1]);
}

bool lengthWasChanged(QStringView characters, qsizetype digitsAt)
{
    const qsizetype segmentAt = digitsAt + LengthDigits;
    const qsizetype following = characters.size() - segmentAt - 1;
    if (digitsAt < 1 || following < 1)
        return false;
    const QString digits = lengthDigits(following);
    const auto isWhole = [&](const QString &line) {
        return QStringView(line).sliced(digitsAt, LengthDigits) == digits &&
               !readBase64Url(QStringView(line).sliced(segmentAt, following)).isEmpty() &&
               checkSum(line) == 0;
    };
    // One digit changed, or the two swapped.
    const QStringView written = characters.sliced(digitsAt, LengthDigits);
    const bool oneChanged = (digits[0] != written[0]) != (digits[1] != written[1]);
    const bool swapped = digits[0] == written[1] && digits[1] == written[0];
    QString whole = characters.toString();
    whole.replace(digitsAt, LengthDigits, digits);
    if ((oneChanged || swapped) && isWhole(whole))
        return true;
    // A digit swapped with its neighbour outside them.
    for (const qsizetype at : {digitsAt - 1, digitsAt + 1}) {
        whole = characters.toString();
        std::swap(whole[at], whole[at + 1]);
        if (isWhole(whole))
            return true;
    }
    return false;
}

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

} // namespace LineCode
