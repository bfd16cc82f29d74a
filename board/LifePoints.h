#pragma once

#include <QString>

#include <optional>

// The life point calculator's arithmetic, without any window: reading an amount and the life
// points from free text, and writing the new total back as text.
//
// An amount is accepted when, with blanks (spaces and tabs) around it ignored, it reads
//
//   number   = [sign] mantissa [exponent] | "&H" hexdigit {hexdigit} | "&O" octdigit {octdigit}
//   mantissa = digit {digit | ","} ["." {digit}] | "." digit {digit}
//   exponent = ("E" | "D") [sign] digit {digit}
//   sign     = "+" | "-"
//
// Letters may be in either case; digits are the ASCII digits only. Commas are thousands
// separators and may stand anywhere among the integer digits, even doubled or at the end, but
// never first and never after the decimal point.
namespace LifePoints {

// Whether the calculator takes text as an amount (the grammar above).
bool isNumeric(const QString &text);

// The number text shows. Text that isNumeric() accepts is read whole, thousands separators
// included ("1,000" is 1000, "&H10" is 16). Any other text is read as its longest leading
// number, with blanks anywhere ignored and a comma ending the number ("1 2" is 12, "8000x" is
// 8000, "1,000x" is 1); text that does not begin with a number is 0.
// Decimal numbers are rounded correctly to the nearest double. Magnitudes beyond the double
// range become +-infinity, too small nonzero ones become +-0; hexadecimal and octal numbers
// are never negative and become +infinity beyond the range.
double valueOf(const QString &text);

// value rounded to 15 significant digits, with "." as decimal point and without trailing zeros
// ("7999.5", "-200"); below 1E-04 or from 1E+15 on (after rounding) in exponent form with an
// uppercase E, a sign and at least two exponent digits ("1.5E-05"). -0 is written "0";
// infinities and NaN come out as "inf", "-inf" and "nan".
QString toText(double value);

// The calculator's two steps: the new life points text, or nullopt when the amount is not
// numeric or the result is not a finite number (the board then keeps its life points, so it
// never shows "inf"). Life points that are not a number count as 0.
std::optional<QString> add(const QString &lifePoints, const QString &amount);
std::optional<QString> subtract(const QString &lifePoints, const QString &amount);

} // namespace LifePoints
