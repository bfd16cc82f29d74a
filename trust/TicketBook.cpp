#include "TicketBook.h"

#include "Invitation.h"

#include <openssl/crypto.h>

namespace {

// Whether two tickets are equal, in a time that does not depend on where they differ.
bool sameTicket(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), a.size()) == 0;
}

} // namespace

TicketBook::TicketBook()
    : m_current(Invitation::randomTicket())
{
}

void TicketBook::renew()
{
    retireCurrent(Verdict::Replaced);
}

TicketBook::Verdict TicketBook::redeem(const QByteArray &ticket)
{
    if (sameTicket(ticket, m_current)) {
        retireCurrent(Verdict::Used);
        return Verdict::Valid;
    }
    // Every remembered ticket is compared, so the time taken does not tell which one matched.
    Verdict verdict = Verdict::Unknown;
    for (const Spent &spent : m_spent) {
        if (sameTicket(ticket, spent.ticket))
            verdict = spent.verdict;
    }
    return verdict;
}

void TicketBook::retireCurrent(Verdict verdict)
{
    m_spent.append({m_current, verdict});
    if (m_spent.size() > Remembered)
        m_spent.removeFirst();
    m_current = Invitation::randomTicket();
}
