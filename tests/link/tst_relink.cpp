// Two copies whose link is lost without a goodbye find each other again by themselves, through a
// stretch of loopback network the test cuts and mends; a goodbye or the player ends that for
// good, the search runs out after its window, and a plain peer is never looked for again.
#include "LinkHarness.h"
#include "link/PeerLink.h"
#include "wire/WireMessage.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <sys/socket.h>

using namespace LinkHarness;

namespace {

constexpr int KeepAliveMs = 100;
constexpr int QuickLimitMs = 400;
constexpr int SlowLimitMs = 2000;
constexpr int RetryMs = 300;
constexpr int LongWindowMs = 30000;

const QString GaveUp = QStringLiteral("Disconnected: could not reconnect within two minutes");

// A stretch of network between the dialling seat and the other seat's port. Each connection
// made to it is carried on to the target. Cut, it carries nothing: new connections are turned
// away, and those it carried are either reset at both ends or left hanging in silence for good,
// as a network that vanished leaves them.
class Network : public QObject
{
public:
    explicit Network(int targetPort)
        : m_target(quint16(targetPort))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, &Network::carry);
    }
    int port() const { return m_server.serverPort(); }
    // Connections made to it so far, turned away or carried.
    int arrivals() const { return m_arrivals; }

    void cut(bool resetLinks)
    {
        m_up = false;
        for (QTcpSocket *socket : std::exchange(m_carried, {})) {
            socket->disconnect(this);
            socket->readAll();
            if (resetLinks) {
                resetConnection(socket);
            } else {
                // Read and dropped from now on; nothing is passed on, not even the end.
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            }
        }
    }
    void mend() { m_up = true; }

private:
    void carry()
    {
        while (QTcpSocket *near = m_server.nextPendingConnection()) {
            near->setParent(this);
            ++m_arrivals;
            if (!m_up) {
                near->abort();
                continue;
            }
            auto *far = new QTcpSocket(this);
            m_carried << near << far;
            pass(near, far);
            pass(far, near);
            connect(far, &QTcpSocket::connected, this, [this, near, far] { forward(near, far); });
            connect(far, &QTcpSocket::errorOccurred, this, [near](auto error) {
                if (error == QAbstractSocket::ConnectionRefusedError)
                    near->abort(); // nobody listens at the target
            });
            far->connectToHost(QHostAddress::LocalHost, m_target);
        }
    }
    void pass(QTcpSocket *from, QTcpSocket *to)
    {
        connect(from, &QTcpSocket::readyRead, this, [this, from, to] { forward(from, to); });
        connect(from, &QTcpSocket::disconnected, this, [to] { to->disconnectFromHost(); });
    }
    void forward(QTcpSocket *from, QTcpSocket *to)
    {
        if (to->state() == QAbstractSocket::ConnectedState)
            to->write(from->readAll());
    }

    QTcpServer m_server;
    const quint16 m_target;
    QList<QTcpSocket *> m_carried;
    int m_arrivals = 0;
    bool m_up = true;
};

// Every text a status line showed, in order, sampled often enough to catch each one.
class StatusLog
{
public:
    explicit StatusLog(const Seat &seat)
        : m_seen{seat.status()}
    {
        m_sampler.callOnTimeout([this, &seat] {
            if (m_seen.last() != seat.status())
                m_seen.append(seat.status());
        });
        m_sampler.start(5);
    }
    QStringList seen() const { return m_seen; }

private:
    QTimer m_sampler;
    QStringList m_seen;
};

void setTimes(Seat &seat, int silenceLimitMs, int windowMs = LongWindowMs)
{
    seat.socket()->setKeepAliveTimes(KeepAliveMs, silenceLimitMs);
    seat.socket()->setRelinkTimes(RetryMs, windowMs);
}

enum class Action
{
    DiallerDisconnects,
    AcceptorDisconnects,
    DiallerDisconnectsWhileRedialling,
    DiallerWaitsWhileRedialling,
    DiallerConnectsElsewhereWhileRedialling
};

} // namespace

class TestRelink : public QObject
{
    Q_OBJECT

private slots:
    void copiesFindEachOtherAgain_data();
    void copiesFindEachOtherAgain();
    void onlyCopiesGetInWhileWaiting();
    void endedForGoodNothingRedials_data();
    void endedForGoodNothingRedials();
    void searchRunsOutAfterItsWindow();
    void plainPeerIsNeverLookedForAgain_data();
    void plainPeerIsNeverLookedForAgain();
    void goodbyeWithAReasonIsShownAndEndsTheSearch();
};

void TestRelink::copiesFindEachOtherAgain_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<int>("diallerLimitMs");
    QTest::addColumn<int>("acceptorLimitMs");
    QTest::addColumn<bool>("mendWhenDiallerNotices");
    QTest::newRow("the network resets the link") << true << SlowLimitMs << SlowLimitMs << false;
    // The dialling side redials while the other still holds the old link: its tries are turned
    // away until that side's dead-link limit runs out too.
    QTest::newRow("silence, the dialling side gives up on the link first")
        << false << QuickLimitMs << SlowLimitMs << true;
    QTest::newRow("silence, the accepting side gives up on the link first")
        << false << SlowLimitMs << QuickLimitMs << false;
}

