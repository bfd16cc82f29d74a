// A real board against a hostile or broken peer: raw sockets on loopback send what no copy of
// the program would (random bytes, broken UTF-8, oversized frames, floods, markup, resets,
// crowds of clients). Whatever arrives, the program keeps running, the board shows only what
// valid messages said, and the status line tells the truth about the link.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "board/ZoneTable.h"
#include "boardwindow/BoardWindow.h"
#include "connections/ConnectionsWindow.h"
#include "link/PeerLink.h"
#include "link/PeerSession.h"
#include "wire/MessageReader.h"
#include "wire/WireMessage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/socket.h>

namespace {

using namespace LinkHarness;

// Generous, for the floods of megabytes under the sanitizers.
constexpr int FloodTimeoutMs = 180000;

// Everything the board shows from the peer: the opponent half, the chat log, the status line.
QMap<QString, QString> shownFromPeer(const Seat &seat)
{
    QMap<QString, QString> texts = seat.displayTexts();
    texts.insert(QStringLiteral("txtChat"), seat.text(QStringLiteral("txtChat")));
    texts.insert(QStringLiteral("lblStatus"), seat.status());
    return texts;
}

// "Connected" while the link is up, a text starting with "Disconnected" once it has ended, and
// while listening, either that it waits or that it waits for a copy whose link was lost.
bool statusIsTruthful(const Seat &seat)
{
    const PeerLink::State state = seat.socket()->state();
    const bool up = state == PeerLink::State::Connected;
    const QString waiting =
        seat.socket()->isRelinking() ? StatusText::Reconnecting : StatusText::WaitingForConnection;
    const bool truthful = up ? seat.status() == StatusText::Connected
                          : state == PeerLink::State::Listening
                              ? seat.status() == waiting
                              : seat.status().startsWith(StatusText::Disconnected);
    if (!truthful)
        qWarning("status %s while the link is %s", qPrintable(seat.status()),
                 up                                    ? "up"
                 : state == PeerLink::State::Listening ? "listening"
                                                       : "down");
    return truthful;
}

// Both directions of the link still work: a zone the peer sends is shown, and a local edit
// reaches the peer, each in the form that direction uses.
bool carriesBothWays(Seat &seat, PlainPeer &peer)
{
    static int round = 0;
    ++round;
    const QString field = QStringLiteral("Sogen %1").arg(round);
    QByteArray incoming = "16" + field.toUtf8();
    if (seat.socket()->readsFrames())
        incoming += '\0';
    peer.send(incoming);
    if (!QTest::qWaitFor([&] { return seat.text("lblP2FieldZone") == field; }, LinkTimeoutMs)) {
        qWarning("the peer's field card did not arrive: %s",
                 qPrintable(seat.text("lblP2FieldZone")));
        return false;
    }
    const QString lifePoints = QString::number(1000 + round);
    QByteArray outgoing = "02" + lifePoints.toLatin1();
    if (seat.socket()->sendsFrames())
        outgoing += '\0';
    seat.control<QLineEdit>("txtP1LP")->setText(lifePoints);
    if (!QTest::qWaitFor([&] { return peer.received.endsWith(outgoing); }, LinkTimeoutMs)) {
        qWarning("the local edit did not reach the peer: %s", peer.received.right(40).constData());
        return false;
    }
    return true;
}

// Ends only the sending direction: the other side reads the end of the stream, and could
// still send to us.
bool shutDownSending(QTcpSocket *socket)
{
    socket->flush();
    if (socket->bytesToWrite() > 0)
        return false;
    return ::shutdown(int(socket->socketDescriptor()), SHUT_WR) == 0;
}

// Random bytes in which no two ASCII digits stand side by side, so that however they are cut
// into messages, none starts with a code of the table. NUL bytes only when asked for.
QByteArray junk(quint32 seed, qsizetype size, bool withNuls)
{
    QRandomGenerator random(seed);
    QByteArray bytes;
    bytes.reserve(size);
    bool lastWasDigit = false;
    while (bytes.size() < size) {
        const char byte = char(random.bounded(256));
        const bool digit = byte >= '0' && byte <= '9';
        if ((byte == '\0' && !withNuls) || (digit && lastWasDigit))
            continue;
        bytes.append(byte);
        lastWasDigit = digit;
    }
    return bytes;
}

// The replacement policy of the UTF-8 decoder (one U+FFFD per bad byte or per bad sequence)
// does not matter here, only that bad input shows as replacement and nothing else.
QString collapseReplacements(QString text)
{
    static const QRegularExpression run(QStringLiteral("\uFFFD+"));
    return text.replace(run, QStringLiteral("\uFFFD"));
}

// Whether a text box holds plain characters only: no image, no link.
bool holdsOnlyText(const QPlainTextEdit *box)
{
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (format.isImageFormat() || format.isAnchor())
                return false;
        }
    }
    return true;
}

