// The link as the main window drives it: listening after the thanks box, the status line as
// links come and go, what a plain peer hears, and the whole half sent once frames are agreed.
// What the link does below the windows is tested in tst_session.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "board/FrmMain.h"
#include "link/PeerSession.h"
#include "link/PeerSocket.h"

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
    void visitorThatNeverSpeaksLeavesCopyListening_data();
    void visitorThatNeverSpeaksLeavesCopyListening();
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

// A port open to the internet is knocked on by scanners. One that leaves without a word of the
// table must leave the copy listening, silently, for the real opponent; a peer that spoke and
// left ends the link as before.
void TestPeerLink::visitorThatNeverSpeaksLeavesCopyListening_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("statusAfter");
    const QString waiting = QStringLiteral("Waiting for connection");
    QTest::newRow("connect, reset") << QByteArray() << true << waiting;
    QTest::newRow("connect, close") << QByteArray() << false << waiting;
    QTest::newRow("connect, garbage, close")
        << QByteArray("GET / HTTP/1.0\r\n\r\n\x16\x03\x01") << false << waiting;
    QTest::newRow("a chat line, then close")
        << QByteArray("17hello") << false << QStringLiteral("Disconnected");
}

void TestPeerLink::visitorThatNeverSpeaksLeavesCopyListening()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, reset);
    QFETCH(QString, statusAfter);
    const int port = freePort();
    Seat seat(port);
    {
        PlainPeer visitor;
        QVERIFY(visitor.connectTo(port));
        QTRY_COMPARE(seat.status(), QStringLiteral("Connected"));
        if (!sent.isEmpty())
            visitor.send(sent);
        QTest::qWait(SettleMs);
        if (reset)
            visitor.socket->abort();
        else
            visitor.socket->disconnectFromHost();
        QTRY_COMPARE(seat.status(), statusAfter);
    }
    const bool listening = statusAfter == QLatin1String("Waiting for connection");
    QTRY_COMPARE(seat.socket()->State(), listening ? PeerSocket::Listening : PeerSocket::Closed);
    QCOMPARE(seat.platform.boxes.size(), 1);          // the thanks box only
    QCOMPARE(seat.platform.beeps, listening ? 0 : 1); // the chat line's
    if (!listening)
        return;

    PlainPeer opponent;
    QVERIFY(plainLink(seat, opponent));
    opponent.send("13Dragon");
    QTRY_COMPARE(seat.text(QStringLiteral("lblP2Monster3")), QStringLiteral("Dragon"));
}

QTEST_MAIN(TestPeerLink)
#include "tst_peerlink.moc"
