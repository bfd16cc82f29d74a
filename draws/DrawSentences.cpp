#include "DrawSentences.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DrawSentences", text);
}

// "Heads" or "Tails" for the coin, the number for the die.
QString faceName(int faces, int face)
{
    if (faces == 2)
        return face == 1 ? QStringLiteral("Heads") : QStringLiteral("Tails");
    return QString::number(face);
}

} // namespace

namespace DrawSentences {

// The coin's texts write "opponnent" and the die's "opponent"; peers show them as they come.
QString announcement(int faces, int face)
{
    if (faces == 2)
        return QStringLiteral("Your opponnent: Flipped coin to ") + faceName(faces, face).toUpper();
    return QStringLiteral("Your opponent: Rolled dice to ") + faceName(faces, face);
}

QString sharedAnnouncement(int faces, int face)
{
    return announcement(faces, face) + tr(" (drawn by both copies)");
}

QString unchecked(int faces, DrawExchange::Unchecked why)
{
    const QString draw = faces == 2   ? tr("coin flip")
                         : faces == 6 ? tr("dice roll")
                                      : tr("coin flip or dice roll");
    QString reason;
    switch (why) {
    case DrawExchange::Unchecked::NoReveal:
        reason = tr("their copy did not reveal its draw within %1 seconds")
                     .arg(DrawExchange::WaitSeconds);
        break;
    case DrawExchange::Unchecked::RevealMismatch:
        reason = tr("their copy revealed a draw other than the one it had committed to");
        break;
    case DrawExchange::Unchecked::ReusedCommitment:
        reason = tr("their copy used the commitment of an earlier draw again");
        break;
    case DrawExchange::Unchecked::TooManyOpen:
        reason = tr("their copy started more draws than it revealed; draws beyond %1 at once "
                    "are refused")
                     .arg(DrawExchange::MostOpenDraws);
        break;
    case DrawExchange::Unchecked::Unreadable:
        reason = tr("their copy sent a draw message that could not be read");
        break;
    case DrawExchange::Unchecked::LinkEnded:
        reason = tr("the link ended before their copy revealed its draw");
        break;
    }
    return tr("Your opponent's %1 could not be checked (%2), so it has no result.")
        .arg(draw, reason);
}

QString received(int faces, int face)
{
    return faceName(faces, face) + QStringLiteral(", Your opponnent has received the outcome");
}

QString shared(int faces, int face)
{
    return faceName(faces, face) + tr(" (drawn by both copies)");
}

QString drawing()
{
    return tr("Drawing with your opponent's copy\u2026");
}

QString failed(DrawExchange::Failed why)
{
    switch (why) {
    case DrawExchange::Failed::NoAnswer:
        return tr("No result: your opponent's copy did not answer within %1 seconds")
            .arg(DrawExchange::WaitSeconds);
    case DrawExchange::Failed::LinkEnded:
        break;
    }
    return tr("No result: the link ended before the draw was settled");
}

} // namespace DrawSentences
