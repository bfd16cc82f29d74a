#pragma once

#include "DrawProtocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>

// This copy's side of the draws it makes together with the other copy over one link (see
// DrawProtocol for the messages). It plays both parts at once: the drawer of its own coin
// flips and dice rolls, and the checker of the other copy's.
//
//   start(faces) -> `outgoing` commit -> answer arrives -> `outgoing` reveal, ownDrawSettled
//                                     -> no answer in time, or the link ends: ownDrawFailed
//   commit arrives -> `outgoing` answer -> reveal arrives and matches -> opponentDrawSettled
//                                       -> anything else: opponentDrawUnchecked, with why
//
// A draw of the other copy is only ever reported once, settled or not. At most MostOpenDraws
// of its draws are open at once; commitments beyond that are not answered, and the player is
// told once until one of the open draws ends. Window-free: the owner
// carries `outgoing` to the link and hands every message of a draw code to `receive`.
class DrawExchange : public QObject
{
    Q_OBJECT
public:
    // Seconds, as the player is told them when a draw is given up.
    static constexpr int WaitSeconds = 5;
    static constexpr int MostOpenDraws = 4;

    enum class Unchecked
    {
        NoReveal,
        RevealMismatch,
        ReusedCommitment,
        TooManyOpen, // refused: MostOpenDraws of the other copy's draws were open already
        Unreadable,
        LinkEnded
    };
    Q_ENUM(Unchecked)
    enum class Failed
    {
        NoAnswer,
        LinkEnded
    };
    Q_ENUM(Failed)

    // Fresh random bytes of the given length; the system's generator unless a test sets one.
    using RandomBytes = std::function<QByteArray(int)>;

    explicit DrawExchange(QObject *parent = nullptr);

    // Starts a draw of a number from 1 to `faces` (2 or 6). False while one is under way.
    bool start(int faces);
    bool isDrawing() const { return m_own.has_value(); }
    // A message of a draw code from the other copy.
    void receive(const WireMessage &message);
    // The link these draws went over has ended (or another one began): nothing still under way
    // can be finished.
    void linkEnded();

    void setRandomBytes(RandomBytes randomBytes) { m_randomBytes = std::move(randomBytes); }
    // A shorter wait for the other copy's next step, for tests.
    void setWaitMs(int ms);

signals:
    void outgoing(const QString &message);
    void ownDrawSettled(int faces, int face);
    void ownDrawFailed(int faces, DrawExchange::Failed why);
    void opponentDrawSettled(int faces, int face);
    void opponentDrawUnchecked(int faces, DrawExchange::Unchecked why);

private:
    struct OwnDraw
    {
        quint32 id;
        int faces;
        QByteArray salt;
        QByteArray secret;
    };
    struct TheirDraw
    {
        quint32 id;
        int faces;
        QByteArray commitment;
        QByteArray answer;
        QDeadlineTimer revealBy;
    };

    void answer(const DrawProtocol::Message &commit);
    void settleOwn(const DrawProtocol::Message &answer);
    void check(const DrawProtocol::Message &reveal);
    void failOwn(Failed why);
    // Ends the other copy's open draw at `index` unsettled, and says why.
    void leaveTheirs(qsizetype index, Unchecked why);
    // Reports the open draws whose reveal is overdue, and waits for the next one due.
    void leaveOverdue();

    RandomBytes m_randomBytes;
    quint32 m_nextId = 1;
    std::optional<OwnDraw> m_own;
    // The other copy's open draws, oldest first.
    QList<TheirDraw> m_theirs;
    // The player was told that a commitment was refused while MostOpenDraws were open.
    bool m_refusalTold = false;
    int m_waitMs = WaitSeconds * 1000;
    // Every commitment the other copy has drawn with; one used twice could be a replay.
    QSet<QByteArray> m_seenCommitments;
    QTimer m_answerWait;
    // Runs out when the oldest open draw of the other copy is due.
    QTimer m_revealWait;
};