// Sends the peer's usual opening of a game and waits until the board shows it.
bool playSomeMoves(Seat &seat, PlainPeer &peer)
{
    peer.send(framed({"16Umi", "027600", "17Kaiba: your move", "10Kuriboh\r\nMirror Force"}));
    return QTest::qWaitFor(
        [&] {
            return seat.text("lblP2FieldZone") == QLatin1String("Umi") &&
                   seat.text("lblP2LP") == QLatin1String("7600") &&
                   seat.text("txtChat") == QLatin1String("Kaiba: your move\n\n") &&
                   seat.text("lblP2Grave") == QLatin1String("Kuriboh\nMirror Force");
        },
        LinkTimeoutMs);
}

// A copy listens again the way the player makes it: "Wait For Connection".
void waitForConnectionAgain(Seat &seat)
{
    openConnections(seat)->onWaitClicked();
}

// A real copy can link to `seat` (listening again) and the two exchange an edit each way.
bool realCopyLinks(Seat &seat)
{
    Seat other;
    if (!link(other, seat))
        return false;
    other.control<QLineEdit>("txtP1Hand")->setText(QStringLiteral("6"));
    seat.control<QLineEdit>("txtP1Hand")->setText(QStringLiteral("4"));
    const bool bothWays = QTest::qWaitFor(
        [&] {
            return seat.text("lblP2Hand") == QLatin1String("6") &&
                   other.text("lblP2Hand") == QLatin1String("4");
        },
        LinkTimeoutMs);
    unlink(other, seat);
    return bothWays;
}

} // namespace

class TestAdversary : public QObject
{
    Q_OBJECT

private slots:
    void randomBytesShowNothing_data();
    void randomBytesShowNothing();
    void invalidUtf8ShownAsReplacement_data();
    void invalidUtf8ShownAsReplacement();
    void frameOverTheCapEndsOnlyTheLink_data();
    void frameOverTheCapEndsOnlyTheLink();
    void nulFloodChangesNothing_data();
    void nulFloodChangesNothing();
    void dribbledFrameAppliedOnceWhole_data();
    void dribbledFrameAppliedOnceWhole();
    void resetMidMessageKeepsWhatWasShown_data();
    void resetMidMessageKeepsWhatWasShown();
    void halfCloseIsNoticed_data();
    void halfCloseIsNoticed();
    void markupShownLiterallyAndNothingLoaded_data();
    void markupShownLiterallyAndNothingLoaded();
    void moreClientsAreRefusedWithoutTouchingTheLink_data();
    void moreClientsAreRefusedWithoutTouchingTheLink();
    void crowdKnockingAtOnceGetsOneLink();
    void silentClientBlocksNothing_data();
    void silentClientBlocksNothing();
    void visitorGoneBeforeSpeakingLeavesSeatListening_data();
    void visitorGoneBeforeSpeakingLeavesSeatListening();
    void hundredThousandChatLinesAllShownInOrder();
};

// --- Garbage on the wire -------------------------------------------------------------------

void TestAdversary::randomBytesShowNothing_data()
{
    QTest::addColumn<bool>("greetFirst");
    QTest::addColumn<bool>("withNuls");
    QTest::addColumn<quint32>("seed");

    // A plain peer's stream: every read is a message, none of which has a code of the table.
    QTest::newRow("plain peer, no NUL") << false << false << 1u;
    QTest::newRow("plain peer, no NUL, other seed") << false << false << 2u;
    // The first NUL turns the seat's reader to frames even without a greeting.
    QTest::newRow("plain peer, with NULs") << false << true << 3u;
    QTest::newRow("framed peer, with NULs") << true << true << 4u;
    // One long unfinished frame, ended only by the NUL sent afterwards.
    QTest::newRow("framed peer, no NUL") << true << false << 5u;
}

void TestAdversary::randomBytesShowNothing()
{
    QFETCH(bool, greetFirst);
    QFETCH(bool, withNuls);
    QFETCH(quint32, seed);

    Seat seat;
    PlainPeer peer;
    QVERIFY(greetFirst ? framedLink(seat, peer) : plainLink(seat, peer));
    const QMap<QString, QString> before = shownFromPeer(seat);

    const QByteArray bytes = junk(seed, 512 * 1024, withNuls);
    QRandomGenerator cuts(seed);
    for (qsizetype sent = 0; sent < bytes.size();) {
        const qsizetype size = std::min<qsizetype>(1 + cuts.bounded(8192), bytes.size() - sent);
        peer.send(bytes.mid(sent, size));
        sent += size;
        if (cuts.bounded(4) == 0)
            QCoreApplication::processEvents();
    }
    QTRY_COMPARE(peer.socket->bytesToWrite(), qint64(0));
    QTest::qWait(SettleMs);
    // Ends whatever frame the junk left open, so that what follows starts a frame of its own.
    if (seat.socket()->readsFrames())
        peer.send(QByteArray(1, '\0'));

    QCOMPARE(shownFromPeer(seat), before);
    QCOMPARE(seat.platform.announcements.size(), 0);
    QCOMPARE(seat.platform.beeps, 0);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QVERIFY(statusIsTruthful(seat));
    QVERIFY(!peer.ended);
    QVERIFY(carriesBothWays(seat, peer));
    QCOMPARE(seat.platform.programEnds, 0);
}

