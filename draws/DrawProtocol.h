#pragma once

#include "wire/WireMessage.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The messages and the arithmetic of a draw that two copies make together, so that neither
// can choose its result (commit, answer, reveal):
//
//   drawer                                    other copy
//   ------                                    ----------
//   secret, salt: fresh random bytes
//   "21" id " " faces " " hex(SHA-256(salt secret))
//                                             answer: fresh random bytes
//                                             "22" id " " hex(answer)
//   "23" id " " hex(salt) " " hex(secret)
//   face(faces, secret, answer)               checks SHA-256(salt secret) against the
//                                             commitment, then face(faces, secret, answer)
//
// The answer is chosen before the secret is known and the secret is fixed before the answer
// is known, so the result is as random as either copy's bytes. Hex is lower case; the codes
// travel only between copies that greeted with version 2 or later.
class DrawProtocol
{
public:
    static constexpr int SecretBytes = 32;
    static constexpr int SaltBytes = 16;
    static constexpr int AnswerBytes = 32;

    enum class Step
    {
        Commit,
        Answer,
        Reveal
    };

    // One message of a draw as read from the wire. Only the fields of its step are set.
    struct Message
    {
        Step step = Step::Commit;
        quint32 id = 0;
        int faces = 0;
        QByteArray commitment;
        QByteArray answer;
        QByteArray salt;
        QByteArray secret;
    };

    static bool isDrawCode(const QString &code);
    // Null for a message of another code, or one whose fields are missing, malformed, of the
    // wrong length or (for a commitment) of a number of faces other than 2 or 6.
    static std::optional<Message> parse(const WireMessage &message);

    static QString commit(quint32 id, int faces, const QByteArray &commitment);
    static QString answer(quint32 id, const QByteArray &answer);
    static QString reveal(quint32 id, const QByteArray &salt, const QByteArray &secret);

    static QByteArray commitment(const QByteArray &salt, const QByteArray &secret);
    // The face from 1 to `faces` that the two values give. SHA-256 of secret then answer is
    // read as eight big-endian 32-bit words; the first word below the largest multiple of
    // `faces` under 2^32 gives its remainder plus one. Words at or above it are skipped, so no
    // face is favoured; should all eight be, the digest is hashed again.
    static int face(int faces, const QByteArray &secret, const QByteArray &answer);
    // One word's face, or nothing when the word is skipped.
    static std::optional<int> faceOfWord(quint32 word, int faces);
};
