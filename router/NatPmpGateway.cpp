#include "NatPmpGateway.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <natpmp.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

// One request to the gateway, open for the life of the object.
class Gateway
{
public:
    Gateway() { m_ready = initnatpmp(&m_natpmp, 0, 0) == 0; }
    ~Gateway()
    {
        if (m_ready)
            closenatpmp(&m_natpmp);
    }
    Gateway(const Gateway &) = delete;
    Gateway &operator=(const Gateway &) = delete;

    bool ready() const { return m_ready; }
    natpmp_t *handle() { return &m_natpmp; }

    // Waits for the answer to the request just sent, resending it on libnatpmp's schedule,
    // for at most `answerMs`. 0 when the router answered yes, else libnatpmp's error code.
    int answer(natpmpresp_t &response, int answerMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const int result = readnatpmpresponseorretry(&m_natpmp, &response);
            if (result != NATPMP_TRYAGAIN)
                return result;
            const qint64 left = answerMs - clock.elapsed();
            if (left <= 0)
                return NATPMP_TRYAGAIN;
            timeval wait{};
            getnatpmprequesttimeout(&m_natpmp, &wait);
            const qint64 waitMs =
                std::clamp<qint64>(qint64(wait.tv_sec) * 1000 + wait.tv_usec / 1000, 1, left);
            wait.tv_sec = time_t(waitMs / 1000);
            wait.tv_usec = suseconds_t((waitMs % 1000) * 1000);
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_natpmp.s, &readable);
            select(m_natpmp.s + 1, &readable, nullptr, nullptr, &wait);
        }
    }

    // This machine's address toward the gateway: the one the router forwards to.
    QString localAddress() const
    {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (getsockname(m_natpmp.s, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return {};
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        return QString::fromLatin1(text);
    }

private:
    natpmp_t m_natpmp{};
    bool m_ready = false;
};

QString reasonFor(int code)
{
    switch (code) {
    case NATPMP_ERR_NOTAUTHORIZED:
        return QStringLiteral("not authorized, NAT-PMP");
    case NATPMP_ERR_NETWORKFAILURE:
        return QStringLiteral("it is not connected to the internet, NAT-PMP");
    case NATPMP_ERR_OUTOFRESOURCES:
        return QStringLiteral("it has no room for another mapping, NAT-PMP");
    default:
        return QStringLiteral("NAT-PMP error %1").arg(code);
    }
}

// Asks for `publicPort` (a wish: the router may give another, which it says in its answer).
int requestMapping(Gateway &gateway, PortMappingResult &mapping, int publicPort, int leaseSeconds,
                   int answerMs)
{
    natpmpresp_t response{};
    sendnewportmappingrequest(gateway.handle(), NATPMP_PROTOCOL_TCP, uint16_t(mapping.localPort),
                              uint16_t(publicPort), uint32_t(leaseSeconds));
    const int result = gateway.answer(response, answerMs);
    if (result == 0)
        mapping.externalPort = response.pnu.newportmapping.mappedpublicport;
    return result;
}

// A router that answers NAT-PMP at all: one that does not is NoRouter; one that says no is
// Refused.
bool isServerRefusal(int code)
{
    return code <= NATPMP_ERR_UNDEFINEDERROR && code >= NATPMP_ERR_OUTOFRESOURCES;
}

} // namespace

namespace NatPmpGateway {

PortMappingResult open(int localPort, int leaseSeconds, int answerMs)
{
    PortMappingResult mapping =
        PortMappingResult::noRouterYet(PortMappingResult::Method::NatPmp, localPort);
    Gateway gateway;
    if (!gateway.ready())
        return mapping;

    natpmpresp_t response{};
    sendpublicaddressrequest(gateway.handle());
    int result = gateway.answer(response, answerMs);
    if (result != 0) {
        if (isServerRefusal(result)) {
            mapping.outcome = PortMappingResult::Outcome::Refused;
            mapping.reason = reasonFor(result);
        }
        return mapping;
    }
    char external[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &response.pnu.publicaddress.addr, external, sizeof external);
    mapping.externalAddress = QString::fromLatin1(external);
    mapping.lanAddress = gateway.localAddress();
    if (PortMappingResult::isPrivateOrShared(mapping.externalAddress)) {
        mapping.outcome = PortMappingResult::Outcome::BehindAnotherNetwork;
        return mapping;
    }

    result = requestMapping(gateway, mapping, localPort, leaseSeconds, answerMs);
    if (result == NATPMP_ERR_NOTAUTHORIZED) {
        // Often a refusal of ports below 1024: ask for a high one instead.
        for (const int port : PortMappingResult::otherExternalPorts(localPort)) {
            result = requestMapping(gateway, mapping, port, leaseSeconds, answerMs);
            if (result != NATPMP_ERR_NOTAUTHORIZED)
                break;
        }
    }
    if (result == 0) {
        mapping.outcome = PortMappingResult::Outcome::Opened;
    } else if (isServerRefusal(result)) {
        mapping.outcome = PortMappingResult::Outcome::Refused;
        mapping.reason = reasonFor(result);
    }
    return mapping;
}

PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds, int answerMs)
{
    PortMappingResult renewed = mapping;
    Gateway gateway;
    const int result = gateway.ready() ? requestMapping(gateway, renewed, mapping.externalPort,
                                                        leaseSeconds, answerMs)
                                       : NATPMP_ERR_CANNOTGETGATEWAY;
    if (result != 0) {
        renewed.outcome = isServerRefusal(result) ? PortMappingResult::Outcome::Refused
                                                  : PortMappingResult::Outcome::NoRouter;
        renewed.reason = reasonFor(result);
    }
    return renewed;
}

void remove(const PortMappingResult &mapping, int answerMs)
{
    Gateway gateway;
    if (!gateway.ready())
        return;
    natpmpresp_t response{};
    // A lifetime of 0 removes the mapping of this private port.
    sendnewportmappingrequest(gateway.handle(), NATPMP_PROTOCOL_TCP, uint16_t(mapping.localPort),
                              uint16_t(mapping.externalPort), 0);
    gateway.answer(response, answerMs);
}

} // namespace NatPmpGateway
