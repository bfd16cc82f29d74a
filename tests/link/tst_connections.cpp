// The player's side of the link and the main window's own tools: the connections window,
// chat and the life-point buttons, and the splash that leads to the main window.
#include "FakeRouter.h"
#include "LinkHarness.h"
#include "connections/ConnectionsWindow.h"
#include "link/LocalAddresses.h"
#include "link/NameLookup.h"
#include "router/PortMappingScheduler.h"
#include "startup/SplashWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>

using namespace LinkHarness;

namespace {

const QString Disconnected = QStringLiteral("Disconnected");

bool hasIPv6Loopback()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0);
}

// Two copies on one machine: the first listens on the shared port; the second cannot, but
// reaches the first through its connections window, as a player would.
struct TwoCopies
{
    Seat listening{freePort()};
    Seat dialing{listening.port()};

    bool connectThroughWindow()
    {
        ConnectionsWindow *connections = openConnections(dialing);
        if (!connections)
            return false;
        dialing.platform.answers = {QStringLiteral("127.0.0.1")};
        connections->onConnectClicked();
        return bothLinked(dialing, listening);
    }
};

} // namespace

class TestConnections : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectionsWindowOpensOnceAndFresh();
    void connectionsWindowShowsWhereToReachThisCopy();
    void internetAddressShownAndCopied();
    void connectToAddressLinksTwoCopies();
    void lastAddressIsOfferedAgain();
    void everyFormOfAddressLinksTwoCopies_data();
    void everyFormOfAddressLinksTwoCopies();
    void cancelledPromptChangesNothing();
    void malformedAnswerIsExplained_data();
    void malformedAnswerIsExplained();
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

// Names are looked up in this table, never through the system's resolver: nothing leaves the
// machine.
void TestConnections::initTestCase()
{
    NameLookup::replacement() = [](const QString &host) {
        return host == QLatin1String("localhost") ? QList<QHostAddress>{QHostAddress::LocalHost}
                                                  : QList<QHostAddress>{};
    };
}