// Both status lines say the link was lost and then "Connected" again, with nothing in between
// and no click; edits made while it was down arrive once it is back.
void TestRelink::copiesFindEachOtherAgain()
{
    QFETCH(bool, reset);
    QFETCH(int, diallerLimitMs);
    QFETCH(int, acceptorLimitMs);
    QFETCH(bool, mendWhenDiallerNotices);
    Seat accepting, dialling;
    setTimes(dialling, diallerLimitMs);
    setTimes(accepting, acceptorLimitMs);
    Network network(accepting.port());
    QVERIFY(link(dialling, accepting, network.port()));
    const StatusLog diallerLog(dialling), acceptorLog(accepting);

    network.cut(reset);
    dialling.setText("txtP1Hand", QStringLiteral("5"));
    accepting.setText("txtP1LP", QStringLiteral("6500"));
    Seat &firstToNotice = mendWhenDiallerNotices ? dialling : accepting;
    QTRY_COMPARE(firstToNotice.status(), StatusText::Reconnecting);
    if (!mendWhenDiallerNotices)
        QVERIFY(bothShow(dialling, accepting, StatusText::Reconnecting));
    network.mend();

    QVERIFY(bothShow(dialling, accepting, StatusText::Connected));
    QTRY_VERIFY(dialling.socket()->sendsFrames() && accepting.socket()->sendsFrames());
    QTRY_COMPARE(accepting.text(QStringLiteral("lblP2Hand")), QStringLiteral("5"));
    QTRY_COMPARE(dialling.text(QStringLiteral("lblP2LP")), QStringLiteral("6500"));
    const QStringList expected{StatusText::Connected, StatusText::Reconnecting,
                               StatusText::Connected};
    QCOMPARE(diallerLog.seen(), expected);
    QCOMPARE(acceptorLog.seen(), expected);
    QVERIFY(!dialling.socket()->isRelinking() && !accepting.socket()->isRelinking());
    unlink(dialling, accepting);
}

// While the accepting side waits for the copy, a plain peer or a port scanner is turned away
// without a byte and without touching the board; the copy still gets in afterwards.
void TestRelink::onlyCopiesGetInWhileWaiting()
{
    Seat accepting, dialling;
    setTimes(dialling, SlowLimitMs);
    setTimes(accepting, SlowLimitMs);
    Network network(accepting.port());
    QVERIFY(link(dialling, accepting, network.port()));
    network.cut(true);
    QVERIFY(bothShow(dialling, accepting, StatusText::Reconnecting));
    const QMap<QString, QString> shown = accepting.displayTexts();

    PlainPeer speaking, silent;
    QVERIFY(speaking.connectTo(accepting.port()));
    speaking.send("0140");
    QVERIFY(silent.connectTo(accepting.port()));
    QTRY_VERIFY_WITH_TIMEOUT(speaking.ended && silent.ended, LinkTimeoutMs);
    QCOMPARE(speaking.received, QByteArray());
    QCOMPARE(silent.received, QByteArray());
    QCOMPARE(accepting.displayTexts(), shown);
    QCOMPARE(accepting.status(), StatusText::Reconnecting);

    network.mend();
    QVERIFY(bothShow(dialling, accepting, StatusText::Connected));
    unlink(dialling, accepting);
}

void TestRelink::endedForGoodNothingRedials_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("diallerShows");
    QTest::addColumn<QString>("acceptorShows");
    const QString waiting = StatusText::WaitingForConnection;
    const QString disconnected = StatusText::Disconnected;
    // The accepting side then waits for a connection, so a redial would link them again.
    QTest::newRow("dialling side's Disconnect")
        << Action::DiallerDisconnects << disconnected << waiting;
    QTest::newRow("accepting side's Disconnect")
        << Action::AcceptorDisconnects << disconnected << waiting;
    // The accepting side still waits for the copy to come back.
    QTest::newRow("Disconnect while redialling")
        << Action::DiallerDisconnectsWhileRedialling << disconnected << StatusText::Reconnecting;
    QTest::newRow("Wait For Connection while redialling")
        << Action::DiallerWaitsWhileRedialling << waiting << StatusText::Reconnecting;
    // Only a confirmed address ends the search; a cancelled prompt changes nothing.
    QTest::newRow("Connect to IP while redialling, another address")
        << Action::DiallerConnectsElsewhereWhileRedialling
        << QStringLiteral("Cannot connect to 127.0.0.1: nobody is listening there")
        << StatusText::Reconnecting;
}

