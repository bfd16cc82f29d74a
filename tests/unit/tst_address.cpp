// Reading the address the player types into "Connect to IP", and the order in which this
// machine's own addresses are offered to the other player; no window, no network.
#include "link/LocalAddresses.h"
#include "link/PeerAddress.h"

#include <QtTest>

using Problem = PeerAddress::Problem;
Q_DECLARE_METATYPE(PeerAddress::Problem)

class TestAddress : public QObject
{
    Q_OBJECT

private slots:
    void readsEveryFormOfAddress_data();
    void readsEveryFormOfAddress();
    void refusesMalformedAnswers_data();
    void refusesMalformedAnswers();
    void ranksOwnAddresses_data();
    void ranksOwnAddresses();
};

void TestAddress::readsEveryFormOfAddress_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("defaultPort");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("IPv4") << "192.168.1.5" << 123 << "192.168.1.5" << 123;
    QTest::newRow("IPv4 and port") << "192.168.1.5:4000" << 123 << "192.168.1.5" << 4000;
    QTest::newRow("blanks around") << " \t192.168.1.5:4000 \n" << 123 << "192.168.1.5" << 4000;
    QTest::newRow("name") << "localhost" << 5000 << "localhost" << 5000;
    QTest::newRow("name and port") << "duel.example.org:1" << 123 << "duel.example.org" << 1;
    QTest::newRow("highest port") << "duel.example.org:65535" << 123 << "duel.example.org" << 65535;
    QTest::newRow("port with leading zeros") << "10.0.0.7:00080" << 123 << "10.0.0.7" << 80;
    QTest::newRow("default port 0 passed on") << "10.0.0.7" << 0 << "10.0.0.7" << 0;
    QTest::newRow("bare IPv6 loopback") << "::1" << 123 << "::1" << 123;
    QTest::newRow("bare IPv6") << "2001:db8::5" << 123 << "2001:db8::5" << 123;
    QTest::newRow("bare IPv6 with scope") << "fe80::1%eth0" << 123 << "fe80::1%eth0" << 123;
    // Without brackets the last group is part of the address, never a port.
    QTest::newRow("bare IPv6 ending like a port") << "::1:123" << 77 << "::1:123" << 77;
    QTest::newRow("bracketed IPv6") << "[2001:db8::5]" << 123 << "2001:db8::5" << 123;
    QTest::newRow("bracketed IPv6 and port") << "[::1]:4000" << 123 << "::1" << 4000;
    QTest::newRow("bracketed IPv6 with scope and port")
        << "[fe80::1%eth0]:99" << 123 << "fe80::1%eth0" << 99;
    QTest::newRow("bracketed, blanks around") << "  [::1]:7  " << 123 << "::1" << 7;
}

void TestAddress::readsEveryFormOfAddress()
{
    QFETCH(QString, answer);
    QFETCH(int, defaultPort);
    QFETCH(QString, host);
    QFETCH(int, port);
    const PeerAddress address = PeerAddress::parse(answer, defaultPort);
    QCOMPARE(address.problem, PeerAddress::NoProblem);
    QVERIFY(address.isValid());
    QCOMPARE(address.host, host);
    QCOMPARE(address.port, port);
    QVERIFY(address.problemText().isEmpty());
}

