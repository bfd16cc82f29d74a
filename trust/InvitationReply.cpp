#include "InvitationReply.h"

#include "Invitation.h"
#include "LineCode.h"

#include <QStringView>

namespace {

constexpr QStringView ReplyScheme = u"skarnet-reply:";
constexpr QStringView InvitationScheme = u"skarnet:";

// After the scheme: "K" fingerprint "/A" ufrag, the length digits, the description, the check.
constexpr qsizetype ReplyFingerprintLength = 22, AnswersLength = 4;
constexpr qsizetype ReplyFingerprintAt = 1;
constexpr qsizetype AnswersMarkAt = ReplyFingerprintAt + ReplyFingerprintLength;
constexpr qsizetype AnswersAt = AnswersMarkAt + 2;
constexpr qsizetype DigitsAt = AnswersAt + AnswersLength;
constexpr qsizetype DescriptionAt = DigitsAt + LineCode::LengthDigits;

// Whether the character at `at` of the part after the scheme may stand there.
bool fitsAt(qsizetype at, QChar ch)
{
    if (at == 0)
        return ch == u'K';
    if (at == AnswersMarkAt)
        return ch == u'/';
    if (at == AnswersMarkAt + 1)
        return ch == u'A';
    return LineCode::isBase64Url(ch);
}

InvitationReply::Reading readBody(QStringView body, InvitationReply *reply)
{
    using Reading = InvitationReply::Reading;
    for (qsizetype at = 0; at < body.size(); ++at) {
        if (!fitsAt(at, body[at]))
            return Reading::Damaged;
    }
    InvitationReply read;
    if (body.size() >= AnswersMarkAt) {
        read.fingerprint = LineCode::readBase64Url(
            body.sliced(ReplyFingerprintAt, ReplyFingerprintLength), Invitation::FingerprintBytes);
        if (read.fingerprint.isEmpty())
            return Reading::Damaged;
    }
    if (body.size() < DescriptionAt)
        return Reading::CutShort;
    read.answers = LineCode::readBase64Url(body.sliced(AnswersAt, AnswersLength),
                                           InvitationReply::AnswersBytes);
    const int descriptionLength = LineCode::readLengthDigits(body.sliced(DigitsAt, 2));
    if (read.answers.isEmpty() || descriptionLength == 0 ||
        body.size() > DescriptionAt + descriptionLength + 1)
        return Reading::Damaged;
    if (body.size() < DescriptionAt + descriptionLength + 1)
        return LineCode::lengthWasChanged(body, DigitsAt) ? Reading::Damaged : Reading::CutShort;
    read.description = LineCode::readBase64Url(body.sliced(DescriptionAt, descriptionLength));
    if (read.description.isEmpty() || LineCode::checkSum(body) != 0)
        return Reading::Damaged;
    if (reply)
        *reply = read;
    return Reading::Reply;
}

} // namespace

QString InvitationReply::line() const
{
    if (fingerprint.size() != Invitation::FingerprintBytes || answers.size() != AnswersBytes ||
        description.isEmpty())
        return {};
    const QString encodedDescription = LineCode::base64Url(description);
    if (encodedDescription.size() > LineCode::LongestSegment)
        return {};
    QString body = QLatin1Char('K') + LineCode::base64Url(fingerprint) + QLatin1String("/A") +
                   LineCode::base64Url(answers) +
                   LineCode::lengthDigits(encodedDescription.size()) + encodedDescription;
    body += LineCode::checkCharacter(body);
    const QString line = ReplyScheme.toString() + body;
    return line.size() <= LongestLine ? line : QString();
}

InvitationReply::Reading InvitationReply::read(const QString &text, InvitationReply *reply)
{
    const QStringView line = LineCode::withoutDecorations(text);
    if (line.startsWith(ReplyScheme, Qt::CaseInsensitive))
        return line.size() > LongestLine ? Reading::Damaged
                                         : readBody(line.sliced(ReplyScheme.size()), reply);
    if (!line.startsWith(InvitationScheme, Qt::CaseInsensitive))
        return Reading::NotAReply;
    Invitation invitation;
    if (Invitation::read(line.toString(), &invitation) == Invitation::Reading::Invitation && reply)
        *reply = InvitationReply{invitation.fingerprint, {}, {}};
    return Reading::Invitation;
}
