// What the program asks of the home router and what it tells the player about it, with a
// router that answers at once, one that never answers in time, and the real sentences; which
// IPv6 address a pinhole is asked for, and how the router's answers to it are read.
#include "EventLoopWait.h"
#include "FakeRouter.h"
#include "router/AbstractRouter.h"
#include "router/PortMappingResult.h"
#include "router/PortMappingScheduler.h"
#include "router/SoapRequest.h"
#include "router/UpnpPinhole.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QNetworkAddressEntry>
#include <QSignalSpy>
#include <QtTest>

namespace {

PortMappingResult mapping(PortMappingResult::Outcome outcome)
{
    PortMappingResult mapping;
    mapping.outcome = outcome;
    mapping.localPort = 123;
    mapping.externalPort = 40123;
    mapping.externalAddress = QStringLiteral("198.51.100.7");
    mapping.lanAddress = QStringLiteral("192.168.1.20");
    mapping.reason = QStringLiteral("Action not authorized, UPnP error 606");
    return mapping;
}

// Only the IPv6 firewall opened: the router's own internet address is shared.
PortMappingResult pinholeAlone()
{
    PortMappingResult mapping;
    mapping.outcome = PortMappingResult::Outcome::BehindAnotherNetwork;
    mapping.externalAddress = QStringLiteral("100.64.0.1");
    mapping.ipv6 = PortMappingResult::Ipv6Pinhole::Opened;
    mapping.ipv6Address = QStringLiteral("2001:db8::20");
    mapping.pinholeId = QStringLiteral("7");
    return mapping;
}

// Renewals and the stop's wait for the router here, instead of half an hour and a second.
constexpr int RenewalMs = 10;
constexpr int StopWaitMs = 20;

} // namespace

class TestPortMapping : public QObject
{
    Q_OBJECT

private slots:
    void addressesBehindAnotherNetwork_data();
    void addressesBehindAnotherNetwork();
    void sentences_data();
    void sentences();
    void otherPortsAreHighAndDistinct();
    void stableIpv6Addresses_data();
    void stableIpv6Addresses();
    void firewallAnswers_data();
    void firewallAnswers();
    void opensRenewsAndRemoves_data();
    void opensRenewsAndRemoves();
    void stopDoesNotWaitForASilentRouter();
};

void TestPortMapping::addressesBehindAnotherNetwork_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("behind");
    const std::pair<const char *, bool> rows[] = {
        {"10.0.0.1", true},        {"10.255.255.255", true},  {"172.16.0.1", true},
        {"172.31.255.254", true},  {"172.32.0.1", false},     {"172.15.255.255", false},
        {"192.168.77.1", true},    {"192.169.0.1", false},    {"100.64.0.1", true},
        {"100.127.255.254", true}, {"100.128.0.1", false},    {"100.63.255.255", false},
        {"203.0.113.1", false},    {"198.51.100.7", false},   {"", false},
        {"2001:db8::1", false},    {"not an address", false},
    };
    for (const auto &[address, behind] : rows)
        QTest::newRow(address) << QString::fromLatin1(address) << behind;
}

void TestPortMapping::addressesBehindAnotherNetwork()
{
    QFETCH(QString, address);
    QFETCH(bool, behind);
    QCOMPARE(PortMappingResult::isPrivateOrShared(address), behind);
}

void TestPortMapping::sentences_data()
{
    using Outcome = PortMappingResult::Outcome;
    QTest::addColumn<PortMappingResult>("mapping");
    QTest::addColumn<QString>("starts");
    QTest::addColumn<QStringList>("mentions");
    QTest::addColumn<QString>("dial");
    QTest::newRow("opened") << mapping(Outcome::Opened)
                            << "On the internet: 198.51.100.7:40123 (opened on your router)"
                            << QStringList() << "198.51.100.7:40123";
    QTest::newRow("asking") << mapping(Outcome::Asking)
                            << "On the internet: asking your router to open port 123"
                            << QStringList() << "";
    QTest::newRow("off") << mapping(Outcome::Off)
                         << "On the internet: not asked (port mapping is off)" << QStringList()
                         << "";
    QTest::newRow("no router") << mapping(Outcome::NoRouter)
                               << "On the internet: no router answered" << QStringList{"port 123"}
                               << "";
    QTest::newRow("refused") << mapping(Outcome::Refused) << "On the internet: your router refused"
                             << QStringList{"Action not authorized, UPnP error 606", "192.168.1.20"}
                             << "";
    QTest::newRow("behind another network")
        << mapping(Outcome::BehindAnotherNetwork)
        << "On the internet: your router is itself behind another network"
        << QStringList{"198.51.100.7", "IPv6", "wait for the connection"} << "";
    PortMappingResult pinhole = mapping(Outcome::Opened);
    pinhole.ipv6 = PortMappingResult::Ipv6Pinhole::Opened;
    pinhole.ipv6Address = QStringLiteral("2001:db8::20");
    QTest::newRow("opened, IPv6 pinhole")
        << pinhole << "On the internet: 198.51.100.7:40123 (opened on your router)"
        << QStringList{"[2001:db8::20]:123 (opened in your router's firewall)"}
        << "198.51.100.7:40123";
    PortMappingResult firewalled = mapping(Outcome::NoRouter);
    firewalled.ipv6 = PortMappingResult::Ipv6Pinhole::MayBeFirewalled;
    firewalled.ipv6Address = QStringLiteral("2001:db8::20");
    QTest::newRow("no router, IPv6 may be firewalled")
        << firewalled << "On the internet: no router answered"
        << QStringList{"[2001:db8::20]:123", "firewall may block it"} << "";
    PortMappingResult refusedPinhole = mapping(Outcome::Refused);
    refusedPinhole.ipv6 = PortMappingResult::Ipv6Pinhole::Opened;
    refusedPinhole.ipv6Address = QStringLiteral("2001:db8::20");
    QTest::newRow("refused, IPv6 pinhole")
        << refusedPinhole << "On the internet: your router refused"
        << QStringList{"[2001:db8::20]:123 (opened in your router's firewall)"}
        << "[2001:db8::20]:123";
}