void TestConnections::connectionsWindowOpensOnceAndFresh()
{
    Seat seat;
    ConnectionsWindow *first = openConnections(seat);
    QVERIFY(first);
    QCOMPARE(first->windowTitle(), QStringLiteral("Connections"));
    QCOMPARE(first->size(), QSize(320, 420));
    QCOMPARE(first->findChild<QLabel *>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Wait For Connection  Connect to IP             Disconnect"));
    auto *address = first->findChild<QLineEdit *>(QStringLiteral("txtIP"));
    QCOMPARE(address->text(), seat.socket()->localAddress());

    address->setText(QStringLiteral("edited"));
    QCOMPARE(openConnections(seat), first); // brought forward, not built again
    QCOMPARE(address->text(), QStringLiteral("edited"));

    QPointer<ConnectionsWindow> closed = first;
    first->close();
    QTRY_VERIFY(!closed);
    ConnectionsWindow *second = openConnections(seat);
    QVERIFY(second);
    QCOMPARE(second->findChild<QLineEdit *>(QStringLiteral("txtIP"))->text(),
             seat.socket()->localAddress());
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection")); // opening touched nothing
}

void TestConnections::connectionsWindowShowsWhereToReachThisCopy()
{
    Seat seat(freePort());
    ConnectionsWindow *connections = openConnections(seat);
    QVERIFY(connections);
    // The controls other tools click by position stay where they always were.
    const QMap<QString, QRect> kept{
        {"cmdWait", {8, 8, 97, 65}},    {"cmdConnect", {112, 8, 97, 65}},
        {"cmdClose", {216, 8, 97, 65}}, {"Label1", {8, 72, 305, 17}},
        {"txtIP", {56, 88, 257, 17}},   {"Label8", {8, 90, 41, 17}}};
    for (auto control = kept.begin(); control != kept.end(); ++control)
        QCOMPARE(connections->findChild<QWidget *>(control.key())->geometry(), control.value());
    for (const QWidget *child :
         connections->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        QVERIFY2(connections->rect().contains(child->geometry()), qPrintable(child->objectName()));
    }

    auto *port = connections->findChild<QLineEdit *>(QStringLiteral("txtPort"));
    QVERIFY(port);
    QCOMPARE(port->text(), QString::number(seat.port()));
    QVERIFY(port->isReadOnly());
    QCOMPARE(port->accessibleName(), QStringLiteral("Port this copy listens on"));

    const QString first = connections->findChild<QLineEdit *>(QStringLiteral("txtIP"))->text();
    auto *others = connections->findChild<QPlainTextEdit *>(QStringLiteral("txtOtherIPs"));
    QVERIFY(others);
    QVERIFY(others->isReadOnly());
    QVERIFY(others->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    QVERIFY(others->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    QCOMPARE(others->accessibleName(), QStringLiteral("Other addresses of this machine"));
    const QStringList rest = others->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList own = LocalAddresses::all();
    if (own.isEmpty()) {
        QCOMPARE(first, QStringLiteral("127.0.0.1"));
    } else {
        // Every address of this machine once: the best in txtIP, the rest in the box.
        QCOMPARE(QStringList{first} + rest, own);
    }
    for (const QString &address : QStringList{first} + rest) {
        QVERIFY2(QHostAddress(address).protocol() != QAbstractSocket::UnknownNetworkLayerProtocol,
                 qPrintable(address));
        QVERIFY2(own.isEmpty() || !QHostAddress(address).isLoopback(), qPrintable(address));
    }

    // The player can select the other addresses and copy them.
    others->setFocus();
    others->selectAll();
    QCOMPARE(others->textCursor().selectedText().replace(QChar::ParagraphSeparator, '\n'),
             others->toPlainText());

    // A copy that could not open its port still says which port it asked for.
    TwoCopies copies;
    ConnectionsWindow *dialing = openConnections(copies.dialing);
    QCOMPARE(dialing->findChild<QLineEdit *>(QStringLiteral("txtPort"))->text(),
             QString::number(copies.listening.port()));
}

// The address the router opened is what the other player dials from the internet: shown in
// words, updated when the router answers, copied by the button. Without a router to ask the
// window says so, and there is nothing to copy.
void TestConnections::internetAddressShownAndCopied()
{
    Seat plain;
    ConnectionsWindow *withoutRouter = openConnections(plain);
    QVERIFY(withoutRouter);
    QCOMPARE(withoutRouter->findChild<QLabel *>(QStringLiteral("lblInternet"))->text(),
             QStringLiteral("On the internet: not asked (port mapping is off)"));
    QVERIFY(
        !withoutRouter->findChild<QPushButton *>(QStringLiteral("cmdCopyAddress"))->isEnabled());

    // The router answers after the window is open.
    PortMappingScheduler mapper(std::make_shared<FakeRouter>(300),
                                PortMappingScheduler::LeaseSeconds);
    Seat seat(freePort());
    seat.window->setPortMapper(&mapper);
    seat.window->startListening();
    ConnectionsWindow *connections = openConnections(seat);
    QVERIFY(connections);
    auto *internet = connections->findChild<QLabel *>(QStringLiteral("lblInternet"));
    auto *copy = connections->findChild<QPushButton *>(QStringLiteral("cmdCopyAddress"));
    QVERIFY(internet->text().startsWith(QStringLiteral("On the internet: asking your router")));
    QVERIFY(!copy->isEnabled());
    const QString address = QStringLiteral("198.51.100.7:40123");
    QTRY_COMPARE(internet->text(),
                 QStringLiteral("On the internet: %1 (opened on your router)").arg(address));
    copy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), address);

    // Listening again keeps the port the router opened.
    connections->onWaitClicked();
    QTest::qWait(SettleMs);
    QCOMPARE(internet->text(),
             QStringLiteral("On the internet: %1 (opened on your router)").arg(address));
}

void TestConnections::connectToAddressLinksTwoCopies()
{
    TwoCopies copies;
    QCOMPARE(copies.dialing.status(), QStringLiteral("Cannot listen on port %1: the port is in use")
                                          .arg(copies.listening.port()));
    QCOMPARE(copies.dialing.socket()->state(), PeerLink::State::Closed);
    QVERIFY(copies.connectThroughWindow());
    const RecordingPlatform::Box prompt(
        QStringLiteral("Paste the invitation the other player sent, or enter an IP address or "
                       "host name to connect to (add :port for a port other than %1; IPv6 with "
                       "a port as [address]:port)")
            .arg(copies.listening.port()),
        "Connect");
    QCOMPARE(copies.dialing.platform.prompts, QList<RecordingPlatform::Box>{prompt});
    QCOMPARE(copies.dialing.platform.defaults, QStringList{"127.0.0.1"});
    // Without a port in the answer the copy dials its own port.
    QCOMPARE(copies.dialing.socket()->remotePort(), copies.listening.port());
    unlink(copies.dialing, copies.listening);
}

// The address last dialled, in this run or an earlier one, is the prompt's answer; one that
// cannot be read is not kept.
void TestConnections::lastAddressIsOfferedAgain()
{
    Seat seat;
    const QString key = QStringLiteral("connect/lastAddress");
    seat.platform.settings[key] = QStringLiteral("duel.example.org:4000");
    const QString dialled = QStringLiteral("127.0.0.1:%1").arg(freePort());
    seat.platform.answers = {QStringLiteral("127.0.0.1:99999"), dialled};
    ConnectionsWindow *connections = openConnections(seat);
    QVERIFY(connections);
    connections->onConnectClicked();
    QCOMPARE(seat.platform.boxes.size(), 2); // the thanks box, and why the port is wrong
    connections->onConnectClicked();
    QCOMPARE(seat.platform.defaults,
             QStringList({"duel.example.org:4000", "duel.example.org:4000"}));
    QCOMPARE(seat.platform.settings.value(key), dialled);
}

void TestConnections::everyFormOfAddressLinksTwoCopies_data()
{
    // %1 stands for the listening copy's port. Without a port in the answer the dialing copy
    // is given the listening copy's port as its own, so only the default can reach it;
    // with one it has a port of its own, so only the port in the answer can.
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("ipv6");
    QTest::newRow("IPv4 and port") << "127.0.0.1:%1" << false;
    QTest::newRow("name and port") << "localhost:%1" << false;
    QTest::newRow("IPv4 and port, blanks around") << "  127.0.0.1:%1 " << false;
    QTest::newRow("IPv6 and port") << "[::1]:%1" << true;
    QTest::newRow("name, own port") << "localhost" << false;
    QTest::newRow("bare IPv6, own port") << "::1" << true;
    QTest::newRow("bracketed IPv6, own port") << "[::1]" << true;
}

// Also shows that the listener takes IPv4 and IPv6 peers alike.
void TestConnections::everyFormOfAddressLinksTwoCopies()
{
    QFETCH(QString, answer);
    QFETCH(bool, ipv6);
    if (ipv6 && !hasIPv6Loopback())
        QSKIP("this machine has no IPv6 loopback");
    const bool portGiven = answer.contains(QStringLiteral("%1"));
    Seat listening(freePort());
    Seat dialing(portGiven ? 0 : listening.port());
    QVERIFY(dialing.port() != listening.port() || !portGiven);
    ConnectionsWindow *connections = openConnections(dialing);
    dialing.platform.boxes.clear(); // the thanks box of start-up
    dialing.platform.answers = {portGiven ? answer.arg(listening.port()) : answer};
    connections->onConnectClicked();
    QCOMPARE(dialing.platform.boxes, QList<RecordingPlatform::Box>{});
    QCOMPARE(dialing.socket()->remotePort(), listening.port());
    QVERIFY(bothLinked(dialing, listening));
    unlink(dialing, listening);
}

// A cancelled prompt changes nothing: the copy goes on listening, as the status line says.
void TestConnections::cancelledPromptChangesNothing()
{
    Seat seat;
    ConnectionsWindow *connections = openConnections(seat);
    connections->onConnectClicked(); // no answer queued: the player cancels
    QCOMPARE(seat.platform.prompts.size(), 1);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Listening);
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection"));
    QVERIFY(canConnect(seat.port()));
}

