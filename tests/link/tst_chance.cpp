// The coin and dice window: its layout, what each click shows and announces over a real
// loopback link, and the fairness of the draws of a real run.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "chance/CoinDiceWindow.h"
#include "draws/DrawProtocol.h"
#include "draws/DrawSentences.h"
#include "link/PeerLink.h"
#include "platform/QtPlatformServices.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <array>

using namespace LinkHarness;

namespace {

const QString Received = QStringLiteral(", Your opponnent has received the outcome");

QPushButton *button(const QWidget &window, const char *name)
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

QLabel *outcome(const QWidget &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblOutcome"));
}

// One click drawing `draw`; `result` is "HEADS", "TAILS" or the face rolled.
void addClick(const QByteArray &name, double draw, const QString &result, bool connected = true)
{
    const bool coin = result == QLatin1String("HEADS") || result == QLatin1String("TAILS");
    const QString shown = (coin ? result.left(1) + result.mid(1).toLower() : result) + Received;
    const QString sent = (coin ? QStringLiteral("19Your opponnent: Flipped coin to ")
                               : QStringLiteral("19Your opponent: Rolled dice to ")) +
                         result;
    QTest::newRow(name.constData()) << QByteArray(coin ? "cmdCoin" : "cmdDice") << draw << connected
                                    << shown << (connected ? sent.toLatin1() : QByteArray());
}

// Clicks the board's "COIN / DICE" and returns the coin and dice window it shows.
CoinDiceWindow *openOutcome(Seat &seat)
{
    seat.control<QPushButton>(QStringLiteral("cmdProb"))->click();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *window = qobject_cast<CoinDiceWindow *>(widget);
        if (window && window->isVisible())
            return window;
    }
    return nullptr;
}

} // namespace

class TestChance : public QObject
{
    Q_OBJECT

private slots:
    void freshWindowLayout();
    void opensCentredWithCoinFocusedAndDeletesOnClose();
    void clickShowsAndAnnounces_data();
    void clickShowsAndAnnounces();
    void copiesDrawTogether();
    void peersThatDoNotDrawTogetherHearTheResult_data();
    void peersThatDoNotDrawTogetherHearTheResult();
    void lyingPeerIsCaughtAndTheLinkStaysUp_data();
    void lyingPeerIsCaughtAndTheLinkStaysUp();
    void realDiceAndCoinAreFair();
    void backToBackDrawsAreIndependent();
};

void TestChance::freshWindowLayout()
{
    TableProtocol idle;
    RecordingPlatform platform;
    CoinDiceWindow window(idle, platform);

    QCOMPARE(window.objectName(), QStringLiteral("frmOutcome"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Coin / Dice Roll"));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(window.isWindow());
    QCOMPARE(window.size(), QSize(185, 70));
    QVERIFY(window.autoFillBackground());
    QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::black));

    struct Control
    {
        const char *name;
        QString text;
        QRect area;
    };
    const std::array<Control, 3> controls = {{
        {"cmdCoin", QStringLiteral("Flip Coin"), {8, 8, 73, 25}},
        {"cmdDice", QStringLiteral("Roll Dice"), {104, 8, 73, 25}},
        {"lblOutcome", QStringLiteral("Outcome"), {8, 40, 169, 25}},
    }};
    // A larger window moves and grows nothing.
    for (const QSize size : {QSize(185, 70), QSize(400, 300)}) {
        window.resize(size);
        for (const Control &control : controls) {
            const auto *widget = window.findChild<QWidget *>(QString::fromLatin1(control.name));
            QVERIFY2(widget, control.name);
            QCOMPARE(widget->geometry(), control.area);
            QCOMPARE(widget->property("text").toString(), control.text);
        }
    }
    for (const char *name : {"cmdCoin", "cmdDice"}) {
        QCOMPARE(button(window, name)->palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(button(window, name)->palette().color(QPalette::ButtonText),
                 QApplication::palette().color(QPalette::ButtonText));
    }

    QLabel *label = outcome(window);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QVERIFY(label->autoFillBackground());
    QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::black));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::white));
    QVERIFY(label->wordWrap());
    // The longest result wraps inside the label's area instead of being cut off at its edge:
    // every line stands on a baseline within the label, at most the last descent touches the rim.
    const QFontMetrics metrics = label->fontMetrics();
    const QRect needed = metrics.boundingRect(QRect(0, 0, label->width(), 1000), Qt::TextWordWrap,
                                              QStringLiteral("Heads") + Received);
    QVERIFY2(needed.height() - metrics.descent() <= label->height(),
             qPrintable(QString::number(needed.height())));
}

void TestChance::opensCentredWithCoinFocusedAndDeletesOnClose()
{
    TableProtocol idle;
    RecordingPlatform platform;
    QPointer<CoinDiceWindow> window = new CoinDiceWindow(idle, platform);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));

    const QPoint screenCentre = window->screen()->availableGeometry().center();
    const QPoint offset = window->frameGeometry().center() - screenCentre;
    QVERIFY2(offset.manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

    // Tab goes from "Flip Coin" to "Roll Dice" and back; the label takes no focus.
    for (const char *expected : {"cmdCoin", "cmdDice", "cmdCoin"}) {
        QCOMPARE(QApplication::focusWidget(), button(*window, expected));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }

    window->close();
    QTRY_VERIFY(window.isNull());
}

