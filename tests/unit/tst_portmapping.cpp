// What the program asks of the home router and what it tells the player about it, with a
// router that answers at once, one that never answers in time, and the real sentences.
#include "EventLoopWait.h"
#include "FakeRouter.h"
#include "router/AbstractRouter.h"
#include "router/PortMappingResult.h"
#include "router/PortMappingScheduler.h"

#include <QElapsedTimer>
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

void TestPortMapping::opensRenewsAndRemoves()
{
    auto router = std::make_shared<FakeRouter>();
    PortMappingScheduler mapper(router, PortMappingScheduler::LeaseSeconds);
    mapper.setRenewalMs(RenewalMs);
    QSignalSpy changes(&mapper, &PortMappingScheduler::changed);
    mapper.start(123);
    QCOMPARE(mapper.current().outcome, PortMappingResult::Outcome::Asking);
    QVERIFY(changes.wait());
    QTRY_VERIFY(mapper.current().isOpened());
    QCOMPARE(mapper.current().dialAddress(), QStringLiteral("198.51.100.7:40123"));
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