void TestAdversary::invalidUtf8ShownAsReplacement_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("control"); // empty: nothing may change
    QTest::addColumn<QString>("expected");

    const QString field = QStringLiteral("lblP2FieldZone");
    QTest::newRow("lone continuation byte") << QByteArray("16a\x80z") << field << "a\uFFFDz";
    QTest::newRow("byte that never occurs") << QByteArray("16a\xFFz") << field << "a\uFFFDz";
    QTest::newRow("sequence cut short") << QByteArray("16a\xE2\x82z") << field << "a\uFFFDz";
    QTest::newRow("overlong slash") << QByteArray("16a\xC0\xAFz") << field << "a\uFFFDz";
    QTest::newRow("surrogate half") << QByteArray("16a\xED\xA0\x80z") << field << "a\uFFFDz";
    QTest::newRow("beyond the last character")
        << QByteArray("16a\xF4\x90\x80\x80z") << field << "a\uFFFDz";
    // The missing bytes are not taken from the next frame.
    QTest::newRow("cut short at the end of the frame")
        << QByteArray("16az\xF0\x9F\x82") << field << "az\uFFFD";
    QTest::newRow("in a graveyard list") << QByteArray("10Kuri\xFF"
                                                       "boh\r\nMirror\xC3")
                                         << "lblP2Grave"
                                         << "Kuri\uFFFDboh\nMirror\uFFFD";
    QTest::newRow("in a chat line") << QByteArray("17Yugi: h\xE9llo") << "txtChat"
                                    << "Yugi: h\uFFFDllo\n\n";
    QTest::newRow("in the status line") << QByteArray("18Conn\xFF"
                                                      "ected")
                                        << "lblStatus"
                                        << "Conn\uFFFDected";
    QTest::newRow("in an announcement") << QByteArray("19Rolled \xFE dice") << "announcement"
                                        << "Rolled \uFFFD dice";
    QTest::newRow("in place of the code") << QByteArray("\xFF"
                                                        "16x")
                                          << QString() << QString();
    QTest::newRow("in the second digit of the code") << QByteArray("1\xC3\xA9"
                                                                   "6x")
                                                     << QString() << QString();
}

// Broken UTF-8 in a frame shows as replacement characters in the display it was sent to and
// changes nothing else; the frames after it apply as usual.
void TestAdversary::invalidUtf8ShownAsReplacement()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, control);
    QFETCH(QString, expected);

    Seat seat;
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    QMap<QString, QString> after = shownFromPeer(seat);

    peer.send(framed({message, "0133"}));
    QTRY_COMPARE(seat.text("lblP2Hand"), QStringLiteral("33"));
    after.insert(QStringLiteral("lblP2Hand"), QStringLiteral("33"));
    QMap<QString, QString> shown = shownFromPeer(seat);
    if (control == QLatin1String("announcement")) {
        QCOMPARE(seat.platform.announcements.size(), 1);
        const QString announced = seat.platform.announcements.first().first;
        QVERIFY(announced.contains(QChar::ReplacementCharacter));
        QCOMPARE(collapseReplacements(announced), expected);
    } else {
        QCOMPARE(seat.platform.announcements.size(), 0);
        if (!control.isEmpty()) {
            QVERIFY(shown.value(control).contains(QChar::ReplacementCharacter));
            shown.insert(control, collapseReplacements(shown.value(control)));
            after.insert(control, expected);
        }
    }
    QCOMPARE(shown, after);
    // A chat line beeps, and so does the box an announcement opens.
    QCOMPARE(seat.platform.beeps,
             control == QLatin1String("txtChat") || control == QLatin1String("announcement") ? 1
                                                                                             : 0);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QCOMPARE(seat.platform.programEnds, 0);
}

// --- Frames too large, and floods of empty ones ----------------------------------------------

void TestAdversary::frameOverTheCapEndsOnlyTheLink_data()
{
    QTest::addColumn<qsizetype>("frameBytes");
    QTest::addColumn<qsizetype>("chunk");
    QTest::addColumn<bool>("terminated");

    const qsizetype cap = MessageReader::MaxFrameBytes;
    QTest::newRow("one byte over, one write") << cap + 1 << cap + 64 << false;
    QTest::newRow("one byte over, ended by a NUL") << cap + 1 << cap + 64 << true;
    QTest::newRow("one byte over, in small writes") << cap + 1 << qsizetype(4096) << false;
    QTest::newRow("four times the cap, one write") << 4 * cap << 4 * cap + 64 << false;
}