// A player's Disconnect (or the goodbye it sends), Wait For Connection or Connect to IP ends
// the link for good: with the network whole and the accepting side waiting, no redial comes.
void TestRelink::endedForGoodNothingRedials()
{
    QFETCH(Action, action);
    Seat accepting, dialling;
    setTimes(dialling, SlowLimitMs);
    setTimes(accepting, SlowLimitMs);
    Network network(accepting.port());
    QVERIFY(link(dialling, accepting, network.port()));
    ConnectionsWindow *diallerWindow = openConnections(dialling);
    QVERIFY(diallerWindow);

    switch (action) {
    case Action::DiallerDisconnects:
    case Action::AcceptorDisconnects: {
        Seat &leaving = action == Action::DiallerDisconnects ? dialling : accepting;
        Seat &left = action == Action::DiallerDisconnects ? accepting : dialling;
        openConnections(leaving)->onDisconnectClicked();
        QTRY_COMPARE(left.socket()->state(), PeerLink::State::Closed);
        QVERIFY(bothShow(dialling, accepting, StatusText::Disconnected));
        openConnections(accepting)->onWaitClicked();
        break;
    }
    default:
        network.cut(true);
        QVERIFY(bothShow(dialling, accepting, StatusText::Reconnecting));
        if (action == Action::DiallerDisconnectsWhileRedialling)
            diallerWindow->onDisconnectClicked();
        else if (action == Action::DiallerWaitsWhileRedialling)
            diallerWindow->onWaitClicked();
        else {
            dialling.platform.answers = {QStringLiteral("127.0.0.1:1")};
            diallerWindow->onConnectClicked();
        }
        network.mend();
        break;
    }
    const int arrivals = network.arrivals();
    QTest::qWait(5 * RetryMs);
    QCOMPARE(network.arrivals(), arrivals);
    QTEST(dialling.status(), "diallerShows");
    QTEST(accepting.status(), "acceptorShows");
    QVERIFY(!dialling.socket()->isRelinking());
}

// After the window the dialling side stops and says so; the accepting side goes on waiting, now
// for anyone, as it does after start-up.
void TestRelink::searchRunsOutAfterItsWindow()
{
    constexpr int WindowMs = 1500;
    Seat accepting, dialling;
    setTimes(dialling, SlowLimitMs, WindowMs);
    setTimes(accepting, SlowLimitMs, WindowMs);
    Network network(accepting.port());
    QVERIFY(link(dialling, accepting, network.port()));
    network.cut(true);
    QVERIFY(bothShow(dialling, accepting, StatusText::Reconnecting));

    QTRY_COMPARE_WITH_TIMEOUT(dialling.status(), GaveUp, WindowMs + LinkTimeoutMs);
    QTRY_COMPARE(accepting.status(), StatusText::WaitingForConnection);
    const int arrivals = network.arrivals();
    QVERIFY(arrivals >= 2); // it did redial meanwhile
    QTest::qWait(3 * RetryMs);
    QCOMPARE(network.arrivals(), arrivals);
    QCOMPARE(dialling.socket()->state(), PeerLink::State::Failed);
    QCOMPARE(accepting.socket()->state(), PeerLink::State::Listening);
    PlainPeer peer;
    QVERIFY(plainLink(accepting, peer));
}

void TestRelink::plainPeerIsNeverLookedForAgain_data()
{
    QTest::addColumn<bool>("weDial");
    QTest::newRow("a plain peer we dialled") << true;
    QTest::newRow("a plain peer that dialled us") << false;
}

// A plain peer that goes without a goodbye leaves "Disconnected", as it always has: it is
// neither redialled nor waited for.
void TestRelink::plainPeerIsNeverLookedForAgain()
{
    QFETCH(bool, weDial);
    Seat seat;
    setTimes(seat, SlowLimitMs);
    QTcpServer listener;
    std::unique_ptr<PlainPeer> peer;
    if (weDial) {
        peer = dialPlainPeer(seat, listener);
        QVERIFY(peer);
    } else {
        peer = std::make_unique<PlainPeer>();
        QVERIFY(plainLink(seat, *peer));
    }
    peer->send("0140");
    QTRY_COMPARE(seat.text(QStringLiteral("lblP2Hand")), QStringLiteral("40"));
    resetConnection(peer->socket);

    QTRY_COMPARE(seat.status(), StatusText::Disconnected);
    QTest::qWait(3 * RetryMs);
    QCOMPARE(seat.status(), StatusText::Disconnected);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Closed);
    QVERIFY(!seat.socket()->isRelinking());
    QVERIFY(!listener.hasPendingConnections());
}

// A copy that ends the link with a reason (it refused a message over its limit) is not looked
// for again, and the player reads why.
void TestRelink::goodbyeWithAReasonIsShownAndEndsTheSearch()
{
    Seat seat;
    setTimes(seat, SlowLimitMs);
    PlainPeer copy;
    QVERIFY(framedLink(seat, copy));
    // The seat's whole half is read first: a socket closed with unread data resets the link,
    // and the reset would take the goodbye with it.
    QTest::qWait(SettleMs);
    const QByteArray reason("Disconnected: the opponent's copy does not take a message over 1 MiB, "
                            "and this copy sent one");
    copy.send(framed({"18" + reason}));
    copy.socket->disconnectFromHost();
    QTRY_COMPARE(seat.status(), QString::fromLatin1(reason));
    QTest::qWait(3 * RetryMs);
    QCOMPARE(seat.status(), QString::fromLatin1(reason));
    QVERIFY(!seat.socket()->isRelinking());
}

QTEST_MAIN(TestRelink)
#include "tst_relink.moc"
