// Two main windows, and plain TCP peers that speak only the message table, linked over
// loopback with real sockets.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "board/FrmMain.h"
#include "link/PeerSocket.h"

#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace LinkHarness;

class TestPeerLink : public QObject
{
    Q_OBJECT

private slots:
    void listensOnlyAfterThanksBox();
    void twoWindowsLinkAndAgreeOnFrames();
    void framedTextArrivesIntact();
    void closingEitherSideEndsTheLink_data();
    void closingEitherSideEndsTheLink();
    void peerGoneWithoutGoodbyeShowsDisconnected_data();
    void peerGoneWithoutGoodbyeShowsDisconnected();
    void plainPeerReceivesOnlyTheTable();
    void connectingToPlainPeerSendsPlainText();
    void closingDuringHandshakeSpeaksPlainToPlainPeer();
    void closeDeliversGoodbyeWhilePeerSends();
    void closeAtProgramEndDeliversGoodbye();
    void oversizedFrameEndsLinkWithReason();
    void failedListenKeepsProgramUsable();
    void secondClientIsRefusedWithoutTouchingLink();
    void idleLinkBetweenCopiesStaysUp();
    void bothBoardsCurrentAfterLinking_data();
    void bothBoardsCurrentAfterLinking();
    void silentFramingPeerIsDisconnectedWithReason();
    void plainLinksAreProbedByTheSystem_data();
    void plainLinksAreProbedByTheSystem();
};

void TestPeerLink::listensOnlyAfterThanksBox()
{
    const int port = freePort();
    RecordingPlatform platform;
    FrmMain window(platform, port);
    bool reachableDuringBox = true;
    platform.whileBoxIsOpen = [&] {
        reachableDuringBox = canConnect(port);
    };
    window.Form_Load();

    QCOMPARE(platform.boxes.size(), 1);
    QCOMPARE(platform.boxes.first(),
             RecordingPlatform::Box("This program was made thanks to Tarvo", "Thanks"));
    QVERIFY(!reachableDuringBox);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblStatus"))->text(),
             QStringLiteral("Waiting for connection"));
    QCOMPARE(window.findChild<PeerSocket *>(QStringLiteral("W1"))->State(), PeerSocket::Listening);
    QVERIFY(canConnect(port));
}

void TestPeerLink::twoWindowsLinkAndAgreeOnFrames()
{
    Seat listening, connecting;
    QVERIFY(link(connecting, listening));
    QCOMPARE(listening.socket()->State(), PeerSocket::Connected);
    QCOMPARE(connecting.socket()->State(), PeerSocket::Connected);
    QVERIFY(listening.socket()->readsFrames());
    QVERIFY(connecting.socket()->readsFrames());
    // The listener stopped listening when it accepted.
    QVERIFY(!canConnect(listening.port()));
}

void TestPeerLink::framedTextArrivesIntact()
{
    Seat listening, connecting;
    QVERIFY(link(connecting, listening));
    const QString text = QStringLiteral("H\u00E9llo \u2603 \u65E5\u672C \U0001F0A1 two\r\nlines");
    QVERIFY(connecting.socket()->SendData(QStringLiteral("19") + text));
    QVERIFY(connecting.socket()->SendData(QStringLiteral("19second")));
    QTRY_COMPARE(listening.platform.announcements.size(), 2);
    QCOMPARE(listening.platform.announcements.at(0), RecordingPlatform::Box(text, "Skarnet"));
    QCOMPARE(listening.platform.announcements.at(1).first, QStringLiteral("second"));
}

void TestPeerLink::closingEitherSideEndsTheLink_data()
{
    QTest::addColumn<bool>("listenerCloses");
    QTest::newRow("listening side closes") << true;
    QTest::newRow("connecting side closes") << false;
}

void TestPeerLink::closingEitherSideEndsTheLink()
{
    QFETCH(bool, listenerCloses);
    Seat listening, connecting;
    QVERIFY(link(connecting, listening));
    Seat &closing = listenerCloses ? listening : connecting;
    Seat &staying = listenerCloses ? connecting : listening;

    closing.window->close();
    QCOMPARE(closing.platform.programEnds, 1);
    QTRY_COMPARE(staying.status(), QStringLiteral("Disconnected"));
    QTRY_COMPARE(staying.socket()->State(), PeerSocket::Closed);
    QCOMPARE(staying.socket()->SendData(QStringLiteral("013")), false);
    QVERIFY(!canConnect(staying.port()));
}

void TestPeerLink::peerGoneWithoutGoodbyeShowsDisconnected_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("orderly close") << false;
    QTest::newRow("connection reset") << true;
}