void TestConnections::failedConnectionIsReported_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("reason");
    QTest::newRow("nobody listening") << "127.0.0.1"
                                      << "127.0.0.1"
                                      << "nobody is listening there";
    QTest::newRow("blanks around trimmed") << " 127.0.0.1 "
                                           << "127.0.0.1"
                                           << "nobody is listening there";
    QTest::newRow("nobody on the port given") << "127.0.0.1:1"
                                              << "127.0.0.1"
                                              << "nobody is listening there";
    QTest::newRow("no such name") << "no-such-host.invalid"
                                  << "no-such-host.invalid"
                                  << "the address was not found";
    QTest::newRow("no such name, port given") << "no-such-host.invalid:4000"
                                              << "no-such-host.invalid"
                                              << "the address was not found";
}

void TestConnections::failedConnectionIsReported()
{
    QFETCH(QString, answer);
    QFETCH(QString, host);
    QFETCH(QString, reason);
    Seat seat(freePort());
    ConnectionsWindow *connections = openConnections(seat);
    seat.platform.answers = {answer};
    connections->onConnectClicked();
    QCOMPARE(seat.status(), QStringLiteral("Waiting for response"));
    QTRY_COMPARE_WITH_TIMEOUT(seat.status(),
                              QStringLiteral("Cannot connect to %1: %2").arg(host, reason), 10000);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Failed);
}