// A frame over 1 MiB ends the link with a sentence saying why; what valid messages showed
// before stays, and the window can link again.
void TestAdversary::frameOverTheCapEndsOnlyTheLink()
{
    QFETCH(qsizetype, frameBytes);
    QFETCH(qsizetype, chunk);
    QFETCH(bool, terminated);

    Seat seat;
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    QVERIFY(playSomeMoves(seat, peer));
    QMap<QString, QString> expected = shownFromPeer(seat);

    // A valid frame in the same write as the start of the oversized one is still applied.
    QByteArray stream = framed({"0140"}) + "17" + QByteArray(frameBytes - 2, 'z');
    if (terminated)
        stream += '\0';
    for (qsizetype sent = 0; sent < stream.size() && !peer.ended; sent += chunk) {
        peer.send(stream.mid(sent, chunk));
        QCoreApplication::processEvents();
    }

    QTRY_VERIFY_WITH_TIMEOUT(seat.socket()->state() == PeerLink::State::Closed, FloodTimeoutMs);
    // The player is told why the link ended.
    QVERIFY2(seat.status().startsWith(StatusText::Disconnected) &&
                 seat.status().contains(QStringLiteral("over 1 MiB")),
             qPrintable(seat.status()));
    QVERIFY(statusIsTruthful(seat));
    QTRY_VERIFY(peer.ended);
    // The peer was told why, before the end of the stream.
    QVERIFY(peer.received.contains("18Disconnected: the opponent's copy does not take a message "
                                   "over 1 MiB"));
    expected.insert(QStringLiteral("lblP2Hand"), QStringLiteral("40"));
    expected.insert(QStringLiteral("lblStatus"), seat.status());
    QCOMPARE(shownFromPeer(seat), expected);
    QCOMPARE(seat.platform.beeps, 1);
    QCOMPARE(seat.platform.programEnds, 0);

    waitForConnectionAgain(seat);
    QCOMPARE(seat.status(), StatusText::WaitingForConnection);
    QVERIFY(realCopyLinks(seat));
}

void TestAdversary::nulFloodChangesNothing_data()
{
    QTest::addColumn<bool>("greetFirst");
    QTest::newRow("after the greeting") << true;
    // The flood's first NUL is what turns the seat's reader to frames.
    QTest::newRow("from a peer that never greeted") << false;
}

// Megabytes of NULs are empty frames, keep-alives: nothing shown changes, the link stays up and
// the reader keeps nothing of them.
void TestAdversary::nulFloodChangesNothing()
{
    QFETCH(bool, greetFirst);

    Seat seat;
    PlainPeer peer;
    QVERIFY(greetFirst ? framedLink(seat, peer) : plainLink(seat, peer));
    if (greetFirst)
        QVERIFY(playSomeMoves(seat, peer));
    QMap<QString, QString> expected = shownFromPeer(seat);

    const QByteArray megabyte(1024 * 1024, '\0');
    for (int sent = 0; sent < 8; ++sent) {
        peer.send(megabyte);
        QCoreApplication::processEvents();
    }
    // A frame of exactly the cap right after the flood passes only if the reader held not one
    // byte of it: anything kept would count toward that frame's size and end the link.
    peer.send(QByteArray("99") + QByteArray(MessageReader::MaxFrameBytes - 2, 'x') + '\0');
    peer.send(framed({"16after the flood"}));
    QTRY_COMPARE_WITH_TIMEOUT(seat.text("lblP2FieldZone"), QStringLiteral("after the flood"),
                              FloodTimeoutMs);
    QVERIFY(seat.socket()->readsFrames());
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QVERIFY(linkSocket(seat.socket()));
    QCOMPARE(linkSocket(seat.socket())->bytesAvailable(), qint64(0));

    expected.insert(QStringLiteral("lblP2FieldZone"), QStringLiteral("after the flood"));
    QCOMPARE(shownFromPeer(seat), expected);
    QCOMPARE(seat.platform.announcements.size(), 0);
    QCOMPARE(seat.platform.beeps, greetFirst ? 1 : 0);
    QVERIFY(statusIsTruthful(seat));
    QVERIFY(!peer.ended);
    QVERIFY(carriesBothWays(seat, peer));
    QCOMPARE(seat.platform.programEnds, 0);
}

// --- Frames cut short in time and in the middle ---------------------------------------------

