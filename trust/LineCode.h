#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// What the invitation and the reply lines have in common: the check character that refuses a
// line damaged on its way, base64url without padding, the two-digit length of a variable
// segment, and the chat punctuation that pasted text is freed of.
namespace LineCode {

// The sum the check character completes, over the characters after the scheme: 0 for a whole
// line, -1 if a character has no value (anything but base64url and ".:[]/").
int checkSum(QStringView characters);
// The check character that makes `characters` followed by it sum to 0.
QChar checkCharacter(QStringView characters);

bool isBase64Url(QChar ch);
QString base64Url(const QByteArray &bytes);
// The bytes `text` encodes in its one canonical spelling; empty if `text` is not that, or if
// `bytes` is not negative and they are not that many.
QByteArray readBase64Url(QStringView text, qsizetype bytes = -1);

// A length of 0-4095 as two base64url digits, and back (-1 for anything but two such digits).
constexpr qsizetype LengthDigits = 2, LongestSegment = 64 * 64 - 1;
QString lengthDigits(qsizetype length);
int readLengthDigits(QStringView digits);
// Whether a line whose segment seems cut short (fewer characters follow its length digits at
// `digitsAt` than they say) is rather whole but for one changed length digit, or a digit swapped
// with a neighbour: whether, with that undone so that the digits say how many characters follow
// but the check character, these read and the line sums to 0.
bool lengthWasChanged(QStringView characters, qsizetype digitsAt);

// Pasted text without the blanks around it, an enclosing <> and the punctuation that chat
// programs add or take to belong to the line.
QStringView withoutDecorations(QStringView text);

} // namespace LineCode