void TestPeerLink::peerGoneWithoutGoodbyeShowsDisconnected()
{
    QFETCH(bool, reset);
    Seat seat;
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat.port()));
    QTRY_COMPARE(seat.status(), QStringLiteral("Connected"));
    peer.send("013");
    if (reset)
        peer.socket->abort();
    else
        peer.socket->disconnectFromHost();
    QTRY_COMPARE(seat.status(), QStringLiteral("Disconnected"));
    QCOMPARE(seat.socket()->State(), PeerSocket::Closed);
}

void TestPeerLink::plainPeerReceivesOnlyTheTable()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat.port()));
    QTRY_COMPARE(peer.received, QByteArray("18Connected"));
    QTest::qWait(PeerSession::GreetingWaitMs / 4);
    QCOMPARE(peer.received, QByteArray("18Connected"));

    peer.send("19caf\xE9 \x80 5");
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    QCOMPARE(seat.platform.announcements.first().first, QStringLiteral("caf\u00E9 \u20AC 5"));

    QVERIFY(seat.socket()->SendData(QStringLiteral("19\u00DCber \u20AC \u65E5")));
    seat.window->close();
    QTRY_VERIFY(peer.ended);
    QCOMPARE(peer.received, QByteArray("18Connected"
                                       "19\xDC"
                                       "ber \x80 ?"
                                       "18Disconnected"));
    QVERIFY(!peer.received.contains('\0'));
}

void TestPeerLink::connectingToPlainPeerSendsPlainText()
{
    QTcpServer plainListener;
    Seat seat;
    const std::unique_ptr<PlainPeer> dialed = dialPlainPeer(seat, plainListener);
    QVERIFY(dialed);
    PlainPeer &peer = *dialed;

    // Sent before the peer could have answered the greeting: held, then sent plain.
    QVERIFY(seat.socket()->SendData(QStringLiteral("19Voil\u00E0")));
    QTRY_VERIFY_WITH_TIMEOUT(peer.received.endsWith("19Voil\xE0"), PeerSession::GreetingWaitMs * 2);
    // The peer saw our greeting, which its table drops, and nothing else framed.
    QCOMPARE(peer.received, QByteArray("20skarnet/1\0"
                                       "19Voil\xE0",
                                       19));
    QVERIFY(!seat.socket()->sendsFrames());

    peer.send("19d\xE9j\xE0");
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    QCOMPARE(seat.platform.announcements.first().first, QStringLiteral("d\u00E9j\u00E0"));
}

void TestPeerLink::closingDuringHandshakeSpeaksPlainToPlainPeer()
{
    QTcpServer plainListener;
    Seat seat;
    const std::unique_ptr<PlainPeer> dialed = dialPlainPeer(seat, plainListener);
    QVERIFY(dialed);
    PlainPeer &peer = *dialed;

    // Closed before the greeting wait ran out: what was held, and the goodbye, still reach a
    // plain peer as plain messages, with no NUL after the greeting.
    QVERIFY(seat.socket()->SendData(QStringLiteral("13Dark")));
    seat.window->close();
    QTRY_VERIFY(peer.ended);
    QCOMPARE(peer.received, QByteArray("20skarnet/1\0"
                                       "13Dark"
                                       "18Disconnected",
                                       32));
}

void TestPeerLink::closeDeliversGoodbyeWhilePeerSends()
{
    for (int run = 0; run < 20; ++run) {
        Seat seat;
        PlainPeer peer;
        QVERIFY(peer.connectTo(seat.port()));
        QTRY_COMPARE(peer.received, QByteArray("18Connected"));
        // Data that reaches the window but is still unread when it closes.
        peer.send(QByteArray("17") + QByteArray(200000, 'x'));
        seat.window->close();
        peer.send(QByteArray("17") + QByteArray(50000, 'y'));
        QTRY_VERIFY(peer.ended);
        QCOMPARE(peer.received, QByteArray("18Connected18Disconnected"));
    }
}

void TestPeerLink::closeAtProgramEndDeliversGoodbye()
{
    auto seat = std::make_unique<Seat>();
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat->port()));
    QTRY_COMPARE(peer.received, QByteArray("18Connected"));
    peer.send(QByteArray("17") + QByteArray(100000, 'x'));
    seat->window->close();
    seat.reset(); // the process ends right after the close: no event loop runs for the socket
    QTRY_VERIFY(peer.ended);
    QCOMPARE(peer.received, QByteArray("18Connected18Disconnected"));
}

