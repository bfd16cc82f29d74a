// The link below the windows: two peer sockets, or one and a plain TCP peer, on loopback. The
// owner of each socket does what the main window does with it and nothing more.
#include "Loopback.h"
#include "link/GracefulCloser.h"
#include "link/PeerLink.h"
#include "link/PeerSession.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace LinkHarness;

namespace {

// A peer socket with the main window's part: accept a request and say "18Connected", and
// keep what arrives.
struct Owner
{
    PeerLink link;
    QStringList received; // code + payload of each message, as delivered
    QStringList errors;
    // Whether leaving runs the event loop until the link is closed, as a running program
    // would; without it, the peer in this process could not answer the goodbye in time.
    bool settleOnExit = true;

    explicit Owner(bool listen = true)
    {
        QObject::connect(&link, &PeerLink::connectionRequested, &link, [this](int id) {
            link.close();
            link.accept(id);
            link.send(QStringLiteral("18Connected"));
        });
        QObject::connect(&link, &PeerLink::messageReceived, &link, [this](const WireMessage &m) {
            received.append(m.code + QLatin1Char('|') + m.payload);
        });
        QObject::connect(&link, &PeerLink::failed, &link,
                         [this](const QString &description) { errors.append(description); });
        if (listen)
            link.listen();
    }
    ~Owner()
    {
        if (!settleOnExit)
            return;
        link.close();
        (void)QTest::qWaitFor([this] { return link.findChildren<GracefulCloser *>().isEmpty(); },
                              LinkTimeoutMs);
    }
    bool connected() const { return link.state() == PeerLink::State::Connected; }
};

bool linkCopies(Owner &dialing, Owner &listening)
{
    dialing.link.dial(QStringLiteral("127.0.0.1"), listening.link.localPort());
    return QTest::qWaitFor(
        [&] { return dialing.link.sendsFrames() && listening.link.sendsFrames(); }, LinkTimeoutMs);
}

// A plain peer that `owner` dialled, once its greeting has arrived.
std::unique_ptr<PlainPeer> dialedPlainPeer(Owner &owner, QTcpServer &listener)
{
    std::unique_ptr<PlainPeer> peer = plainPeerDialledBy(owner.link, listener);
    if (!peer || !QTest::qWaitFor([&] { return owner.received.size() == 1; }, LinkTimeoutMs))
        return nullptr;
    return peer;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void copiesAgreeOnFramesAndStayUp();
    void messagesKeepTheirOrderThroughANestedEventLoop();
    void silentFramingPeerIsDropped_data();
    void silentFramingPeerIsDropped();
    void plainPeerGetsHeldMessagesPlain_data();
    void plainPeerGetsHeldMessagesPlain();
    void goodbyeArrivesWhilePeerSends_data();
    void goodbyeArrivesWhilePeerSends();
    void plainLinksAreProbedByTheSystem_data();
    void plainLinksAreProbedByTheSystem();
    void backedUpLinkSendsTheNewestZoneText();
};

// Two copies agree on frames; idle, they keep each other's silence detectors quiet with
// keep-alives, which are never delivered; any text arrives intact and in order.
void TestSession::copiesAgreeOnFramesAndStayUp()
{
    Owner listening, dialing(false);
    listening.link.setKeepAliveTimes(100, 1000);
    dialing.link.setKeepAliveTimes(100, 1000);
    QVERIFY(linkCopies(dialing, listening));
    QVERIFY(listening.link.readsFrames() && dialing.link.readsFrames());
    // The listener stopped listening when it accepted.
    QVERIFY(!canConnect(listening.link.localPort()));
    QTest::qWait(2500); // well past the silence limit
    QVERIFY(listening.connected() && dialing.connected());
    QCOMPARE(listening.received, QStringList());
    QCOMPARE(dialing.received, QStringList{QStringLiteral("18|Connected")});

    const QString text = QStringLiteral("H\u00E9llo \u2603 \u65E5\u672C \U0001F0A1 two\r\nlines");
    QVERIFY(dialing.link.send(QStringLiteral("19") + text));
    QVERIFY(dialing.link.send(QStringLiteral("027600")));
    QTRY_COMPARE(listening.received,
                 QStringList({QStringLiteral("19|") + text, QStringLiteral("02|7600")}));
}

// A receiver that runs an event loop of its own while handling one message (a modal box)
// still sees every message once, in the order sent.
void TestSession::messagesKeepTheirOrderThroughANestedEventLoop()
{
    QStringList handled; // in the order each handler finished; outlives the links' goodbyes
    Owner listening, dialing(false);
    QVERIFY(linkCopies(dialing, listening));
    QObject::connect(&listening.link, &PeerLink::messageReceived, &listening.link,
                     [&handled](const WireMessage &message) {
                         if (message.payload == QLatin1String("modal"))
                             QTest::qWait(200);
                         handled.append(message.payload);
                     });
    QVERIFY(dialing.link.send(QStringLiteral("17modal")));
    QTest::qWait(50); // the first message is being handled when the others arrive
    for (int line = 0; line < 20; ++line)
        QVERIFY(dialing.link.send(QStringLiteral("17%1").arg(line)));
    QStringList expected{QStringLiteral("modal")};
    for (int line = 0; line < 20; ++line)
        expected.append(QString::number(line));
    QTRY_COMPARE(handled, expected);
}

void TestSession::silentFramingPeerIsDropped_data()
{
    QTest::addColumn<bool>("greets");
    QTest::newRow("a copy, which greeted") << true;
    // Its first NUL turns our reader to frames, but without a greeting it is no copy.
    QTest::newRow("a peer that frames but never greeted") << false;
}

// A peer that sends frames and then falls silent (its machine or the network is gone) is
// dropped after the silence limit. A copy, which our side kept sending keep-alives, is then
// waited for again without a word; any other peer's end is reported with the reason.
void TestSession::silentFramingPeerIsDropped()
{
    QFETCH(bool, greets);
    Owner owner;
    owner.link.setKeepAliveTimes(100, 2000);
    PlainPeer peer;
    QVERIFY(peer.connectTo(owner.link.localPort()));
    peer.send(greets ? greeting(1) + framed({"0214500"})
                     : QByteArray("\0"
                                  "0214500\0",
                                  9));
    QTRY_COMPARE(owner.received, QStringList{QStringLiteral("02|14500")});
    if (greets) {
        QTRY_VERIFY(peer.received.contains(Greeting::tag(UnencryptedCopy).toLatin1() + '\0'));
        QTRY_VERIFY(peer.received.endsWith(QByteArray(2, '\0')));
    }
    QVERIFY(owner.connected());

    QTRY_VERIFY_WITH_TIMEOUT(peer.ended, 5000);
    QTRY_VERIFY(!owner.connected());
    if (greets) {
        QCOMPARE(owner.errors, QStringList());
        QVERIFY(owner.link.isRelinking());
        QCOMPARE(owner.link.state(), PeerLink::State::Listening);
    } else {
        QCOMPARE(owner.errors, QStringList{QStringLiteral(
                                   "Disconnected: nothing heard from the opponent for 2 seconds")});
        QCOMPARE(owner.link.state(), PeerLink::State::Closed);
    }
}

void TestSession::plainPeerGetsHeldMessagesPlain_data()
{
    QTest::addColumn<bool>("closeAtOnce");
    QTest::addColumn<QByteArray>("heard");
    QTest::newRow("greeting wait runs out") << false << greeting() + "19Voil\xE0";
    // Closed before the wait ran out: the held message and the goodbye still go out plain.
    QTest::newRow("closed during the wait") << true << greeting() + "19Voil\xE0" + "18Disconnected";
}

// A message sent before a peer we dialled could answer our greeting is held; a plain peer,
// which never answers, then gets it plain, and sees nothing framed but the greeting its table
// drops.
void TestSession::plainPeerGetsHeldMessagesPlain()
{
    QFETCH(bool, closeAtOnce);
    Owner owner(false);
    QTcpServer listener;
    const std::unique_ptr<PlainPeer> peer = dialedPlainPeer(owner, listener);
    QVERIFY(peer);

    QVERIFY(owner.link.send(QStringLiteral("19Voil\u00E0")));
    if (closeAtOnce) {
        owner.link.sayGoodbyeAndClose();
        QTRY_VERIFY(peer->ended);
    } else {
        QTest::qWait(Greeting::WaitMs + SettleMs);
        QVERIFY(!owner.link.sendsFrames());
        peer->send("19d\xE9j\xE0");
        QTRY_COMPARE(owner.received.last(), QStringLiteral("19|d\u00E9j\u00E0"));
    }
    QTEST(peer->received, "heard");
}

void TestSession::goodbyeArrivesWhilePeerSends_data()
{
    QTest::addColumn<bool>("programEnds");
    QTest::newRow("the event loop goes on") << false;
    QTest::newRow("the program ends right after") << true;
}

// Data that reached us but is still unread when we close must not cost the peer our goodbye
// (a plain close would answer it with a reset).
void TestSession::goodbyeArrivesWhilePeerSends()
{
    QFETCH(bool, programEnds);
    for (int run = 0; run < (programEnds ? 1 : 20); ++run) {
        auto owner = std::make_unique<Owner>();
        PlainPeer peer;
        QVERIFY(peer.connectTo(owner->link.localPort()));
        QTRY_COMPARE(peer.received, QByteArray("18Connected"));
        peer.send(QByteArray("17") + QByteArray(200000, 'x'));
        owner->link.sayGoodbyeAndClose();
        if (programEnds) {
            owner->settleOnExit = false;
            owner.reset(); // no event loop runs for the socket any more
        } else
            peer.send(QByteArray("17") + QByteArray(50000, 'y'));
        QTRY_VERIFY(peer.ended);
        QCOMPARE(peer.received, QByteArray("18Connected18Disconnected"));
    }
}

void TestSession::plainLinksAreProbedByTheSystem_data()
{
    QTest::addColumn<bool>("weDial");
    QTest::newRow("plain peer connects to us") << false;
    QTest::newRow("we connect to a plain peer") << true;
}

// A peer that only knows the plain form sends no keep-alives and must not be sent any; the
// system's TCP keep-alive watches that link instead, with timers short enough to notice a
// dead peer within the silence limit.
void TestSession::plainLinksAreProbedByTheSystem()
{
    QFETCH(bool, weDial);
    Owner owner(!weDial);
    owner.link.setKeepAliveTimes(50, 300);
    QTcpServer listener;
    std::unique_ptr<PlainPeer> peer;
    if (weDial) {
        peer = dialedPlainPeer(owner, listener);
    } else {
        peer = std::make_unique<PlainPeer>();
        QVERIFY(peer->connectTo(owner.link.localPort()));
        QTRY_COMPARE(peer->received, QByteArray("18Connected"));
    }
    QVERIFY(peer);
    const QTcpSocket *socket = linkSocket(&owner.link);
    QCOMPARE(socketOption(socket, SOL_SOCKET, SO_KEEPALIVE), 1);
    const int idle = socketOption(socket, IPPROTO_TCP, TCP_KEEPIDLE);
    const int interval = socketOption(socket, IPPROTO_TCP, TCP_KEEPINTVL);
    const int probes = socketOption(socket, IPPROTO_TCP, TCP_KEEPCNT);
    QVERIFY2(idle > 0 && interval > 0 && probes > 0 &&
                 (idle + interval * probes) * 1000 <= PeerSession::SilenceLimitMs,
             qPrintable(QStringLiteral("idle %1 s, interval %2 s, %3 probes")
                            .arg(idle)
                            .arg(interval)
                            .arg(probes)));
    const int userTimeout = socketOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT);
    QVERIFY(userTimeout > 0 && userTimeout <= PeerSession::SilenceLimitMs);