void TestAdversary::dribbledFrameAppliedOnceWhole_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");

    QTest::newRow("life points") << QByteArray("027600") << "lblP2LP"
                                 << "7600";
    QTest::newRow("chat line with characters of two to four bytes")
        << QByteArray("17Yugi: caf\xC3\xA9 \xE2\x82\xAC"
                      "5 \xF0\x9F\x82\xA1")
        << "txtChat" << QStringLiteral("Yugi: caf\u00E9 \u20AC5 \U0001F0A1\n\n");
    QTest::newRow("graveyard of two cards")
        << QByteArray("10Kuriboh\r\nMirror Force") << "lblP2Grave"
        << "Kuriboh\nMirror Force";
    QTest::newRow("announcement") << QByteArray("19Your opponent: Flipped coin to heads")
                                  << "announcement"
                                  << "Your opponent: Flipped coin to heads";
}

// A frame that arrives one byte every few milliseconds shows nothing until its NUL, then
// shows whole, once.
void TestAdversary::dribbledFrameAppliedOnceWhole()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, control);
    QFETCH(QString, expected);

    Seat seat;
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    QMap<QString, QString> after = shownFromPeer(seat);
    const QMap<QString, QString> before = after;

    for (const char byte : message) {
        peer.send(QByteArray(1, byte));
        QTest::qWait(3);
        QCOMPARE(shownFromPeer(seat), before);
        QCOMPARE(seat.platform.announcements.size(), 0);
    }
    peer.send(QByteArray(1, '\0'));
    const bool announcement = control == QLatin1String("announcement");
    if (announcement) {
        QTRY_COMPARE(seat.platform.announcements.size(), 1);
        QCOMPARE(seat.platform.announcements.first().first, expected);
    } else {
        after.insert(control, expected);
        QTRY_COMPARE(shownFromPeer(seat), after);
    }
    QTest::qWait(SettleMs);
    QCOMPARE(shownFromPeer(seat), after);
    QCOMPARE(seat.platform.announcements.size(), announcement ? 1 : 0);
    // A chat line beeps, and so does the box an announcement opens.
    QCOMPARE(seat.platform.beeps,
             control == QLatin1String("txtChat") || control == QLatin1String("announcement") ? 1
                                                                                             : 0);
    QVERIFY(statusIsTruthful(seat));
}

void TestAdversary::resetMidMessageKeepsWhatWasShown_data()
{
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<bool>("readBeforeReset");

    QTest::newRow("chat line cut") << QByteArray("17Yugi: I activ") << true;
    QTest::newRow("zone cut") << QByteArray("16Sogen") << true;
    QTest::newRow("inside a character") << QByteArray("17caf\xC3") << true;
    QTest::newRow("announcement cut") << QByteArray("19Rolled dice") << true;
    // The reset may overtake bytes the seat has not read yet.
    QTest::newRow("reset right behind the bytes") << QByteArray("16Sogen") << false;
}

// A reset in the middle of a message ends the link, the unfinished message not applied,
// everything shown before kept. The peer greeted as a copy, so the seat takes the reset for a
// lost link and waits for the copy to come back.
void TestAdversary::resetMidMessageKeepsWhatWasShown()
{
    QFETCH(QByteArray, partial);
    QFETCH(bool, readBeforeReset);

    Seat seat;
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    QVERIFY(playSomeMoves(seat, peer));
    QMap<QString, QString> expected = shownFromPeer(seat);

    peer.send(partial);
    if (readBeforeReset) {
        QTRY_COMPARE(peer.socket->bytesToWrite(), qint64(0));
        QTest::qWait(SettleMs);
    }
    resetConnection(peer.socket);

    QTRY_COMPARE(seat.status(), StatusText::Reconnecting);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Listening);
    QVERIFY(statusIsTruthful(seat));
    QTest::qWait(SettleMs);
    expected.insert(QStringLiteral("lblStatus"), StatusText::Reconnecting);
    QCOMPARE(shownFromPeer(seat), expected);
    QCOMPARE(seat.platform.announcements.size(), 0);
    QCOMPARE(seat.platform.beeps, 1);
    QCOMPARE(seat.platform.programEnds, 0);
}

void TestAdversary::halfCloseIsNoticed_data()
{
    QTest::addColumn<bool>("greetFirst");
    QTest::addColumn<QByteArray>("last");

    QTest::newRow("plain peer") << false << QByteArray("0133");
    QTest::newRow("framed peer") << true << framed({"0133"});
    QTest::newRow("framed peer with a frame left open") << true << framed({"0133"}) + "16Sogen";
}