void TestAddress::refusesMalformedAnswers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<QString>("offending");
    // A fragment of what the player is told; the quoted part of the answer is checked too.
    QTest::addColumn<QString>("told");

    QTest::newRow("only blanks") << "   " << PeerAddress::NoHost << ""
                                 << "address is missing";
    QTest::newRow("port only") << ":123" << PeerAddress::NoHost << ""
                               << "address is missing";
    QTest::newRow("empty brackets") << "[]:123" << PeerAddress::NoHost << ""
                                    << "address is missing";
    QTest::newRow("colon without port") << "10.0.0.7:" << PeerAddress::BadPort << ""
                                        << "port after the colon is missing";
    QTest::newRow("port not a number") << "10.0.0.7:abc" << PeerAddress::BadPort << "abc"
                                       << "not a port";
    QTest::newRow("port 0") << "10.0.0.7:0" << PeerAddress::BadPort << "0"
                            << "1 to 65535";
    QTest::newRow("port above 65535") << "host:65536" << PeerAddress::BadPort << "65536"
                                      << "1 to 65535";
    QTest::newRow("port far too long") << "host:4294967297" << PeerAddress::BadPort << "4294967297"
                                       << "1 to 65535";
    QTest::newRow("signed port") << "host:+80" << PeerAddress::BadPort << "+80"
                                 << "not a port";
    QTest::newRow("negative port") << "host:-1" << PeerAddress::BadPort << "-1"
                                   << "not a port";
    QTest::newRow("blank inside port") << "host:8 0" << PeerAddress::BadPort << "8 0"
                                       << "not a port";
    QTest::newRow("non-ASCII digits")
        << "host:\u0661\u0662\u0663" << PeerAddress::BadPort << "\u0661\u0662\u0663"
        << "not a port";
    QTest::newRow("bracketed, colon without port") << "[::1]:" << PeerAddress::BadPort << ""
                                                   << "port after the colon is missing";
    QTest::newRow("bracketed, port too big") << "[::1]:70000" << PeerAddress::BadPort << "70000"
                                             << "1 to 65535";
    QTest::newRow("bracket not closed") << "[::1:80" << PeerAddress::UnclosedBracket << "[::1:80"
                                        << "\"]\"";
    QTest::newRow("port without colon") << "[::1]80" << PeerAddress::TextAfterBracket << "80"
                                        << "Only a colon and a port";
    QTest::newRow("IPv4 in brackets") << "[127.0.0.1]:80" << PeerAddress::NotIPv6 << "127.0.0.1"
                                      << "not an IPv6 address";
    QTest::newRow("name in brackets") << "[localhost]:80" << PeerAddress::NotIPv6 << "localhost"
                                      << "not an IPv6 address";
    QTest::newRow("IPv6 and port without brackets")
        << "2001:db8::5:99999" << PeerAddress::NotIPv6 << "2001:db8::5:99999"
        << "in brackets";
    QTest::newRow("two colons, no IPv6") << "host:80:90" << PeerAddress::NotIPv6 << "host:80:90"
                                         << "in brackets";
    QTest::newRow("blank instead of colon")
        << "192.168.1.5 123" << PeerAddress::BlankInHost << "192.168.1.5 123"
        << "after a colon";
    QTest::newRow("blank before colon") << "my host:123" << PeerAddress::BlankInHost << "my host"
                                        << "contains a blank";
}

void TestAddress::refusesMalformedAnswers()
{
    QFETCH(QString, answer);
    QFETCH(Problem, problem);
    QFETCH(QString, offending);
    QFETCH(QString, told);
    const PeerAddress address = PeerAddress::parse(answer, 123);
    QCOMPARE(address.problem, problem);
    QVERIFY(!address.isValid());
    QCOMPARE(address.offending, offending);
    const QString text = address.problemText();
    QVERIFY2(text.contains(told), qPrintable(text));
    if (!offending.isEmpty() && problem != PeerAddress::UnclosedBracket)
        QVERIFY2(text.contains(QLatin1Char('"') + offending + QLatin1Char('"')), qPrintable(text));
}

void TestAddress::ranksOwnAddresses_data()
{
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("offered");

    QTest::newRow("nothing but loopback") << QStringList{"127.0.0.1", "::1"} << QStringList{};
    QTest::newRow("interface order kept")
        << QStringList{"192.168.1.5", "10.0.0.7"} << QStringList{"192.168.1.5", "10.0.0.7"};
    QTest::newRow("IPv4 before IPv6")
        << QStringList{"::1", "2a01:4f8::5", "127.0.0.1", "192.168.1.5"}
        << QStringList{"192.168.1.5", "2a01:4f8::5"};
    QTest::newRow("global IPv6 before unique-local")
        << QStringList{"fd00::2", "2a01:4f8::5"} << QStringList{"2a01:4f8::5", "fd00::2"};
    QTest::newRow("link-local last")
        << QStringList{"fe80::fc:ff:fe00:1", "169.254.3.4", "fd00::2", "192.0.2.2"}
        << QStringList{"192.0.2.2", "fd00::2", "fe80::fc:ff:fe00:1", "169.254.3.4"};
    QTest::newRow("link-local when nothing else")
        << QStringList{"127.0.0.1", "fe80::1"} << QStringList{"fe80::1"};
    QTest::newRow("repeats shown once")
        << QStringList{"10.0.0.7", "fd00::2", "10.0.0.7"} << QStringList{"10.0.0.7", "fd00::2"};
}

void TestAddress::ranksOwnAddresses()
{
    QFETCH(QStringList, found);
    QFETCH(QStringList, offered);
    QList<QHostAddress> addresses;
    for (const QString &text : std::as_const(found))
        addresses.append(QHostAddress(text));
    QCOMPARE(LocalAddresses::ranked(addresses), offered);
}

QTEST_GUILESS_MAIN(TestAddress)
#include "tst_address.moc"
