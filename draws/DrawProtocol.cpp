#include "DrawProtocol.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringList>
#include <QtEndian>

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// Exactly `bytes` bytes written as lower-case hex, or nothing.
std::optional<QByteArray> fromHex(const QString &text, int bytes)
{
    static const QRegularExpression lowerHex(QStringLiteral("^[0-9a-f]*$"));
    if (text.size() != 2 * bytes || !lowerHex.match(text).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(text.toLatin1());
}

// Plain decimal digits without a leading zero, as `commit` writes them: toUInt alone would also
// take a sign, blanks or "007".
std::optional<quint32> drawId(const QString &text)
{
    bool isNumber = false;
    const uint id = text.toUInt(&isNumber);
    if (!isNumber || QString::number(id) != text)
        return std::nullopt;
    return quint32(id);
}

} // namespace

bool DrawProtocol::isDrawCode(const QString &code)
{
    return code == WireCode::DrawCommit || code == WireCode::DrawAnswer ||
           code == WireCode::DrawReveal;
}

std::optional<DrawProtocol::Message> DrawProtocol::parse(const WireMessage &wire)
{
    const QStringList fields = wire.payload.split(QLatin1Char(' '));
    Message message;
    const auto id = drawId(fields.value(0));
    if (!id)
        return std::nullopt;
    message.id = *id;
    if (wire.code == WireCode::DrawCommit && fields.size() == 3) {
        message.step = Step::Commit;
        message.faces = fields[1] == QLatin1String("2")   ? 2
                        : fields[1] == QLatin1String("6") ? 6
                                                          : 0;
        const auto commitment = fromHex(fields[2], 32);
        if (message.faces == 0 || !commitment)
            return std::nullopt;
        message.commitment = *commitment;
        return message;
    }
    if (wire.code == WireCode::DrawAnswer && fields.size() == 2) {
        message.step = Step::Answer;
        const auto answer = fromHex(fields[1], AnswerBytes);
        if (!answer)
            return std::nullopt;
        message.answer = *answer;
        return message;
    }
    if (wire.code == WireCode::DrawReveal && fields.size() == 3) {
        message.step = Step::Reveal;
        const auto salt = fromHex(fields[1], SaltBytes);
        const auto secret = fromHex(fields[2], SecretBytes);
        if (!salt || !secret)
            return std::nullopt;
        message.salt = *salt;
        message.secret = *secret;
        return message;
    }
    return std::nullopt;
}

QString DrawProtocol::commit(quint32 id, int faces, const QByteArray &commitment)
{
    return WireCode::DrawCommit +
           QStringLiteral("%1 %2 %3").arg(id).arg(faces).arg(hex(commitment));
}

QString DrawProtocol::answer(quint32 id, const QByteArray &answer)
{
    return WireCode::DrawAnswer + QStringLiteral("%1 %2").arg(id).arg(hex(answer));
}

QString DrawProtocol::reveal(quint32 id, const QByteArray &salt, const QByteArray &secret)
{
    return WireCode::DrawReveal + QStringLiteral("%1 %2 %3").arg(id).arg(hex(salt), hex(secret));
}

QByteArray DrawProtocol::commitment(const QByteArray &salt, const QByteArray &secret)
{
    return QCryptographicHash::hash(salt + secret, QCryptographicHash::Sha256);
}

std::optional<int> DrawProtocol::faceOfWord(quint32 word, int faces)
{
    const quint64 range = quint64(1) << 32;
    const quint64 usable = range - range % quint64(faces);
    if (word >= usable)
        return std::nullopt;
    return int(word % quint32(faces)) + 1;
}

int DrawProtocol::face(int faces, const QByteArray &secret, const QByteArray &answer)
{
    QByteArray digest = QCryptographicHash::hash(secret + answer, QCryptographicHash::Sha256);
    for (;;) {
        for (qsizetype at = 0; at + 4 <= digest.size(); at += 4) {
            const quint32 word = qFromBigEndian<quint32>(digest.constData() + at);
            if (const auto face = faceOfWord(word, faces))
                return *face;
        }
        digest = QCryptographicHash::hash(digest, QCryptographicHash::Sha256);
    }
}