void TestChance::clickShowsAndAnnounces_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<double>("draw");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("sent");

    addClick("coin 0", 0.0, "HEADS");
    addClick("coin 0.49", 0.49, "HEADS");
    addClick("coin 0.5", 0.5, "TAILS");
    addClick("coin 0.999999", 0.999999, "TAILS");
    addClick("coin 1 held to tails", 1.0, "TAILS");
    addClick("coin not connected", 0.7, "TAILS", false);
    // Each face from just above its lower edge and from just below its upper edge.
    for (int face = 1; face <= 6; ++face) {
        addClick("die low " + QByteArray::number(face), (face - 1) / 6.0 + 1e-12,
                 QString::number(face));
        addClick("die high " + QByteArray::number(face), face / 6.0 - 1e-12, QString::number(face));
    }
    addClick("die just below 1", 0.9999999999999999, "6");
    addClick("die 1 held to six", 1.0, "6");
    addClick("die not connected", 0.5, "4", false);
}

void TestChance::clickShowsAndAnnounces()
{
    QFETCH(QByteArray, control);
    QFETCH(double, draw);
    QFETCH(bool, connected);
    QFETCH(QString, label);
    QFETCH(QByteArray, sent);

    Seat seat;
    PlainPeer peer;
    if (connected)
        QVERIFY(plainLink(seat, peer));
    CoinDiceWindow window(seat.window->table(), seat.platform);
    // The second value is left for a click that would wrongly draw twice.
    seat.platform.draws = {draw, 0.25};

    button(window, control.constData())->click();
    QCOMPARE(outcome(window)->text(), label);
    QCOMPARE(seat.platform.draws.size(), 1);

    if (!connected)
        QVERIFY(plainLink(seat, peer)); // nothing may have been kept back for the new link
    QTRY_COMPARE(peer.received, "18Connected" + sent);
    QTest::qWait(50);
    QCOMPARE(peer.received, "18Connected" + sent);
}

// Two linked copies: each click of the drawing copy's window is drawn by both, and both show
// the same result, the drawer in its window and the other copy in its announcement box.
void TestChance::copiesDrawTogether()
{
    Seat drawer;
    Seat other;
    QVERIFY(link(drawer, other));
    QVERIFY(drawer.socket()->drawsTogether());
    CoinDiceWindow *window = openOutcome(drawer);
    QVERIFY(window);

    QSet<QString> seen;
    for (int i = 0; i < 40; ++i) {
        const bool coin = i % 2 == 0;
        button(*window, coin ? "cmdCoin" : "cmdDice")->click();
        QTRY_COMPARE(other.platform.announcements.size(), i + 1);
        const QString label = outcome(*window)->text();
        QVERIFY2(label.endsWith(QLatin1String(" (drawn by both copies)")), qPrintable(label));
        const QString face = label.section(QLatin1Char(' '), 0, 0);
        const QString announced =
            coin ? QStringLiteral("Your opponnent: Flipped coin to ") + face.toUpper()
                 : QStringLiteral("Your opponent: Rolled dice to ") + face;
        QCOMPARE(other.platform.announcements.last().first,
                 announced + QStringLiteral(" (drawn by both copies)"));
        seen.insert(face);
    }
    // Neither copy's window asked the platform's generator, and the results vary.
    QCOMPARE(drawer.platform.draws.size(), 0);
    QVERIFY2(seen.contains(QStringLiteral("Heads")) && seen.contains(QStringLiteral("Tails")) &&
                 seen.size() >= 5,
             qPrintable(QStringList(seen.values()).join(QLatin1Char(','))));
    QVERIFY(drawer.platform.announcements.isEmpty());
    window->close();
    unlink(drawer, other);
}

void TestChance::peersThatDoNotDrawTogetherHearTheResult_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::newRow("a peer of the plain table") << QByteArray();
    // An earlier copy frames its messages but does not take part in draws.
    QTest::newRow("a copy that greets with version 1") << greeting(1);
}

// Through the board's own coin window: the click draws alone and the peer hears the result as
// it always has.
void TestChance::peersThatDoNotDrawTogetherHearTheResult()
{
    QFETCH(QByteArray, greeting);

    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    if (!greeting.isEmpty()) {
        peer.send(greeting);
        QTRY_VERIFY(seat.socket()->sendsFrames());
        QTest::qWait(SettleMs); // the whole half that a copy sends on framing
    }
    QVERIFY(!seat.socket()->drawsTogether());
    seat.platform.draws = {0.75};
    const qsizetype before = peer.received.size();
    CoinDiceWindow *window = openOutcome(seat);
    QVERIFY(window);
    button(*window, "cmdCoin")->click();
    QCOMPARE(outcome(*window)->text(), QStringLiteral("Tails") + Received);
    QByteArray announcement("19Your opponnent: Flipped coin to TAILS");
    if (!greeting.isEmpty())
        announcement += '\0';
    QTRY_COMPARE(peer.received.mid(before), announcement);
    window->close();
}

