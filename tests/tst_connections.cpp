// The player's side of the link and the main window's own tools: the connections window,
// chat and the life-point buttons, and the splash that leads to the main window.
#include "LinkHarness.h"
#include "link/FrmConnections.h"
#include "startup/FrmSplash.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>

using namespace LinkHarness;

namespace {

const QString Connected = QStringLiteral("Connected");
const QString Disconnected = QStringLiteral("Disconnected");

// Clicks "Connections Window" and returns the one connections window of that seat then open.
FrmConnections *openConnections(Seat &seat)
{
    seat.control<QPushButton>(QStringLiteral("cmdConnections"))->click();
    QList<FrmConnections *> open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *window = qobject_cast<FrmConnections *>(widget);
        if (window && window->isVisible() && &window->mainWindow() == seat.window.get())
            open.append(window);
    }
    return open.size() == 1 ? open.first() : nullptr;
}

// Two copies on one machine: the first listens on the shared port; the second cannot, but
// reaches the first through its connections window, as a player would.
struct TwoCopies
{
    Seat listening{freePort()};
    Seat dialing{listening.port()};

    bool connectThroughWindow()
    {
        FrmConnections *connections = openConnections(dialing);
        if (!connections)
            return false;
        dialing.platform.answers = {QStringLiteral("127.0.0.1")};
        connections->cmdConnect_Click();
        return QTest::qWaitFor(
            [&] {
                return dialing.status() == Connected && listening.status() == Connected &&
                       dialing.socket()->sendsFrames() && listening.socket()->sendsFrames();
            },
            5000);
    }
};

} // namespace

class TestConnections : public QObject
{
    Q_OBJECT

private slots:
    void connectionsWindowOpensOnceAndFresh();
    void connectToAddressLinksTwoCopies();
    void cancelledPromptOnlyClosesSocket();
    void failedConnectionIsReported_data();
    void failedConnectionIsReported();
    void disconnectAndWaitAgain();
    void chatSendsAndLogsLines_data();
    void chatSendsAndLogsLines();
    void chatNeedsLinkAndText();
    void lifePointButtonsPublishTotal();
    void splashLeadsOnByClickOnly_data();
    void splashLeadsOnByClickOnly();
};

void TestConnections::connectionsWindowOpensOnceAndFresh()
{
    Seat seat;
    FrmConnections *first = openConnections(seat);
    QVERIFY(first);
    QCOMPARE(first->windowTitle(), QStringLiteral("Connections"));
    QCOMPARE(first->size(), QSize(320, 114));
    QCOMPARE(first->findChild<QLabel *>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Wait For Connection  Connect to IP             Disconnect"));
    auto *address = first->findChild<QLineEdit *>(QStringLiteral("txtIP"));
    QCOMPARE(address->text(), seat.socket()->LocalIP());

    address->setText(QStringLiteral("edited"));
    QCOMPARE(openConnections(seat), first); // brought forward, not built again
    QCOMPARE(address->text(), QStringLiteral("edited"));

    QPointer<FrmConnections> closed = first;
    first->close();
    QTRY_VERIFY(!closed);
    FrmConnections *second = openConnections(seat);
    QVERIFY(second);
    QCOMPARE(second->findChild<QLineEdit *>(QStringLiteral("txtIP"))->text(),
             seat.socket()->LocalIP());
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection")); // opening touched nothing
}

void TestConnections::connectToAddressLinksTwoCopies()
{
    TwoCopies copies;
    QCOMPARE(copies.dialing.status(), QStringLiteral("Cannot listen on port %1: the port is in use")
                                          .arg(copies.listening.port()));
    QVERIFY(copies.connectThroughWindow());
    const RecordingPlatform::Box prompt("Enter an IP address to connect to", "Connect");
    QCOMPARE(copies.dialing.platform.prompts, QList<RecordingPlatform::Box>{prompt});
    QCOMPARE(copies.dialing.platform.defaults, QStringList{"127.0.0.1"});
    unlink(copies.dialing, copies.listening);
}

void TestConnections::cancelledPromptOnlyClosesSocket()
{
    Seat seat;
    FrmConnections *connections = openConnections(seat);
    connections->cmdConnect_Click(); // no answer queued: the player cancels
    QCOMPARE(seat.platform.prompts.size(), 1);
    QCOMPARE(seat.socket()->State(), PeerSocket::Closed);
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection"));
    QVERIFY(!canConnect(seat.port()));
}

void TestConnections::failedConnectionIsReported_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("nobody listening") << "127.0.0.1"
                                      << "nobody is listening there";
    QTest::newRow("blank passed on as typed") << " 127.0.0.1"
                                              << "nobody is listening there";
    QTest::newRow("no such name") << "no-such-host.invalid"
                                  << "the address was not found";
}

void TestConnections::failedConnectionIsReported()
{
    QFETCH(QString, answer);
    QFETCH(QString, reason);
    Seat seat(freePort());
    FrmConnections *connections = openConnections(seat);
    seat.platform.answers = {answer};
    connections->cmdConnect_Click();
    QCOMPARE(seat.status(), QStringLiteral("Waiting for response"));
    QTRY_COMPARE_WITH_TIMEOUT(
        seat.status(), QStringLiteral("Cannot connect to %1: %2").arg(answer, reason), 10000);
    QCOMPARE(seat.socket()->State(), PeerSocket::Failed);
}