    const QByteArray before = peer->received;
    QTest::qWait(600);
    QCOMPARE(peer->received, before);
    QVERIFY(owner.connected());
}

// A peer that cannot keep up (here: one that reads nothing for a while) is sent a long list
// whole on every keystroke. The texts that wait for the network give way to newer ones of the
// same zone, so the peer sees only states the list really had, in order, ending with the
// last; every chat line and life-point change still arrives, in order.
void TestSession::backedUpLinkSendsTheNewestZoneText()
{
    Owner sending;
    QTcpSocket peer;
    QByteArray bytes;
    peer.connectToHost(QHostAddress::LocalHost, quint16(sending.link.localPort()));
    QVERIFY(peer.waitForConnected(LinkTimeoutMs));
    peer.write(greeting());
    QTRY_VERIFY(sending.link.sendsFrames());

    constexpr int Keys = 300;
    const QString line = QStringLiteral("Kuriboh (the card that saves a game) %1\r\n");
    QString list;
    for (int key = 0; key < Keys; ++key) {
        while (list.size() < 16000)
            list += line.arg(list.size());
        QVERIFY(sending.link.send(QStringLiteral("10%1 ").arg(key) + list));
        if (key % 10 == 0)
            QVERIFY(sending.link.send(QStringLiteral("17Yugi: %1").arg(key)));
        if (key % 25 == 0)
            QVERIFY(sending.link.send(QStringLiteral("02%1").arg(8000 - key)));
    }
    QTest::qWait(SettleMs); // the peer reads nothing meanwhile
    QByteArray all;
    QTRY_VERIFY_WITH_TIMEOUT((all += peer.readAll()).contains(QByteArray("10299 ")), 20000);

    QList<int> zoneKeys;
    QStringList others;
    for (const QByteArray &frame : all.split('\0')) {
        const QString text = QString::fromUtf8(frame);
        if (text.startsWith(QLatin1String("10")))
            zoneKeys.append(text.mid(2).section(QLatin1Char(' '), 0, 0).toInt());
        else if (text.startsWith(QLatin1String("17")) || text.startsWith(QLatin1String("02")))
            others.append(text);
    }
    QStringList expected;
    for (int key = 0; key < Keys; ++key) {
        if (key % 10 == 0)
            expected.append(QStringLiteral("17Yugi: %1").arg(key));
        if (key % 25 == 0)
            expected.append(QStringLiteral("02%1").arg(8000 - key));
    }
    QCOMPARE(others, expected);
    QVERIFY(std::is_sorted(zoneKeys.begin(), zoneKeys.end()));
    QCOMPARE(QSet<int>(zoneKeys.begin(), zoneKeys.end()).size(), zoneKeys.size());
    QCOMPARE(zoneKeys.last(), Keys - 1);
    QVERIFY2(zoneKeys.size() < Keys / 2, qPrintable(QString::number(zoneKeys.size())));
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