// A peer that shuts down only its sending side has left: the seat keeps what was shown (the
// last complete message included) and closes its side too. It says "Disconnected", or, as a
// copy never leaves without a goodbye, that it waits for a copy whose link was lost.
void TestAdversary::halfCloseIsNoticed()
{
    QFETCH(bool, greetFirst);
    QFETCH(QByteArray, last);

    Seat seat;
    PlainPeer peer;
    QVERIFY(greetFirst ? framedLink(seat, peer) : plainLink(seat, peer));
    if (greetFirst)
        QVERIFY(playSomeMoves(seat, peer));
    QMap<QString, QString> expected = shownFromPeer(seat);

    peer.send(last);
    QVERIFY(shutDownSending(peer.socket));

    const QString ended = greetFirst ? StatusText::Reconnecting : StatusText::Disconnected;
    QTRY_COMPARE(seat.status(), ended);
    QCOMPARE(seat.socket()->state(),
             greetFirst ? PeerLink::State::Listening : PeerLink::State::Closed);
    QVERIFY(statusIsTruthful(seat));
    QTRY_VERIFY(peer.ended);
    expected.insert(QStringLiteral("lblP2Hand"), QStringLiteral("33"));
    expected.insert(QStringLiteral("lblStatus"), ended);
    QCOMPARE(shownFromPeer(seat), expected);
    QCOMPARE(seat.platform.programEnds, 0);
}

// --- Markup ---------------------------------------------------------------------------------

void TestAdversary::markupShownLiterallyAndNothingLoaded_data()
{
    // "%1" stands for the port of a listener that records any attempt to fetch something.
    QTest::addColumn<QString>("markup");
    QTest::newRow("bold") << "<b>bold</b>";
    QTest::newRow("local file image") << "<img src=file:///etc/passwd>";
    QTest::newRow("network image") << R"(<img src="http://127.0.0.1:%1/card.png">)";
    QTest::newRow("link") << R"(<a href="http://127.0.0.1:%1/">click</a>)";
    QTest::newRow("style sheet") << R"(<style>@import url(http://127.0.0.1:%1/x.css);</style>x)";
    QTest::newRow("whole document")
        << "<!DOCTYPE html><html><body><table><tr><td>cell</td></tr></table></body></html>";
    QTest::newRow("entities") << "&lt;b&gt; &amp; &#65;";
}

// Markup from the peer in any display (zones, chat, status line, the "19" announcement) shows
// as the characters it is made of; no image, link or style sheet is loaded.
void TestAdversary::markupShownLiterallyAndNothingLoaded()
{
    QFETCH(QString, markup);

    QTcpServer fetchRecorder;
    QVERIFY(fetchRecorder.listen(QHostAddress::LocalHost, 0));
    markup.replace(QStringLiteral("%1"), QString::number(fetchRecorder.serverPort()));

    Seat seat;
    seat.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(seat.window.get()));
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));

    const QByteArray payload = markup.toUtf8();
    QByteArray stream;
    for (const ZoneMirror &zone : ZoneTable::all())
        stream += zone.code.toLatin1() + payload + '\0';
    stream += framed({"17" + payload, "18" + payload, "19" + payload});
    peer.send(stream);
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    (void)seat.window->grab(); // lays out and paints everything, as a real screen would
    QTest::qWait(SettleMs);

    for (const ZoneMirror &zone : ZoneTable::all()) {
        QCOMPARE(seat.text(zone.displayName), markup);
        if (const auto *label = seat.control<QLabel>(zone.displayName))
            QCOMPARE(label->textFormat(), Qt::PlainText);
        if (const auto *box = seat.control<QPlainTextEdit>(zone.displayName))
            QVERIFY2(holdsOnlyText(box), qPrintable(zone.displayName));
    }
    QCOMPARE(seat.text("txtChat"), markup + QStringLiteral("\n\n"));
    QVERIFY(holdsOnlyText(seat.control<QPlainTextEdit>("txtChat")));
    QCOMPARE(seat.status(), markup);
    QCOMPARE(seat.control<QLabel>(QStringLiteral("lblStatus"))->textFormat(), Qt::PlainText);
    QCOMPARE(seat.platform.announcements.first(), RecordingPlatform::Box(markup, "Skarnet"));
    QVERIFY2(!fetchRecorder.hasPendingConnections(), "the board tried to fetch something");
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QCOMPARE(seat.platform.programEnds, 0);
}

// --- Other clients --------------------------------------------------------------------------

void TestAdversary::moreClientsAreRefusedWithoutTouchingTheLink_data()
{
    QTest::addColumn<int>("clients");
    QTest::newRow("a second client") << 1;
    QTest::newRow("up to a hundredth client") << 99;
}