void TestConnections::disconnectAndWaitAgain()
{
    TwoCopies copies;
    QVERIFY(copies.connectThroughWindow());
    FrmConnections *connections = openConnections(copies.dialing);
    connections->cmdClose_Click();
    QCOMPARE(copies.dialing.status(), Disconnected);
    QTRY_COMPARE(copies.listening.socket()->State(), PeerSocket::Closed);
    QCOMPARE(copies.listening.status(), Disconnected);
    QVERIFY(!canConnect(copies.listening.port()));

    // Wait For Connection listens again, so the same two copies can link once more.
    FrmConnections *other = openConnections(copies.listening);
    other->cmdWait_Click();
    QCOMPARE(copies.listening.status(), QStringLiteral("Waiting for connection"));
    QVERIFY(copies.connectThroughWindow());

    // Disconnect with nothing connected only closes and says so.
    Seat alone;
    openConnections(alone)->cmdClose_Click();
    QCOMPARE(alone.status(), Disconnected);
    QCOMPARE(alone.socket()->State(), PeerSocket::Closed);
    unlink(copies.dialing, copies.listening);
}

void TestConnections::chatSendsAndLogsLines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("button") << "Yugi"
                            << "hi: there" << false;
    QTest::newRow("enter key, no name") << ""
                                        << "go \u00E9" << true;
}

void TestConnections::chatSendsAndLogsLines()
{
    QFETCH(QString, name);
    QFETCH(QString, line);
    QFETCH(bool, byEnter);
    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    seat.control<QLineEdit>(QStringLiteral("txtName"))->setText(name);
    auto *message = seat.control<QLineEdit>(QStringLiteral("txtMessage"));
    for (int round = 0; round < 2; ++round) {
        message->setText(line);
        if (byEnter)
            QTest::keyClick(message, Qt::Key_Return);
        else
            seat.control<QPushButton>(QStringLiteral("cmdSend"))->click();
        QVERIFY(message->text().isEmpty());
    }
    const QString entry = name + QStringLiteral(": ") + line;
    QCOMPARE(seat.text(QStringLiteral("txtChat")), entry + "\n\n" + entry + "\n\n");
    QCOMPARE(seat.platform.beeps, byEnter ? 0 : 2);
    const QByteArray sent = "17" + entry.toLatin1();
    QTRY_COMPARE(peer.received, "18Connected" + sent + sent);
}

void TestConnections::chatNeedsLinkAndText()
{
    Seat seat;
    auto *message = seat.control<QLineEdit>(QStringLiteral("txtMessage"));
    message->setText(QStringLiteral("hello"));
    seat.control<QPushButton>(QStringLiteral("cmdSend"))->click();
    QTest::keyClick(message, Qt::Key_Return);
    QCOMPARE(message->text(), QStringLiteral("hello"));
    QCOMPARE(seat.text(QStringLiteral("txtChat")), QString());
    QCOMPARE(seat.platform.beeps, 1);

    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    message->clear();
    seat.control<QPushButton>(QStringLiteral("cmdSend"))->click();
    QCOMPARE(seat.platform.beeps, 2);
    message->setText(QStringLiteral("hello")); // kept from before, sent once linked
    QTest::keyClick(message, Qt::Key_Return);
    QTRY_COMPARE(peer.received, QByteArray("18Connected17: hello"));
}

void TestConnections::lifePointButtonsPublishTotal()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    auto *amount = seat.control<QLineEdit>(QStringLiteral("txtValue"));
    auto *add = seat.control<QPushButton>(QStringLiteral("cmdAdd"));
    auto *subtract = seat.control<QPushButton>(QStringLiteral("cmdSubtract"));

    amount->setText(QStringLiteral("1,000"));
    add->click();
    QCOMPARE(seat.text(QStringLiteral("txtP1LP")), QStringLiteral("9000"));
    QVERIFY(amount->text().isEmpty());
    QCOMPARE(seat.platform.beeps, 0);
    amount->setText(QStringLiteral("500"));
    subtract->click();
    QCOMPARE(seat.text(QStringLiteral("txtP1LP")), QStringLiteral("8500"));
    QCOMPARE(seat.platform.beeps, 1);

    amount->setText(QStringLiteral("abc"));
    add->click();
    subtract->click();
    QCOMPARE(seat.text(QStringLiteral("txtP1LP")), QStringLiteral("8500"));
    QCOMPARE(amount->text(), QStringLiteral("abc"));
    QCOMPARE(seat.platform.beeps, 2);
    QTRY_COMPARE(peer.received, QByteArray("18Connected"
                                           "029000"
                                           "028500"));
}

void TestConnections::splashLeadsOnByClickOnly_data()
{
    QTest::addColumn<QPoint>("where");
    QTest::newRow("background") << QPoint(400, 200);
    QTest::newRow("credit line") << QPoint(150, 20);
    QTest::newRow("inset picture") << QPoint(10, 300);
}

void TestConnections::splashLeadsOnByClickOnly()
{
    QFETCH(QPoint, where);
    QPointer<FrmSplash> splash = new FrmSplash;
    QSignalSpy dismissed(splash.data(), &FrmSplash::dismissed);
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    QCOMPARE(splash->size(), QSize(472, 352));
    QVERIFY(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space, Qt::Key_A})
        QTest::keyClick(splash, key);
    QCOMPARE(dismissed.count(), 0);
    QVERIFY(splash->isVisible());

    QWidget *target = splash->childAt(where) ? splash->childAt(where) : splash.data();
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(splash, where));
    QCOMPARE(dismissed.count(), 1);
    QTRY_VERIFY(!splash);
}

QTEST_MAIN(TestConnections)
#include "tst_connections.moc"
