#pragma once

#include <QByteArray>
#include <QList>

// The tickets this copy handed out in its invitations. One ticket is current at a time; it
// lets one copy in once. A ticket that was taken, or that the player voided by asking for a
// new invitation, is remembered for a while, so that a late comer can be told which it is.
class TicketBook
{
public:
    enum class Verdict
    {
        Valid,    // the current ticket: it is taken now
        Used,     // taken before
        Replaced, // voided by a new invitation before anyone took it
        Unknown   // never handed out, or handed out too long ago to be remembered
    };

    // How many used and replaced tickets are remembered, the newest ones.
    static constexpr qsizetype Remembered = 32;

    // Starts with one fresh ticket.
    TicketBook();

    QByteArray current() const { return m_current; }
    // "New invitation": the current ticket is voided and a fresh one becomes current.
    void renew();
    // Valid once for the current ticket, and a fresh ticket becomes current; afterwards the
    // ticket is Used. A renewed one is Replaced, anything else Unknown. Tickets are compared
    // in constant time.
    Verdict redeem(const QByteArray &ticket);

private:
    struct Spent
    {
        QByteArray ticket;
        Verdict verdict;
    };

    void retireCurrent(Verdict verdict);

    QByteArray m_current;
    QList<Spent> m_spent; // oldest first
};
