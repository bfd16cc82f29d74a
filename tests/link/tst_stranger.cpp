// What a hostile stranger or a clumsy player can do to a running board, one row a case: floods
// that would stall the window or open box after box, a player's own paste too long for the other
// copy, a cancelled address prompt, a multi-line paste into the chat line. In every row the
// window keeps answering (a hand count typed meanwhile reaches the other side within a second),
// at most one box is open, memory stays within 50 MB of where it started, and the program can
// be closed.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "connections/ConnectionsWindow.h"
#include "draws/DrawProtocol.h"
#include "link/PeerLink.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

using namespace LinkHarness;

namespace {

enum class Case
{
    UnbrokenChatFramed,
    UnbrokenChatPlain,
    Announcements,
    UnrevealedCommitments,
    OwnOversizedPaste,
    CancelledPrompt,
    EmptyAnswer,
    MultiLineChat,
};

constexpr qint64 MemoryAllowanceBytes = 50 * 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory aside to catch a later use of it, so the process grows by
// what it freed; the bound is checked in the plain build.
constexpr bool MemoryIsMeasured = false;
#else
constexpr bool MemoryIsMeasured = true;
#endif
constexpr int AnswerMs = 1000;

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestStranger : public QObject
{
    Q_OBJECT

private slots:
    void boardOutlastsTheFlood_data();
    void boardOutlastsTheFlood();
};

void TestStranger::boardOutlastsTheFlood_data()
{
    QTest::addColumn<Case>("flood");
    QTest::newRow("1 MB unbroken chat line, framed") << Case::UnbrokenChatFramed;
    QTest::newRow("1 MB unbroken chat line, plain") << Case::UnbrokenChatPlain;
    QTest::newRow("500 announcements") << Case::Announcements;
    QTest::newRow("2,000 unrevealed commitments") << Case::UnrevealedCommitments;
    QTest::newRow("1.1 MB pasted into the graveyard") << Case::OwnOversizedPaste;
    QTest::newRow("Connect to IP cancelled") << Case::CancelledPrompt;
    QTest::newRow("Connect to IP, blank answer") << Case::EmptyAnswer;
    QTest::newRow("multi-line paste into the chat line") << Case::MultiLineChat;
}

void TestStranger::boardOutlastsTheFlood()
{
    QFETCH(Case, flood);
    const qint64 memoryBefore = residentBytes();
    Seat seat(freePort());
    seat.platform.boxes.clear(); // the thanks box of start-up
    seat.platform.holdAnnouncementBox = true;
    seat.control<QLineEdit>(QStringLiteral("txtName"))->setText(QStringLiteral("Yugi"));

    // The other side: a peer of our own making, or a second board for the player's paste.
    PlainPeer peer;
    std::unique_ptr<Seat> other;
    if (flood == Case::OwnOversizedPaste) {
        other = std::make_unique<Seat>();
        QVERIFY(link(*other, seat));
    } else if (flood == Case::UnbrokenChatPlain || flood == Case::CancelledPrompt ||
               flood == Case::EmptyAnswer || flood == Case::MultiLineChat) {
        QVERIFY(plainLink(seat, peer));
    } else {
        QVERIFY(framedLink(seat, peer, flood == Case::Announcements ? 1 : UnencryptedCopy));
    }
    const bool framed = seat.socket()->sendsFrames();
    auto *grave = seat.control<QPlainTextEdit>(QStringLiteral("txtP1Grave"));
    const QString graveBefore = grave->toPlainText();

    switch (flood) {
    case Case::UnbrokenChatFramed:
        peer.send("17" + QByteArray(1000 * 1000, 'F') + '\0');
        break;
    case Case::UnbrokenChatPlain:
        peer.send("17" + QByteArray(1000 * 1000, 'F'));
        break;
    case Case::Announcements: {
        QByteArray many;
        for (int i = 0; i < 500; ++i)
            many += "19Your opponent: Rolled dice to " + QByteArray::number(i % 6 + 1) + '\0';
        peer.send(many);
        break;
    }
    case Case::UnrevealedCommitments: {
        QByteArray many;
        for (int id = 1; id <= 2000; ++id)
            many += DrawProtocol::commit(
                        quint32(id), 6,
                        DrawProtocol::commitment(QByteArray(16, 's'), QByteArray::number(id)))
                        .toLatin1() +
                    '\0';
        peer.send(many);
        break;
    }
    case Case::OwnOversizedPaste:
        grave->moveCursor(QTextCursor::End);
        grave->insertPlainText(QString(1100 * 1000, QLatin1Char('x')));
        break;
    case Case::CancelledPrompt:
    case Case::EmptyAnswer: {
        ConnectionsWindow *connections = openConnections(seat);
        QVERIFY(connections);
        seat.platform.answers = {flood == Case::EmptyAnswer ? QStringLiteral("  ") : QString()};
        connections->onConnectClicked();
        break;
    }
    case Case::MultiLineChat:
        seat.control<QLineEdit>(QStringLiteral("txtMessage"))
            ->insert(QStringLiteral("one\ntwo\r\nthree\tfour\u0007"));
        QTest::keyClick(seat.control(QStringLiteral("txtMessage")), Qt::Key_Return);
        break;
    }

    // The window goes on answering: a hand count typed now reaches the other side at once.
    seat.control<QLineEdit>(QStringLiteral("txtP1Hand"))->setText(QStringLiteral("7"));
    const QByteArray hand = framed ? QByteArray("017\0", 4) : QByteArray("017");
    if (other)
        QTRY_COMPARE_WITH_TIMEOUT(other->text(QStringLiteral("lblP2Hand")), QStringLiteral("7"),
                                  AnswerMs);
    else
        QTRY_VERIFY_WITH_TIMEOUT(peer.received.contains(hand), AnswerMs);

    switch (flood) {
    case Case::UnbrokenChatFramed:
    case Case::UnbrokenChatPlain:
        QTRY_VERIFY(
            seat.text(QStringLiteral("txtChat")).contains(QStringLiteral("more characters")));
        break;
    case Case::Announcements:
        QTRY_COMPARE(seat.platform.announcements.size(), 500);
        QVERIFY(seat.platform.announcements.last().first.contains(QStringLiteral("499 earlier")));
        break;
    case Case::UnrevealedCommitments:
        QTRY_VERIFY(!seat.platform.announcements.isEmpty());
        // Four answered, the rest refused.
        QTRY_COMPARE(peer.received.count(QByteArray("\0"
                                                    "22",
                                                    3)),
                     4);
        QTest::qWait(SettleMs);
        QCOMPARE(peer.received.count(QByteArray("\0"
                                                "22",
                                                3)),
                 4);
        break;
    case Case::OwnOversizedPaste:
        QCOMPARE(grave->toPlainText(), graveBefore);
        QTRY_COMPARE(seat.platform.boxes.size(), 1);
        QVERIFY(seat.platform.boxes.first().first.contains(QStringLiteral("too long")));
        QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
        QCOMPARE(other->text(QStringLiteral("lblP2Grave")), graveBefore);
        break;
    case Case::CancelledPrompt:
    case Case::EmptyAnswer:
        QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
        QVERIFY(!peer.ended);
        QCOMPARE(seat.status(), QStringLiteral("Connected"));
        break;
    case Case::MultiLineChat:
        QTRY_VERIFY(peer.received.contains("17Yugi: one two three four"));
        QVERIFY(!peer.received.contains('\n') && !peer.received.contains('\a'));
        break;
    }

    QVERIFY(seat.platform.announcementBoxes <= 1);
    QVERIFY(seat.platform.boxes.size() <= 1);
    const qint64 growth = residentBytes() - memoryBefore;
    qInfo("memory %+lld MB, %d announcement box(es), %lld other box(es)", growth >> 20,
          seat.platform.announcementBoxes, qlonglong(seat.platform.boxes.size()));
    QVERIFY2(!MemoryIsMeasured || growth < MemoryAllowanceBytes,
             qPrintable(QString::number(growth >> 20) + " MB"));
    seat.window->close();
    QCOMPARE(seat.platform.programEnds, 1);
    if (other)
        unlink(seat, *other);
}

QTEST_MAIN(TestStranger)
#include "tst_stranger.moc"
