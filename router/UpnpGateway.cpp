#include "UpnpGateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <array>

namespace {

// UPnP error codes a router answers AddPortMapping with.
constexpr int ConflictInMappingEntry = 718;
constexpr int OnlyPermanentLeasesSupported = 725;
constexpr int SamePortValuesRequired = 724;
constexpr const char *Description = "Skarnet";
constexpr const char *Tcp = "TCP";
constexpr unsigned char MulticastTtl = 2;

QByteArray number(int value)
{
    return QByteArray::number(value);
}

QString upnpReason(int code)
{
    const char *text = strupnperror(code);
    if (code > 0)
        return QStringLiteral("%1, UPnP error %2")
            .arg(text ? QString::fromUtf8(text) : QStringLiteral("no reason given"))
            .arg(code);
    return text ? QString::fromUtf8(text) : QStringLiteral("UPnP error %1").arg(code);
}

int addPortMapping(const PortMappingResult &mapping, int externalPort, int leaseSeconds)
{
    const QByteArray control = mapping.controlUrl.toUtf8();
    const QByteArray service = mapping.serviceType.toUtf8();
    const QByteArray client = mapping.lanAddress.toUtf8();
    return UPNP_AddPortMapping(control.constData(), service.constData(),
                               number(externalPort).constData(),
                               number(mapping.localPort).constData(), client.constData(),
                               Description, Tcp, nullptr, number(leaseSeconds).constData());
}

// Asks for `externalPort`; a router that keeps only permanent mappings is asked for one of
// those, which the program removes at its end like any other.
int addWithLeaseFallback(const PortMappingResult &mapping, int externalPort, int leaseSeconds)
{
    const int code = addPortMapping(mapping, externalPort, leaseSeconds);
    if (code == OnlyPermanentLeasesSupported)
        return addPortMapping(mapping, externalPort, 0);
    return code;
}

// Asks for the same external port as the local one, then, if the router refuses it (a port
// below 1024, or one already forwarded to another machine), for other free ports.
PortMappingResult requestPort(PortMappingResult mapping, int leaseSeconds)
{
    int code = addWithLeaseFallback(mapping, mapping.localPort, leaseSeconds);
    if (code == UPNPCOMMAND_SUCCESS) {
        mapping.externalPort = mapping.localPort;
        mapping.outcome = PortMappingResult::Outcome::Opened;
        return mapping;
    }
    const int firstRefusal = code;
    if (code > 0 && code != SamePortValuesRequired) {
        for (const int port : PortMappingResult::otherExternalPorts(mapping.localPort)) {
            code = addWithLeaseFallback(mapping, port, leaseSeconds);
            if (code == UPNPCOMMAND_SUCCESS) {
                mapping.externalPort = port;
                mapping.outcome = PortMappingResult::Outcome::Opened;
                return mapping;
            }
            if (code != ConflictInMappingEntry)
                break;
        }
    }
    mapping.outcome = PortMappingResult::Outcome::Refused;
    mapping.reason = upnpReason(firstRefusal);
    return mapping;
}

} // namespace

namespace UpnpGateway {

PortMappingResult open(int localPort, int leaseSeconds, int discoveryMs)
{
    PortMappingResult mapping =
        PortMappingResult::noRouterYet(PortMappingResult::Method::Upnp, localPort);

    // The router is looked for as a gateway device, then as the service itself, then as any
    // device; the search stops at the first kind that answers.
    static const char *const kinds[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                        "urn:schemas-upnp-org:service:WANIPConnection:1",
                                        "upnp:rootdevice", nullptr};
    int error = 0;
    UPNPDev *devices =
        upnpDiscoverDevices(kinds, discoveryMs, nullptr, nullptr, 0, 0, MulticastTtl, &error, 0);
    if (!devices)
        return mapping;
    UPNPUrls urls{};
    IGDdatas data{};
    std::array<char, 64> lanAddress{};
    // 1 and 2 are routers (2 says it is not connected, which routers with an unusual internet
    // address report wrongly: their own external address is judged below instead).
    const int found =
        UPNP_GetValidIGD(devices, &urls, &data, lanAddress.data(), int(lanAddress.size()));
    freeUPNPDevlist(devices);
    if (found != 1 && found != 2) {
        if (found != 0)
            FreeUPNPUrls(&urls);
        return mapping;
    }
    mapping.controlUrl = QString::fromUtf8(urls.controlURL);
    mapping.serviceType = QString::fromUtf8(data.first.servicetype);
    FreeUPNPUrls(&urls);
    mapping.lanAddress = QString::fromUtf8(lanAddress.data());

    std::array<char, 64> external{};
    const QByteArray control = mapping.controlUrl.toUtf8();
    const QByteArray service = mapping.serviceType.toUtf8();
    const int code =
        UPNP_GetExternalIPAddress(control.constData(), service.constData(), external.data());
    mapping.externalAddress = QString::fromUtf8(external.data());
    if (code != UPNPCOMMAND_SUCCESS || mapping.externalAddress.isEmpty() ||
        mapping.externalAddress == QLatin1String("0.0.0.0")) {
        mapping.outcome = PortMappingResult::Outcome::Refused;
        mapping.reason = QStringLiteral("it has no address on the internet");
        return mapping;
    }
    if (PortMappingResult::isPrivateOrShared(mapping.externalAddress)) {
        mapping.outcome = PortMappingResult::Outcome::BehindAnotherNetwork;
        return mapping;
    }
    return requestPort(mapping, leaseSeconds);
}

PortMappingResult renew(const PortMappingResult &mapping, int leaseSeconds)
{
    PortMappingResult renewed = mapping;
    const int code = addWithLeaseFallback(mapping, mapping.externalPort, leaseSeconds);
    if (code != UPNPCOMMAND_SUCCESS) {
        renewed.outcome = PortMappingResult::Outcome::Refused;
        renewed.reason = upnpReason(code);
    }
    return renewed;
}

void remove(const PortMappingResult &mapping)
{
    const QByteArray control = mapping.controlUrl.toUtf8();
    const QByteArray service = mapping.serviceType.toUtf8();
    UPNP_DeletePortMapping(control.constData(), service.constData(),
                           number(mapping.externalPort).constData(), Tcp, nullptr);
}

} // namespace UpnpGateway