void TestPeerLink::oversizedFrameEndsLinkWithReason()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat.port()));
    QTRY_VERIFY(peer.received.startsWith("18Connected"));
    peer.send(QByteArray("20skarnet/1\0"
                         "19ok\0",
                         17));
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    peer.send(QByteArray("17") + QByteArray(MessageReader::MaxFrameBytes, 'z'));
    QTRY_VERIFY(seat.status().contains(QStringLiteral("over 1 MiB")));
    QVERIFY(seat.status().startsWith(QStringLiteral("Disconnected")));
    QTRY_VERIFY(peer.ended);
    QCOMPARE(seat.socket()->State(), PeerSocket::Closed);
    QCOMPARE(seat.platform.announcements.size(), 1);
}

void TestPeerLink::failedListenKeepsProgramUsable()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    const int port = occupant.serverPort();
    Seat blocked(port);
    QCOMPARE(blocked.status(),
             QStringLiteral("Cannot listen on port %1: the port is in use").arg(port));
    QCOMPARE(blocked.socket()->State(), PeerSocket::Closed);

    Seat other;
    QVERIFY(link(blocked, other));
}

void TestPeerLink::secondClientIsRefusedWithoutTouchingLink()
{
    Seat listening, connecting;
    QVERIFY(link(connecting, listening));
    for (int attempt = 0; attempt < 3; ++attempt)
        QVERIFY(!canConnect(listening.port()));
    QVERIFY(connecting.socket()->SendData(QStringLiteral("19still here")));
    QTRY_COMPARE(listening.platform.announcements.size(), 1);
    QCOMPARE(listening.status(), QStringLiteral("Connected"));
}

namespace {

int tcpOption(const QTcpSocket *socket, int level, int option)
{
    int value = -1;
    socklen_t size = sizeof value;
    if (!socket || ::getsockopt(int(socket->socketDescriptor()), level, option, &value, &size) != 0)
        return -1;
    return value;
}

} // namespace

// Two idle copies keep each other's silence detectors quiet with keep-alives, and the
// keep-alives never reach the board.
void TestPeerLink::idleLinkBetweenCopiesStaysUp()
{
    Seat listening, connecting;
    listening.socket()->setKeepAliveTimes(100, 1000);
    connecting.socket()->setKeepAliveTimes(100, 1000);
    QVERIFY(link(connecting, listening));
    QTest::qWait(SettleMs); // each side's whole half arrives first
    const auto before = listening.displayTexts();
    QTest::qWait(2500); // well past the silence limit
    QCOMPARE(listening.status(), QStringLiteral("Connected"));
    QCOMPARE(connecting.status(), QStringLiteral("Connected"));
    QCOMPARE(listening.displayTexts(), before);
    QVERIFY(listening.platform.announcements.isEmpty());

    connecting.control<QLineEdit>(QStringLiteral("txtP1LP"))->setText(QStringLiteral("7600"));
    QTRY_COMPARE(listening.text(QStringLiteral("lblP2LP")), QStringLiteral("7600"));
    unlink(connecting, listening);
}

// A peer that agreed on frames and then falls silent (its machine or the network is gone) is
// dropped after the silence limit, with the reason, and the board keeps what it showed.
void TestPeerLink::silentFramingPeerIsDisconnectedWithReason()
{
    Seat seat;
    seat.socket()->setKeepAliveTimes(100, 2000);
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat.port()));
    peer.send(QByteArray("20skarnet/1\0"
                         "0214500\0",
                         20));
    QTRY_COMPARE(seat.text(QStringLiteral("lblP2LP")), QStringLiteral("14500"));
    // Our side keeps sending keep-alives meanwhile: lone NULs after its greeting and its half.
    QTRY_VERIFY(peer.received.contains(QByteArray("skarnet/1\0", 10)));
    QTRY_VERIFY(peer.received.endsWith(QByteArray(2, '\0')));
    QCOMPARE(seat.status(), QStringLiteral("Connected"));

    QTRY_COMPARE_WITH_TIMEOUT(seat.status(),
                              QStringLiteral("Disconnected: nothing heard from the opponent "
                                             "for 2 seconds"),
                              5000);
    QCOMPARE(seat.socket()->State(), PeerSocket::Closed);
    QCOMPARE(seat.text(QStringLiteral("lblP2LP")), QStringLiteral("14500"));
    QTRY_VERIFY(peer.ended);
}

void TestPeerLink::plainLinksAreProbedByTheSystem_data()
{
    QTest::addColumn<bool>("seatConnects");
    QTest::newRow("plain peer connects to us") << false;
    QTest::newRow("we connect to a plain peer") << true;
}