void TestChance::lyingPeerIsCaughtAndTheLinkStaysUp_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("announced");

    const QByteArray salt(DrawProtocol::SaltBytes, 's');
    const QByteArray secret(DrawProtocol::SecretBytes, 'k');
    const QByteArray commit =
        DrawProtocol::commit(7, 6, DrawProtocol::commitment(salt, secret)).toLatin1();
    const QByteArray reveal = DrawProtocol::reveal(7, salt, secret).toLatin1();
    const QByteArray greeting = LinkHarness::greeting();
    QTest::newRow("a reveal of another secret")
        << greeting
        << QList<QByteArray>{commit, DrawProtocol::reveal(7, salt, QByteArray(32, 'x')).toLatin1()}
        << QStringList{DrawSentences::unchecked(6, DrawExchange::Unchecked::RevealMismatch)};
    QTest::newRow("a commitment replayed after its reveal")
        << greeting << QList<QByteArray>{commit, reveal, commit}
        << QStringList{QStringLiteral("*"),
                       DrawSentences::unchecked(6, DrawExchange::Unchecked::ReusedCommitment)};
    // A peer that never greeted is not a copy: its draw codes are dropped as unknown codes are.
    QTest::newRow("a peer of the plain table")
        << QByteArray() << QList<QByteArray>{commit} << QStringList{};
}

// A peer that tries to pass off a draw of its choosing is named for it, and nothing else
// happens: the link stays up and the board keeps working.
void TestChance::lyingPeerIsCaughtAndTheLinkStaysUp()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, announced);

    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    if (!greeting.isEmpty()) {
        peer.send(greeting);
        QTRY_VERIFY(seat.socket()->drawsTogether());
    }
    for (const QByteArray &message : sent) {
        peer.send(greeting.isEmpty() ? message : message + '\0');
        QTest::qWait(SettleMs / 3);
    }
    QTest::qWait(SettleMs);
    QCOMPARE(seat.platform.announcements.size(), announced.size());
    for (qsizetype i = 0; i < announced.size(); ++i)
        if (announced[i] != QLatin1String("*")) // a draw that was honest has a result
            QCOMPARE(seat.platform.announcements[i].first, announced[i]);
    QCOMPARE(peer.received.contains("22"), !greeting.isEmpty());
    QVERIFY(!peer.ended);
    QCOMPARE(seat.status(), StatusText::Connected);
}

// A real run's draws: the faces of 60,000 rolls come up about equally often, and so do heads
// and tails.
void TestChance::realDiceAndCoinAreFair()
{
    TableProtocol idle;
    QtPlatformServices platform;
    CoinDiceWindow window(idle, platform);
    QPushButton *dice = button(window, "cmdDice");
    QPushButton *coin = button(window, "cmdCoin");
    QLabel *label = outcome(window);

    constexpr int Rolls = 60000;
    std::array<int, 6> faces{};
    for (int i = 0; i < Rolls; ++i) {
        dice->click();
        const int face = label->text().left(1).toInt();
        QVERIFY2(face >= 1 && face <= 6, qPrintable(label->text()));
        ++faces[face - 1];
    }
    double chiSquare = 0;
    for (int count : faces) {
        QVERIFY2(count >= 9000 && count <= 11000, qPrintable(QString::number(count)));
        chiSquare += (count - 10000.0) * (count - 10000.0) / 10000.0;
    }
    // Five degrees of freedom: a fair die goes past 30 in fewer than one run in 50,000.
    QVERIFY2(chiSquare < 30, qPrintable(QString::number(chiSquare)));

    constexpr int Flips = 20000;
    int heads = 0;
    for (int i = 0; i < Flips; ++i) {
        coin->click();
        heads += label->text().startsWith(QLatin1String("Heads,"));
    }
    QVERIFY2(heads >= 9400 && heads <= 10600, qPrintable(QString::number(heads)));
}

// Two clicks in quick succession, well within one tick of the clock, give independent results:
// equal pairs come up about as often as chance makes them (1 in 6 for the die, 1 in 2 for the
// coin), not nearly always.
void TestChance::backToBackDrawsAreIndependent()
{
    TableProtocol idle;
    QtPlatformServices platform;
    CoinDiceWindow window(idle, platform);
    QLabel *label = outcome(window);

    constexpr int Pairs = 10000;
    for (const auto &[control, limit] : {std::pair{"cmdDice", 0.25}, std::pair{"cmdCoin", 0.6}}) {
        QPushButton *clicked = button(window, control);
        int equal = 0;
        for (int i = 0; i < Pairs; ++i) {
            clicked->click();
            const QString first = label->text();
            clicked->click();
            equal += label->text() == first;
        }
        QVERIFY2(
            equal < limit * Pairs,
            qPrintable(
                QStringLiteral("%1: %2 equal pairs of %3").arg(control).arg(equal).arg(Pairs)));
    }
}

QTEST_MAIN(TestChance)
#include "tst_chance.moc"
