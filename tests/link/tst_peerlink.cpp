// The link as the main window drives it: listening after the thanks box, the status line as
// links come and go, what a plain peer hears, and the whole half sent once frames are agreed.
// What the link does below the windows is tested in tst_session.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "boardwindow/BoardWindow.h"
#include "link/PeerLink.h"
#include "link/PeerSession.h"

#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace LinkHarness;

class TestPeerLink : public QObject
{
    Q_OBJECT

private slots:
    void listensOnlyAfterThanksBox();
    void closingEitherSideEndsTheLink_data();
    void closingEitherSideEndsTheLink();
    void plainPeerReceivesOnlyTheTable();
    void bothBoardsCurrentAfterLinking_data();
    void bothBoardsCurrentAfterLinking();
};

void TestPeerLink::listensOnlyAfterThanksBox()
{
    const int port = freePort();
    RecordingPlatform platform;
    BoardWindow window(platform, port);
    bool reachableDuringBox = true;
    platform.whileBoxIsOpen = [&] {
        reachableDuringBox = canConnect(port);
    };
    window.start();

    QCOMPARE(platform.boxes.size(), 1);
    QCOMPARE(platform.boxes.first(),
             RecordingPlatform::Box("This program was made thanks to Tarvo", "Thanks"));
    QVERIFY(!reachableDuringBox);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblStatus"))->text(),
             QStringLiteral("Waiting for connection"));
    QCOMPARE(window.link().state(), PeerLink::State::Listening);
    QVERIFY(canConnect(port));
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
    QTRY_COMPARE(staying.socket()->state(), PeerLink::State::Closed);
    QCOMPARE(staying.socket()->send(QStringLiteral("013")), false);
    QVERIFY(!canConnect(staying.port()));
}

void TestPeerLink::plainPeerReceivesOnlyTheTable()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(peer.connectTo(seat.port()));
    QTRY_COMPARE(peer.received, QByteArray("18Connected"));
    QTest::qWait(Greeting::WaitMs / 4);
    QCOMPARE(peer.received, QByteArray("18Connected"));

    peer.send("19caf\xE9 \x80 5");
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    QCOMPARE(seat.platform.announcements.first().first, QStringLiteral("caf\u00E9 \u20AC 5"));

    QVERIFY(seat.socket()->send(QStringLiteral("19\u00DCber \u20AC \u65E5")));
    seat.window->close();
    QTRY_VERIFY(peer.ended);
    QCOMPARE(peer.received, QByteArray("18Connected"
                                       "19\xDC"
                                       "ber \x80 ?"
                                       "18Disconnected"));
    QVERIFY(!peer.received.contains('\0'));
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
        connecting.socket()->close();
        QTRY_COMPARE(listening.socket()->state(), PeerLink::State::Closed);
        QVERIFY(listening.socket()->listen());
    }
    connecting.setText("txtP1Monster3", QStringLiteral("Dragon\n2400 ATK"));
    connecting.setText("txtP1LP", QStringLiteral("6100"));
    connecting.setText("txtP1Grave", QStringLiteral("Pot\nTrap Hole\nOgre"));
    listening.setText("txtP1FieldCard", QStringLiteral("Forest"));
    listening.setText("txtP1Hand", QStringLiteral("3"));

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