// A peer that only knows the plain form sends no keep-alives and must not be sent any; the
// system's TCP keep-alive watches that link instead, with timers short enough to notice a
// dead peer within the silence limit.
void TestPeerLink::plainLinksAreProbedByTheSystem()
{
    QFETCH(bool, seatConnects);
    Seat seat;
    seat.socket()->setKeepAliveTimes(50, 300);
    QTcpServer listener;
    std::unique_ptr<PlainPeer> peer;
    if (seatConnects) {
        peer = dialPlainPeer(seat, listener);
        QVERIFY(peer);
    } else {
        peer = std::make_unique<PlainPeer>();
        QVERIFY(plainLink(seat, *peer));
    }
    const QTcpSocket *socket = linkSocket(seat.socket());
    QVERIFY(socket);
    QCOMPARE(tcpOption(socket, SOL_SOCKET, SO_KEEPALIVE), 1);
    const int idle = tcpOption(socket, IPPROTO_TCP, TCP_KEEPIDLE);
    const int interval = tcpOption(socket, IPPROTO_TCP, TCP_KEEPINTVL);
    const int probes = tcpOption(socket, IPPROTO_TCP, TCP_KEEPCNT);
    QVERIFY2(idle > 0 && interval > 0 && probes > 0 &&
                 (idle + interval * probes) * 1000 <= PeerSession::SilenceLimitMs,
             qPrintable(QStringLiteral("idle %1 s, interval %2 s, %3 probes")
                            .arg(idle)
                            .arg(interval)
                            .arg(probes)));
    const int userTimeout = tcpOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT);
    QVERIFY(userTimeout > 0 && userTimeout <= PeerSession::SilenceLimitMs);

    const QByteArray before = peer->received;
    QTest::qWait(600);
    QCOMPARE(peer->received, before);
    QCOMPARE(seat.status(), QStringLiteral("Connected"));
}

void TestPeerLink::bothBoardsCurrentAfterLinking_data()
{
    QTest::addColumn<bool>("relink");
    QTest::newRow("set up before the first link") << false;
    QTest::newRow("changed while the link was down") << true;
}

// Once two copies agree on frames each sends its whole half, so neither player looks at the
// initial values of a board the other has already set up.
void TestPeerLink::bothBoardsCurrentAfterLinking()
{
    QFETCH(bool, relink);
    Seat listening, connecting;
    if (relink) {
        QVERIFY(link(connecting, listening));
        connecting.socket()->Close();
        QTRY_COMPARE(listening.socket()->State(), PeerSocket::Closed);
        QVERIFY(listening.socket()->Listen());
    }
    const auto set = [](Seat &seat, const char *editor, const QString &text) {
        QWidget *widget = seat.control(QString::fromLatin1(editor));
        if (auto *line = qobject_cast<QLineEdit *>(widget))
            line->setText(text);
        else
            qobject_cast<QPlainTextEdit *>(widget)->setPlainText(text);
    };
    set(connecting, "txtP1Monster3", QStringLiteral("Dragon\n2400 ATK"));
    set(connecting, "txtP1LP", QStringLiteral("6100"));
    set(connecting, "txtP1Grave", QStringLiteral("Pot\nTrap Hole\nOgre"));
    set(listening, "txtP1FieldCard", QStringLiteral("Forest"));
    set(listening, "txtP1Hand", QStringLiteral("3"));

    QVERIFY(link(connecting, listening));
    QTRY_COMPARE(listening.text(QStringLiteral("lblP2Monster3")),
                 QStringLiteral("Dragon\n2400 ATK"));
    QTRY_COMPARE(listening.text(QStringLiteral("lblP2LP")), QStringLiteral("6100"));
    QTRY_COMPARE(listening.text(QStringLiteral("lblP2Grave")),
                 QStringLiteral("Pot\nTrap Hole\nOgre"));
    QTRY_COMPARE(connecting.text(QStringLiteral("lblP2FieldZone")), QStringLiteral("Forest"));
    QTRY_COMPARE(connecting.text(QStringLiteral("lblP2Hand")), QStringLiteral("3"));
    // Every zone, not only the changed ones: each display now shows its editor's text.
    for (const ZoneMirror &zone : ZoneTable::all()) {
        QCOMPARE(listening.text(zone.displayName), connecting.text(zone.editorName));
        QCOMPARE(connecting.text(zone.displayName), listening.text(zone.editorName));
    }
    unlink(connecting, listening);
}

QTEST_MAIN(TestPeerLink)
#include "tst_peerlink.moc"
