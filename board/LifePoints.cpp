#include "board/LifePoints.h"

#include <QByteArray>
#include <QStringView>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

// Conversions go through std::from_chars and std::to_chars rather than strtod and printf: those
// follow the process locale, which Qt sets from the environment, and would turn "." into ",".

namespace {

// Exponent digits beyond this are not read further; the number is then far outside the double
// range either way, and the running exponent cannot overflow.
constexpr qint64 MaxExponent = 1'000'000'000;
// A decimal exponent (of the first significant digit) beyond this is certainly out of range.
constexpr qint64 OutOfRangeExponent = 400;

constexpr double Infinity = std::numeric_limits<double>::infinity();

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The value of c as a digit of radix (8, 10 or 16), or -1.
int digitValue(QChar c, int radix)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < radix ? value : -1;
}

bool isDigit(QChar c)
{
    return digitValue(c, 10) >= 0;
}

// A number as read from text, before conversion.
struct Number
{
    bool negative = false;
    int radix = 10;
    QByteArray digits;     // every digit of the mantissa, without separators or point
    qsizetype pointAt = 0; // how many of the digits stand before the decimal point
    qint64 exponent = 0;   // decimal exponent, at most MaxExponent in magnitude
};

// Reads the longest number at the start of text into number and returns how many characters
// it took, or 0 when text does not begin with a number. Commas are read as thousands
// separators among the integer digits only when commas is set.
qsizetype scan(QStringView text, bool commas, Number &number)
{
    const auto at = [text](qsizetype i) {
        return i < text.size() ? text[i] : QChar();
    };

    if (at(0) == u'&') {
        const QChar prefix = at(1).toUpper();
        number.radix = prefix == u'H' ? 16 : prefix == u'O' ? 8 : 0;
        if (number.radix == 0)
            return 0;
        qsizetype i = 2;
        for (; digitValue(at(i), number.radix) >= 0; ++i)
            number.digits += char(at(i).unicode());
        return i > 2 ? i : 0;
    }

    qsizetype i = 0;
    if (at(0) == u'+' || at(0) == u'-') {
        number.negative = at(0) == u'-';
        ++i;
    }
    for (;; ++i) {
        if (isDigit(at(i)))
            number.digits += char(at(i).unicode());
        else if (!(commas && at(i) == u',' && !number.digits.isEmpty()))
            break;
    }
    number.pointAt = number.digits.size();
    if (at(i) == u'.') {
        qsizetype j = i + 1;
        for (; isDigit(at(j)); ++j)
            number.digits += char(at(j).unicode());
        if (number.digits.isEmpty())
            return 0; // a lone point is no number
        i = j;
    }
    if (number.digits.isEmpty())
        return 0;

    // An exponent counts only with at least one digit; otherwise the number ends before it.
    const QChar mark = at(i).toUpper();
    if (mark == u'E' || mark == u'D') {
        qsizetype j = i + 1;
        const bool negative = at(j) == u'-';
        if (at(j) == u'+' || at(j) == u'-')
            ++j;
        if (isDigit(at(j))) {
            qint64 exponent = 0;
            for (; isDigit(at(j)); ++j)
                exponent = std::min(exponent * 10 + digitValue(at(j), 10), MaxExponent);
            number.exponent = negative ? -exponent : exponent;
            i = j;
        }
    }
    return i;
}

// The bits of an octal digit string, regrouped as hexadecimal digits.
QByteArray octalToHex(const QByteArray &octal)
{
    static constexpr char HexDigits[] = "0123456789abcdef";
    QByteArray hex;
    // Leading zero bits so that the bits fall into whole hexadecimal digits.
    int pending = int((4 - octal.size() * 3 % 4) % 4);
    unsigned bits = 0;
    for (char digit : octal) {
        bits = (bits << 3) | unsigned(digit - '0');
        pending += 3;
        while (pending >= 4) {
            pending -= 4;
            hex += HexDigits[(bits >> pending) & 0xF];
        }
        bits &= (1u << pending) - 1;
    }
    return hex;
}

double toDouble(const Number &number)
{
    qsizetype lead = 0;
    while (lead < number.digits.size() && number.digits[lead] == '0')
        ++lead;
    if (lead == number.digits.size())
        return number.negative ? -0.0 : 0.0;
    QByteArray significant = number.digits.mid(lead);

    double value = 0;
    if (number.radix != 10) {
        const QByteArray hex = number.radix == 16 ? significant : octalToHex(significant);
        const auto result =
            std::from_chars(hex.cbegin(), hex.cend(), value, std::chars_format::hex);
        return result.ec == std::errc() ? value : Infinity;
    }

    // Written again as d.ddd e<exponent of the first significant digit>, so that from_chars sees
    // a small exponent however many zeros the text had and however large its exponent was.
    const qint64 exponent = number.exponent + number.pointAt - lead - 1;
    if (exponent > OutOfRangeExponent)
        value = Infinity;
    else if (exponent >= -OutOfRangeExponent) {
        if (significant.size() > 1)
            significant.insert(1, '.');
        significant += 'e' + QByteArray::number(exponent);
        const auto result = std::from_chars(significant.cbegin(), significant.cend(), value);
        if (result.ec == std::errc::result_out_of_range)
            value = exponent > 0 ? Infinity : 0.0;
    }
    return number.negative ? -value : value;
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

std::optional<QString> step(const QString &lifePoints, const QString &amount, int direction)
{
    if (!LifePoints::isNumeric(amount))
        return std::nullopt;
    const double total = LifePoints::valueOf(lifePoints) + direction * LifePoints::valueOf(amount);
    if (!std::isfinite(total))
        return std::nullopt;
    return LifePoints::toText(total);
}

} // namespace

namespace LifePoints {

bool isNumeric(const QString &text)
{
    const QStringView number = trimBlanks(text);
    Number parsed;
    return !number.isEmpty() && scan(number, true, parsed) == number.size();
}

double valueOf(const QString &text)
{
    Number number;
    qsizetype taken = 0;
    if (isNumeric(text)) {
        taken = scan(trimBlanks(text), true, number);
    } else {
        QString packed = text;
        packed.removeIf(isBlank);
        taken = scan(packed, false, number);
    }
    return taken > 0 ? toDouble(number) : 0.0;
}

QString toText(double value)
{
    if (value == 0)
        value = 0.0; // no "-0"
    char buffer[32];
    const auto result =
        std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::general, 15);
    return QString::fromLatin1(buffer, result.ptr - buffer).replace(u'e', u'E');
}

std::optional<QString> add(const QString &lifePoints, const QString &amount)
{
    return step(lifePoints, amount, 1);
}

std::optional<QString> subtract(const QString &lifePoints, const QString &amount)
{
    return step(lifePoints, amount, -1);
}

} // namespace LifePoints