void TestPortMapping::sentences()
{
    QFETCH(PortMappingResult, mapping);
    QFETCH(QString, starts);
    QFETCH(QStringList, mentions);
    QFETCH(QString, dial);
    const QString sentence = mapping.sentence();
    QVERIFY2(sentence.startsWith(starts), qPrintable(sentence));
    for (const QString &part : mentions)
        QVERIFY2(sentence.contains(part), qPrintable(sentence));
    QCOMPARE(mapping.dialAddress(), dial);
}

void TestPortMapping::otherPortsAreHighAndDistinct()
{
    for (const int localPort : {1, 123, 1023, 1024, 8080, 55535, 65535}) {
        const QList<int> ports = PortMappingResult::otherExternalPorts(localPort);
        QVERIFY(ports.size() >= 3);
        for (const int port : ports) {
            QVERIFY2(port >= 1024 && port <= 65535, qPrintable(QString::number(port)));
            QVERIFY(port != localPort);
            QCOMPARE(ports.count(port), 1);
        }
    }
    QCOMPARE(PortMappingResult::otherExternalPorts(123).first(), 40123);
}

void TestPortMapping::stableIpv6Addresses_data()
{
    using Eligibility = QNetworkAddressEntry::DnsEligibilityStatus;
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("eligibility");
    QTest::addColumn<int>("preferredSeconds"); // -1: no lifetime known
    QTest::addColumn<bool>("stable");
    const struct
    {
        const char *name;
        const char *address;
        Eligibility eligibility;
        int preferredSeconds;
        bool stable;
    } rows[] = {
        {"static", "2001:db8::20", Eligibility::DnsEligible, -1, true},
        // Autoconfigured: finite lifetimes, which Qt calls "temporary" too.
        {"autoconfigured", "2001:db8::20", Eligibility::DnsEligible, 3600, true},
        {"platform does not say", "2001:db8::20", Eligibility::DnsEligibilityUnknown, -1, true},
        {"temporary (privacy)", "2001:db8::9f3a", Eligibility::DnsIneligible, 3600, false},
        {"deprecated", "2001:db8::99", Eligibility::DnsEligible, 0, false},
        {"link-local", "fe80::20", Eligibility::DnsEligible, -1, false},
        {"unique local", "fd12:3456::20", Eligibility::DnsEligible, -1, false},
        {"loopback", "::1", Eligibility::DnsEligible, -1, false},
        {"IPv4", "198.51.100.7", Eligibility::DnsEligible, -1, false},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.address) << int(row.eligibility)
                                << row.preferredSeconds << row.stable;
}

void TestPortMapping::stableIpv6Addresses()
{
    QFETCH(QString, address);
    QFETCH(int, eligibility);
    QFETCH(int, preferredSeconds);
    QFETCH(bool, stable);
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(address));
    entry.setDnsEligibility(QNetworkAddressEntry::DnsEligibilityStatus(eligibility));
    if (preferredSeconds >= 0)
        entry.setAddressLifetime(QDeadlineTimer(preferredSeconds * 1000LL),
                                 QDeadlineTimer(7200 * 1000LL));
    QCOMPARE(UpnpPinhole::isStableGlobal(entry), stable);
}