// While a link is up, further clients are turned away: none gets a byte in or out, and the
// first link carries messages both ways afterwards as before.
void TestAdversary::moreClientsAreRefusedWithoutTouchingTheLink()
{
    QFETCH(int, clients);

    Seat seat;
    const int port = seat.port();
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    QVERIFY(playSomeMoves(seat, peer));
    const QMap<QString, QString> before = shownFromPeer(seat);
    const QByteArray receivedBefore = peer.received;

    // Each intruder, should it get in, would try to take the board over.
    std::vector<std::unique_ptr<QTcpSocket>> intruders;
    QByteArray heard;
    for (int client = 0; client < clients; ++client) {
        auto &intruder = intruders.emplace_back(std::make_unique<QTcpSocket>());
        QTcpSocket *socket = intruder.get();
        connect(socket, &QTcpSocket::connected, socket, [socket] {
            socket->write(greeting() + framed({"18Disconnected", "16intruder", "17x: hi"}));
        });
        connect(socket, &QTcpSocket::readyRead, socket,
                [socket, &heard] { heard += socket->readAll(); });
        socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    }
    const auto allTurnedAway = [&] {
        return std::all_of(intruders.cbegin(), intruders.cend(), [](const auto &intruder) {
            return intruder->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allTurnedAway(), LinkTimeoutMs * 2);
    QTest::qWait(SettleMs);

    // Each is heard out beside the link (the listener stays open for an invited copy) and
    // turned away before it is answered.
    QCOMPARE(heard, QByteArray());
    QCOMPARE(shownFromPeer(seat), before);
    QCOMPARE(peer.received, receivedBefore);
    QVERIFY(!peer.ended);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QVERIFY(statusIsTruthful(seat));
    QVERIFY(carriesBothWays(seat, peer));
    QCOMPARE(seat.platform.programEnds, 0);
}

// A hundred clients knocking at once while the seat waits: one of them gets the link, every
// other is turned away without hearing a byte, and the board follows only the linked one.
void TestAdversary::crowdKnockingAtOnceGetsOneLink()
{
    constexpr int Clients = 100;

    Seat seat;
    const int port = seat.port();
    std::vector<std::unique_ptr<PlainPeer>> crowd;
    for (int client = 0; client < Clients; ++client) {
        auto &knocking = crowd.emplace_back(std::make_unique<PlainPeer>());
        knocking->socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    }

    const auto linkedOnes = [&] {
        QList<PlainPeer *> linked;
        for (const auto &client : crowd) {
            if (client->socket->state() == QAbstractSocket::ConnectedState)
                linked.append(client.get());
        }
        return linked;
    };
    // Turned away: refused outright, or closed by the seat before it read or sent anything.
    QTRY_VERIFY_WITH_TIMEOUT(linkedOnes().size() == 1 &&
                                 std::all_of(crowd.cbegin(), crowd.cend(),
                                             [](const auto &client) {
                                                 const auto state = client->socket->state();
                                                 return state == QAbstractSocket::ConnectedState ||
                                                        state == QAbstractSocket::UnconnectedState;
                                             }),
                             LinkTimeoutMs * 3);
    PlainPeer &linked = *linkedOnes().first();
    QTRY_COMPARE(linked.received, QByteArray("18Connected"));
    for (const auto &client : crowd) {
        if (client.get() != &linked)
            QCOMPARE(client->received, QByteArray());
    }
    QCOMPARE(seat.status(), StatusText::Connected);

    linked.send(greeting());
    QTRY_VERIFY(seat.socket()->sendsFrames());
    linked.send(QByteArray(1, '\0'));
    QVERIFY(carriesBothWays(seat, linked));
    QVERIFY(statusIsTruthful(seat));
    QCOMPARE(seat.platform.programEnds, 0);
}

void TestAdversary::silentClientBlocksNothing_data()
{
    QTest::addColumn<bool>("leavesWithReset");
    QTest::newRow("leaves with a close") << false;
    QTest::newRow("leaves with a reset") << true;
}

// A client that connects and never says a word holds the link like any plain peer: the seat
// says "Connected" and keeps sending its edits. Once it goes, the seat listens again by itself
// and a real copy can link.
void TestAdversary::silentClientBlocksNothing()
{
    QFETCH(bool, leavesWithReset);

    Seat seat;
    QVERIFY(seat.showActive());
    PlainPeer silent;
    QVERIFY(plainLink(seat, silent));
    // Longer than any wait of the handshake.
    QTest::qWait(Greeting::WaitMs + SettleMs);
    QCOMPARE(seat.status(), StatusText::Connected);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);

    seat.control<QLineEdit>("txtP1LP")->setText(QStringLiteral("7000"));
    seat.control<QPlainTextEdit>("txtP1Grave")->setPlainText(QStringLiteral("Kuriboh\nRaigeki"));
    seat.control<QLineEdit>("txtName")->setText(QStringLiteral("Seto"));
    auto *line = seat.control<QLineEdit>("txtMessage");
    line->setText(QStringLiteral("still here"));
    QTest::keyClick(line, Qt::Key_Return);
    QTRY_COMPARE(silent.received, QByteArray("18Connected"
                                             "027000"
                                             "10Kuriboh\r\nRaigeki"
                                             "17Seto: still here"));
    QCOMPARE(seat.text("txtChat"), QStringLiteral("Seto: still here\n\n"));

    if (leavesWithReset)
        resetConnection(silent.socket);
    else
        silent.socket->disconnectFromHost();
    QTRY_COMPARE(seat.socket()->state(), PeerLink::State::Listening);
    QCOMPARE(seat.status(), StatusText::WaitingForConnection);
    QVERIFY(realCopyLinks(seat));
    QCOMPARE(seat.platform.programEnds, 0);
}

void TestAdversary::visitorGoneBeforeSpeakingLeavesSeatListening_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("reset");
    QTest::addColumn<bool>("spoke");
    QTest::newRow("gone with a close") << QByteArray() << false << false;
    QTest::newRow("gone with a reset") << QByteArray() << true << false;
    QTest::newRow("garbage, then gone")
        << QByteArray("GET / HTTP/1.0\r\n\r\n\x16\x03\x01") << false << false;
    QTest::newRow("a chat line, then gone") << QByteArray("17hello") << false << true;
}

