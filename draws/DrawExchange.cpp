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
    m_answerWait.setSingleShot(true);
    m_answerWait.setInterval(m_waitMs);
    connect(&m_answerWait, &QTimer::timeout, this, [this] { failOwn(Failed::NoAnswer); });
    m_revealWait.setSingleShot(true);
    m_revealWait.setTimerType(Qt::PreciseTimer);
    connect(&m_revealWait, &QTimer::timeout, this, &DrawExchange::leaveOverdue);
}

void DrawExchange::setWaitMs(int ms)
{
    m_waitMs = ms;
    m_answerWait.setInterval(ms);
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
        if (wire.code == WireCode::DrawCommit)
            emit opponentDrawUnchecked(0, Unchecked::Unreadable);
        else if (wire.code == WireCode::DrawReveal && !m_theirs.isEmpty())
            leaveTheirs(0, Unchecked::Unreadable);
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
    if (m_seenCommitments.contains(commit.commitment)) {
        emit opponentDrawUnchecked(commit.faces, Unchecked::ReusedCommitment);
        return;
    }
    if (m_theirs.size() >= MostOpenDraws) {
        if (!std::exchange(m_refusalTold, true))
            emit opponentDrawUnchecked(commit.faces, Unchecked::TooManyOpen);
        return;
    }
    m_seenCommitments.insert(commit.commitment);
    m_theirs.append(TheirDraw{commit.id, commit.faces, commit.commitment,
                              m_randomBytes(DrawProtocol::AnswerBytes),
                              QDeadlineTimer(m_waitMs, Qt::PreciseTimer)});
    if (!m_revealWait.isActive())
        m_revealWait.start(m_waitMs);
    emit outgoing(DrawProtocol::answer(commit.id, m_theirs.last().answer));
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
    if (m_theirs.isEmpty())
        return;
    qsizetype index = 0;
    while (index < m_theirs.size() && m_theirs[index].id != reveal.id)
        ++index;
    // A reveal naming no open draw stands for the oldest one, which it does not match.
    if (index == m_theirs.size() ||
        DrawProtocol::commitment(reveal.salt, reveal.secret) != m_theirs[index].commitment) {
        leaveTheirs(index == m_theirs.size() ? 0 : index, Unchecked::RevealMismatch);
        return;
    }
    const TheirDraw theirs = m_theirs.takeAt(index);
    m_refusalTold = false;
    emit opponentDrawSettled(theirs.faces,
                             DrawProtocol::face(theirs.faces, reveal.secret, theirs.answer));
}

void DrawExchange::linkEnded()
{
    if (m_own)
        failOwn(Failed::LinkEnded);
    while (!m_theirs.isEmpty())
        leaveTheirs(0, Unchecked::LinkEnded);
}

void DrawExchange::failOwn(Failed why)
{
    m_answerWait.stop();
    const int faces = m_own ? m_own->faces : 0;
    m_own.reset();
    emit ownDrawFailed(faces, why);
}

void DrawExchange::leaveTheirs(qsizetype index, Unchecked why)
{
    const TheirDraw theirs = m_theirs.takeAt(index);
    m_refusalTold = false;
    if (m_theirs.isEmpty())
        m_revealWait.stop();
    emit opponentDrawUnchecked(theirs.faces, why);
}

// Draws open in the order they were answered, so the oldest is always due first.
void DrawExchange::leaveOverdue()
{
    while (!m_theirs.isEmpty() && m_theirs.first().revealBy.hasExpired())
        leaveTheirs(0, Unchecked::NoReveal);
    if (!m_theirs.isEmpty())
        m_revealWait.start(int(std::max<qint64>(1, m_theirs.first().revealBy.remainingTime())));
}

#include "moc_DrawExchange.cpp"