void TestPortMapping::firewallAnswers_data()
{
    QTest::addColumn<QByteArray>("http");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("uniqueId");
    const QByteArray opened = "<?xml version=\"1.0\"?>\r\n<s:Envelope "
                              "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                              "<u:AddPinholeResponse xmlns:u=\"urn:schemas-upnp-org:service:"
                              "WANIPv6FirewallControl:1\">\r\n<UniqueID>7</UniqueID>\r\n"
                              "</u:AddPinholeResponse></s:Body></s:Envelope>\r\n";
    QTest::newRow("opened") << "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                   QByteArray::number(opened.size()) + "\r\n\r\n" + opened
                            << true << 0 << "7";
    // The same body in two chunks, cut inside the identifier.
    const qsizetype cut = opened.indexOf("</UniqueID>") - 1;
    QTest::newRow("opened, in chunks")
        << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray::number(cut, 16) +
               "\r\n" + opened.left(cut) + "\r\n" + QByteArray::number(opened.size() - cut, 16) +
               ";ext=1\r\n" + opened.mid(cut) + "\r\n0\r\n\r\n"
        << true << 0 << "7";
    QTest::newRow("refused") << QByteArray("HTTP/1.1 500 Internal Server Error\r\n\r\n"
                                           "<s:Envelope xmlns:s=\"s\"><s:Body><s:Fault>"
                                           "<faultcode>s:Client</faultcode><detail><UPnPError "
                                           "xmlns=\"urn:schemas-upnp-org:control-1-0\">"
                                           "<errorCode>606</errorCode><errorDescription>Action "
                                           "not authorized</errorDescription></UPnPError>"
                                           "</detail></s:Fault></s:Body></s:Envelope>")
                             << true << 606 << "";
    QTest::newRow("HTTP error") << QByteArray("HTTP/1.0 404 Not Found\r\n\r\n") << true << -1 << "";
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n") << false << -1 << "";
    QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK\r\nContent-Le") << false << -1 << "";
}

void TestPortMapping::firewallAnswers()
{
    QFETCH(QByteArray, http);
    QFETCH(bool, answered);
    QFETCH(int, errorCode);
    QFETCH(QString, uniqueId);
    const SoapRequest::Answer answer = SoapRequest::parse(http);
    QCOMPARE(answer.answered, answered);
    QCOMPARE(answer.errorCode, errorCode);
    QCOMPARE(answer.values.value(QStringLiteral("UniqueID")), uniqueId);
}

void TestPortMapping::opensRenewsAndRemoves_data()
{
    QTest::addColumn<PortMappingResult>("answer");
    QTest::addColumn<QString>("dial");
    QTest::newRow("IPv4 port") << FakeRouter::openedPort() << "198.51.100.7:40123";
    QTest::newRow("IPv6 pinhole alone") << pinholeAlone() << "[2001:db8::20]:123";
}

void TestPortMapping::opensRenewsAndRemoves()
{
    QFETCH(PortMappingResult, answer);
    QFETCH(QString, dial);
    auto router = std::make_shared<FakeRouter>(0, answer);
    PortMappingScheduler mapper(router, PortMappingScheduler::LeaseSeconds);
    mapper.setRenewalMs(RenewalMs);
    QSignalSpy changes(&mapper, &PortMappingScheduler::changed);
    mapper.start(123);
    QCOMPARE(mapper.current().outcome, PortMappingResult::Outcome::Asking);
    QVERIFY(changes.wait());
    QTRY_VERIFY(mapper.current().holdsLease());
    QCOMPARE(mapper.current().dialAddress(), dial);
    QCOMPARE(changes.size(), 2);

    mapper.start(123); // listening again keeps the mapping
    // Each renewal's answer is announced; the loop stops at the second, before a third is asked.
    while (changes.size() < 4)
        QVERIFY(changes.wait());
    QTRY_COMPARE_WITH_TIMEOUT(router->renewals.load(), 2, 3000);
    QCOMPARE(router->opens.load(), 1);

    mapper.stop();
    QCOMPARE(router->removals.load(), 1);
    mapper.start(123); // nothing is asked once stopped
    runEventsPast(5 * RenewalMs);
    QCOMPARE(router->opens.load(), 1);
    QCOMPARE(router->renewals.load(), 2);
}

void TestPortMapping::stopDoesNotWaitForASilentRouter()
{
    // The port opens only after the stop's wait, so there is nothing to remove in time; what
    // matters is that the program's end is not held up.
    auto router = std::make_shared<FakeRouter>(2000);
    auto mapper = std::make_unique<PortMappingScheduler>(router, 3600);
    mapper->setStopWaitMs(StopWaitMs);
    mapper->start(123);
    QElapsedTimer clock;
    clock.start();
    mapper.reset();
    QVERIFY2(clock.elapsed() < 1800, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(router->removals.load(), 0);
}

QTEST_GUILESS_MAIN(TestPortMapping)
#include "tst_portmapping.moc"