// A port open to the internet is knocked on by scanners that connect and go, at once or after
// some bytes that are no message of the table. Whatever the seat then does, its status line must
// not claim a link; and as nothing of the duel was said, the seat listens again by itself,
// without a box or a beep, so that the real opponent still finds it. A peer that did say
// something ends the link as any peer does.
void TestAdversary::visitorGoneBeforeSpeakingLeavesSeatListening()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, reset);
    QFETCH(bool, spoke);
    // Ending the link inside the first send must not go on to read from the closed socket.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("device not open")));

    Seat seat;
    QTcpSocket scanner;
    scanner.connectToHost(QHostAddress::LocalHost, quint16(seat.port()));
    QVERIFY(scanner.waitForConnected(LinkTimeoutMs));
    if (!sent.isEmpty()) {
        QTRY_COMPARE(seat.socket()->state(), PeerLink::State::Connected);
        scanner.write(sent);
        QTest::qWait(SettleMs);
    }
    if (reset)
        resetConnection(&scanner);
    else
        scanner.disconnectFromHost();
    QTest::qWait(SettleMs);
    QTRY_VERIFY(seat.socket()->state() != PeerLink::State::Connected);
    QVERIFY(statusIsTruthful(seat));
    QCOMPARE(seat.platform.programEnds, 0);
    QCOMPARE(seat.platform.boxes.size(), 1); // the thanks box only
    QCOMPARE(seat.platform.beeps, spoke ? 1 : 0);
    if (spoke) {
        QCOMPARE(seat.status(), StatusText::Disconnected);
        waitForConnectionAgain(seat);
    } else {
        QTRY_COMPARE(seat.socket()->state(), PeerLink::State::Listening);
        PlainPeer peer;
        QVERIFY(plainLink(seat, peer));
        peer.socket->disconnectFromHost();
        QTRY_COMPARE(seat.socket()->state(), PeerLink::State::Listening);
    }
    QVERIFY(realCopyLinks(seat));
}

// --- Volume ---------------------------------------------------------------------------------

// A hundred thousand chat lines in one burst are all shown, in order, once each, and the board
// still applies a zone edit and sends one of its own afterwards.
void TestAdversary::hundredThousandChatLinesAllShownInOrder()
{
    constexpr int Lines = 100000;

    Seat seat;
    seat.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(seat.window.get()));
    PlainPeer peer;
    QVERIFY(framedLink(seat, peer));
    const QMap<QString, QString> before = shownFromPeer(seat);

    QByteArray stream;
    QString expected;
    stream.reserve(Lines * 24);
    expected.reserve(Lines * 24);
    for (int line = 1; line <= Lines; ++line) {
        const QString entry = QStringLiteral("Pegasus: line %1").arg(line);
        stream += "17" + entry.toUtf8() + '\0';
        expected += entry + QStringLiteral("\n\n");
    }
    peer.send(stream);

    QTRY_VERIFY_WITH_TIMEOUT(seat.platform.beeps >= Lines, FloodTimeoutMs);
    const QString chat = seat.text("txtChat");
    if (chat != expected) {
        qsizetype at = 0;
        while (at < std::min(chat.size(), expected.size()) && chat[at] == expected[at])
            ++at;
        QFAIL(qPrintable(QStringLiteral("the chat log differs from character %1: %2")
                             .arg(at)
                             .arg(chat.mid(std::max<qsizetype>(0, at - 20), 60))));
    }
    QCOMPARE(seat.platform.beeps, Lines);
    QMap<QString, QString> shown = shownFromPeer(seat);
    shown.insert(QStringLiteral("txtChat"), before.value(QStringLiteral("txtChat")));
    QCOMPARE(shown, before);
    QVERIFY(statusIsTruthful(seat));
    QVERIFY(carriesBothWays(seat, peer));
    QCOMPARE(seat.platform.programEnds, 0);
}

QTEST_MAIN(TestAdversary)
#include "tst_adversary.moc"
