#include "DrawExchange.h"

#include <QRandomGenerator>

namespace {

QByteArray systemRandomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

} // namespace

DrawExchange::DrawExchange(QObject *parent)
    : QObject(parent)
    , m_randomBytes(systemRandomBytes)
{
    for (QTimer *wait : {&m_answerWait, &m_revealWait}) {
        wait->setSingleShot(true);
        wait->setInterval(WaitSeconds * 1000);
    }
    connect(&m_answerWait, &QTimer::timeout, this, [this] { failOwn(Failed::NoAnswer); });
    connect(&m_revealWait, &QTimer::timeout, this, [this] { leaveTheirs(Unchecked::NoReveal); });
}

void DrawExchange::setWaitMs(int ms)
{
    m_answerWait.setInterval(ms);
    m_revealWait.setInterval(ms);
}

bool DrawExchange::start(int faces)
{
    if (m_own)
        return false;
    m_own = OwnDraw{m_nextId++, faces, m_randomBytes(DrawProtocol::SaltBytes),
                    m_randomBytes(DrawProtocol::SecretBytes)};
    m_answerWait.start();
    emit outgoing(DrawProtocol::commit(m_own->id, faces,
                                       DrawProtocol::commitment(m_own->salt, m_own->secret)));
    return true;
}

void DrawExchange::receive(const WireMessage &wire)
{
    const std::optional<DrawProtocol::Message> message = DrawProtocol::parse(wire);
    if (!message) {
        // Only a broken commitment or reveal leaves one of their draws unsettled; a broken
        // answer is as good as none, and this copy's own draw runs out.
        if (wire.code == WireCode::DrawCommit) {
            if (m_theirs)
                leaveTheirs(Unchecked::AnotherDrawStarted);
            emit opponentDrawUnchecked(0, Unchecked::Unreadable);
        } else if (wire.code == WireCode::DrawReveal && m_theirs) {
            leaveTheirs(Unchecked::Unreadable);
        }
        return;
    }
    switch (message->step) {
    case DrawProtocol::Step::Commit:
        answer(*message);
        break;
    case DrawProtocol::Step::Answer:
        settleOwn(*message);
        break;
    case DrawProtocol::Step::Reveal:
        check(*message);
        break;
    }
}

void DrawExchange::answer(const DrawProtocol::Message &commit)
{
    if (m_theirs)
        leaveTheirs(Unchecked::AnotherDrawStarted);
    if (m_seenCommitments.contains(commit.commitment)) {
        emit opponentDrawUnchecked(commit.faces, Unchecked::ReusedCommitment);
        return;
    }
    m_seenCommitments.insert(commit.commitment);
    m_theirs = TheirDraw{commit.id, commit.faces, commit.commitment,
                         m_randomBytes(DrawProtocol::AnswerBytes)};
    m_revealWait.start();
    emit outgoing(DrawProtocol::answer(commit.id, m_theirs->answer));
}

void DrawExchange::settleOwn(const DrawProtocol::Message &answer)
{
    // An answer to a draw given up already, or to none, changes nothing.
    if (!m_own || answer.id != m_own->id)
        return;
    m_answerWait.stop();
    const OwnDraw own = *m_own;
    m_own.reset();
    emit outgoing(DrawProtocol::reveal(own.id, own.salt, own.secret));
    emit ownDrawSettled(own.faces, DrawProtocol::face(own.faces, own.secret, answer.answer));
}

void DrawExchange::check(const DrawProtocol::Message &reveal)
{
    // A reveal after the draw was given up (or reported) was reported already.
    if (!m_theirs)
        return;
    if (reveal.id != m_theirs->id ||
        DrawProtocol::commitment(reveal.salt, reveal.secret) != m_theirs->commitment) {
        leaveTheirs(Unchecked::RevealMismatch);
        return;
    }
    m_revealWait.stop();
    const TheirDraw theirs = *m_theirs;
    m_theirs.reset();
    emit opponentDrawSettled(theirs.faces,
                             DrawProtocol::face(theirs.faces, reveal.secret, theirs.answer));
}

void DrawExchange::linkEnded()
{
    if (m_own)
        failOwn(Failed::LinkEnded);
    if (m_theirs)
        leaveTheirs(Unchecked::LinkEnded);
}

void DrawExchange::failOwn(Failed why)
{
    m_answerWait.stop();
    const int faces = m_own ? m_own->faces : 0;
    m_own.reset();
    emit ownDrawFailed(faces, why);
}

void DrawExchange::leaveTheirs(Unchecked why)
{
    m_revealWait.stop();
    const int faces = m_theirs ? m_theirs->faces : 0;
    m_theirs.reset();
    emit opponentDrawUnchecked(faces, why);
}