void TestConnections::malformedAnswerIsExplained_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("told");
    QTest::newRow("port 0") << "127.0.0.1:0"
                            << "\"0\" is not a port";
    QTest::newRow("port not a number") << "127.0.0.1:abc"
                                       << "\"abc\" is not a port";
    QTest::newRow("port above 65535") << "localhost:70000"
                                      << "from 1 to 65535";
    QTest::newRow("no host") << ":123"
                             << "address is missing";
    QTest::newRow("only blanks") << "  "
                                 << "address is missing";
    QTest::newRow("bracket not closed") << "[::1:123"
                                        << "\"]\" after the IPv6 address is missing";
    QTest::newRow("IPv6 and port without brackets") << "::1:99999"
                                                    << "put the address in brackets";
    QTest::newRow("blank instead of colon") << "127.0.0.1 123"
                                            << "contains a blank";
}

// The player is told what is wrong, and nothing is dialled: the seat is left as a cancelled
// prompt leaves it.
void TestConnections::malformedAnswerIsExplained()
{
    QFETCH(QString, answer);
    QFETCH(QString, told);
    Seat seat(freePort());
    ConnectionsWindow *connections = openConnections(seat);
    seat.platform.boxes.clear(); // the thanks box of start-up
    seat.platform.answers = {answer};
    connections->onConnectClicked();
    QCOMPARE(seat.platform.boxes.size(), 1);
    QVERIFY2(seat.platform.boxes.first().first.contains(told),
             qPrintable(seat.platform.boxes.first().first));
    QCOMPARE(seat.platform.boxes.first().second, QStringLiteral("Connect"));
    // Nothing was dialled, and the copy goes on listening.
    QCOMPARE(seat.socket()->state(), PeerLink::State::Listening);
    QCOMPARE(seat.socket()->remotePort(), 0);
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection"));
    QVERIFY(canConnect(seat.port()));
    QTest::qWait(SettleMs); // no late report of a connection attempt either
    QCOMPARE(seat.status(), QStringLiteral("Waiting for connection"));
    QCOMPARE(seat.socket()->state(), PeerLink::State::Listening);
}

void TestConnections::disconnectAndWaitAgain()
{
    TwoCopies copies;
    QVERIFY(copies.connectThroughWindow());
    ConnectionsWindow *connections = openConnections(copies.dialing);
    connections->onDisconnectClicked();
    QCOMPARE(copies.dialing.status(), Disconnected);
    QTRY_COMPARE(copies.listening.socket()->state(), PeerLink::State::Closed);
    QCOMPARE(copies.listening.status(), Disconnected);
    QVERIFY(!canConnect(copies.listening.port()));

    // Wait For Connection listens again, so the same two copies can link once more.
    ConnectionsWindow *other = openConnections(copies.listening);
    other->onWaitClicked();
    QCOMPARE(copies.listening.status(), QStringLiteral("Waiting for connection"));
    QVERIFY(copies.connectThroughWindow());

    // Disconnect with nothing connected only closes and says so.
    Seat alone;
    openConnections(alone)->onDisconnectClicked();
    QCOMPARE(alone.status(), Disconnected);
    QCOMPARE(alone.socket()->state(), PeerLink::State::Closed);
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
    QPointer<SplashWindow> splash = new SplashWindow;
    QSignalSpy dismissed(splash.data(), &SplashWindow::dismissed);
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
