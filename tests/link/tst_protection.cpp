// Links between two copies are encrypted and seat the copy that was invited: what crosses the
// network, and what each side sees, when visitors, plain peers, spent tickets, a relay that
// changes a byte, impostors and strangers get in the way.
#include "LinkHarness.h"
#include "Relay.h"
#include "chance/CoinDiceWindow.h"
#include "link/LinkSentences.h"
#include "trust/Identity.h"
#include "trust/Invitation.h"
#include "wire/Windows1252.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace LinkHarness;

namespace {

const QString Invited = QStringLiteral("invited opponent, encrypted, direct");
const QString SpentTicket = QStringLiteral("Disconnected: this invitation was replaced or already "
                                           "used; ask the other player for a new one");
// Typed on either side; neither may cross the network in a form that can be read.
const QString ZoneMarker = QStringLiteral("Blauäugiger weißer Drache");
const QString ChatMarker = QStringLiteral("Grüße aus Århus, señor");
constexpr int SeatWithinMs = 15000;

Invitation invitationTo(const Seat &host, int port = 0)
{
    const TableProtocol &table = host.window->table();
    return {QStringLiteral("127.0.0.1"), port ? port : host.port(),
            table.fingerprint().left(Invitation::FingerprintBytes),
            host.window->table().tickets().current()};
}

QString protectionOf(const Seat &seat)
{
    return seat.text(QStringLiteral("lblProtection"));
}

bool invitedLink(const Seat &guest, const Seat &host, int withinMs = LinkTimeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return guest.status() == StatusText::Connected &&
                   host.status() == StatusText::Connected && protectionOf(guest) == Invited &&
                   protectionOf(host) == Invited;
        },
        withinMs);
}

// Why `bytes` is not an exact sequence of TLS records, or empty when it is. The dialling side's
// first record, its ClientHello, may name the older record version 0x0301, as TLS 1.3 allows.
QString notTlsRecords(const QByteArray &bytes, bool fromDialler)
{
    qsizetype at = 0;
    for (int record = 0; at < bytes.size(); ++record) {
        if (bytes.size() - at < 5)
            return QStringLiteral("a record header cut off at byte %1").arg(at);
        const int type = quint8(bytes[at]);
        const int version = quint8(bytes[at + 1]) << 8 | quint8(bytes[at + 2]);
        const int length = quint8(bytes[at + 3]) << 8 | quint8(bytes[at + 4]);
        const bool knownVersion =
            version == 0x0303 || (version == 0x0301 && record == 0 && fromDialler);
        if (type < 0x14 || type > 0x17 || !knownVersion || length > (1 << 14) + 256)
            return QStringLiteral("no record header at byte %1 (record %2)").arg(at).arg(record);
        at += 5 + length;
    }
    return at == bytes.size() ? QString() : QStringLiteral("the last record is cut off");
}

CoinDiceWindow *openOutcome(Seat &seat)
{
    seat.control<QPushButton>(QStringLiteral("cmdProb"))->click();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<CoinDiceWindow *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// Listens where an invitation points and answers as a copy that encrypts, but shows a
// certificate of its own; keeps whatever it can read inside TLS.
class Impostor : public QTcpServer
{
public:
    explicit Impostor(const Identity &identity)
    {
        m_tls.setLocalCertificate(identity.certificate());
        m_tls.setPrivateKey(identity.privateKey());
        m_tls.setPeerVerifyMode(QSslSocket::QueryPeer);
        listen(QHostAddress::LocalHost, 0);
    }
    QByteArray readInside;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setSslConfiguration(m_tls);
        connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->ignoreSslErrors(); });
        connect(socket, &QSslSocket::readyRead, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (socket->isEncrypted()) {
                readInside += bytes;
            } else if (bytes.startsWith(greeting(Greeting::Version))) {
                socket->write(QByteArray("18Connected") + '\0' + greeting(Greeting::Version));
                socket->startServerEncryption();
            }
        });
    }

private:
    QSslConfiguration m_tls = QSslConfiguration::defaultConfiguration();
};

enum class Spent
{
    Wrong,
    Used,
    Replaced
};

} // namespace

Q_DECLARE_METATYPE(Spent)

class TestProtection : public QObject
{
    Q_OBJECT

private slots:
    void invitedLinkIsEncryptedThroughout();
    void invitedCopyTakesTheSeat_data();
    void invitedCopyTakesTheSeat();
    void changedByteEndsTheLink();
    void impostorNeverSeesTheTicket_data();
    void impostorNeverSeesTheTicket();
    void spentTicketIsRefused_data();
    void spentTicketIsRefused();
    void strangerCannotTakeALostSeat();
    void plainPeerAtATableWithAnIdentity_data();
    void plainPeerAtATableWithAnIdentity();

private:
    // Each identity is made once, on its first use, and kept for the whole run.
    Seat::IdentityIn host() const { return {m_host.path()}; }
    Seat::IdentityIn guest() const { return {m_guest.path()}; }
    Seat::IdentityIn stranger() const { return {m_stranger.path()}; }

    QTemporaryDir m_host, m_guest, m_stranger, m_impostor;
};

// Through a relay that records both directions: after the two greetings nothing but TLS records
// crosses, neither marker can be read in the capture, and the draws still settle between both
// copies.
void TestProtection::invitedLinkIsEncryptedThroughout()
{
    Seat host(this->host()), guest(this->guest());
    Relay relay(host.port());
    ConnectionsWindow *connections = openConnections(host);
    QVERIFY(connections);
    Invitation invitation;
    QCOMPARE(
        Invitation::read(textOf(connections->findChild<QLineEdit *>("txtInvitation")), &invitation),
        Invitation::Reading::Invitation);
    QCOMPARE(invitation.ticket, host.window->table().tickets().current());
    invitation.host = QStringLiteral("127.0.0.1");
    invitation.port = relay.port();
    QStringList hostShowed;
    connect(&host.window->table(), &TableProtocol::protectionChanged, this,
            [&] { hostShowed << protectionOf(host); });
    guest.window->openInvitation(invitation.line());
    QVERIFY(invitedLink(guest, host));
    QCOMPARE(hostShowed, QStringList{Invited});
    QCOMPARE(textOf(connections->findChild<QLabel *>("lblProtection")), "Link : " + Invited);

    guest.setText("txtP1Grave", ZoneMarker);
    host.setText("txtMessage", ChatMarker);
    host.control<QPushButton>(QStringLiteral("cmdSend"))->click();
    QTRY_COMPARE(host.text(QStringLiteral("lblP2Grave")), ZoneMarker);
    QTRY_VERIFY(guest.text(QStringLiteral("txtChat")).contains(ChatMarker));
    CoinDiceWindow *draws = openOutcome(guest);
    QVERIFY(draws);
    for (const char *button : {"cmdCoin", "cmdDice"}) {
        const qsizetype heard = host.platform.announcements.size();
        draws->findChild<QPushButton *>(QString::fromLatin1(button))->click();
        QTRY_COMPARE(host.platform.announcements.size(), heard + 1);
        QVERIFY(host.platform.announcements.last().first.endsWith(" (drawn by both copies)"));
    }
    draws->close();
    connections->close();
    unlink(guest, host);

    QCOMPARE(relay.captures().size(), 1);
    const Relay::Capture &capture = relay.captures().first();
    const QByteArray upClear = greeting(Greeting::Version);
    const QByteArray downClear = QByteArray("18Connected") + '\0' + greeting(Greeting::Version);
    QVERIFY(capture.up.startsWith(upClear));
    QVERIFY(capture.down.startsWith(downClear));
    QCOMPARE(notTlsRecords(capture.up.mid(upClear.size()), true), QString());
    QCOMPARE(notTlsRecords(capture.down.mid(downClear.size()), false), QString());
    for (const QString &marker : {ZoneMarker, ChatMarker}) {
        for (const QByteArray &encoded : {marker.toUtf8(), Windows1252::encode(marker)}) {
            QVERIFY(!capture.up.contains(encoded));
            QVERIFY(!capture.down.contains(encoded));
        }
    }
}

void TestProtection::invitedCopyTakesTheSeat_data()
{
    QTest::addColumn<bool>("firstSpeaks");
    QTest::addColumn<bool>("garbageFollows");
    QTest::newRow("a silent visitor, then a garbage sender") << false << true;
    QTest::newRow("a plain peer that spoke") << true << false;
}

// Whoever got to the table first, the invited copy sits down within 15 seconds; the one seated
// is let go as a leaving player lets a peer go, and the host is told who was turned away.
void TestProtection::invitedCopyTakesTheSeat()
{
    QFETCH(bool, firstSpeaks);
    QFETCH(bool, garbageFollows);
    Seat host(this->host()), guest(this->guest());
    QSignalSpy notices(&host.window->table(), &TableProtocol::statusNotice);
    PlainPeer first, garbage;
    first.socket->bind(QHostAddress(QStringLiteral("127.0.0.3")));
    QVERIFY(plainLink(host, first));
    if (firstSpeaks) {
        first.send("0340");
        QTRY_COMPARE(host.text(QStringLiteral("lblP2Deck")), QStringLiteral("40"));
    }
    if (garbageFollows) {
        garbage.socket->bind(QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(garbage.connectTo(host.port()));
        garbage.send(QByteArray("\x16\x03\x01\xff\xfe not a table\0\x01\x02", 20));
    }
    QElapsedTimer clock;
    clock.start();
    guest.window->openInvitation(invitationTo(host).line());
    QVERIFY(invitedLink(guest, host, SeatWithinMs));
    QVERIFY(clock.elapsed() < SeatWithinMs);

    QTRY_VERIFY(first.ended && (garbage.ended || !garbageFollows));
    QCOMPARE(first.received, QByteArray("18Connected18Disconnected"));
    QCOMPARE(garbage.received, QByteArray());
    QStringList told;
    for (const QList<QVariant> &notice : notices)
        told << notice.first().toString();
    QVERIFY2(told.contains(QStringLiteral(
                 "A copy with this table's invitation took the seat; 127.0.0.3 was let go.")),
             qPrintable(told.join('\n')));
    QVERIFY2(told.filter(QStringLiteral("Refused a connection from 127.0.0.2: ")).size() ==
                 int(garbageFollows),
             qPrintable(told.join('\n')));
    QCOMPARE(host.text(QStringLiteral("lblP2Deck")), QString());
}

// The relay flips one bit of the record carrying the guest's zone text: the host never shows a
// changed text, the link that carried it ends, and the copies find each other again.
void TestProtection::changedByteEndsTheLink()
{
    Seat host(this->host()), guest(this->guest());
    for (const Seat *seat : {&host, &guest})
        seat->socket()->setRelinkTimes(300, 30000);
    Relay relay(host.port());
    guest.window->openInvitation(invitationTo(host, relay.port()).line());
    QVERIFY(invitedLink(guest, host));
    QTest::qWait(SettleMs);
    QStringList shown;
    connect(&host.window->table(), &TableProtocol::zoneTextReceived, this,
            [&shown](const ZoneMirror &zone, const QString &text) {
                if (zone.code == WireCode::Graveyard)
                    shown << text;
            });

    relay.flipNextUpByte();
    guest.setText("txtP1Grave", ZoneMarker);
    QTRY_COMPARE(relay.captures().size(), 2);
    QVERIFY(invitedLink(guest, host));
    QTRY_COMPARE(host.text(QStringLiteral("lblP2Grave")), ZoneMarker);
    QCOMPARE(shown, QStringList{ZoneMarker});
}

void TestProtection::impostorNeverSeesTheTicket_data()
{
    QTest::addColumn<bool>("ownCertificate");
    QTest::newRow("a relay with a certificate of its own") << true;
    QTest::newRow("another copy where the invitation points") << false;
}

// The guest hangs up before its ticket leaves, says why, and the ticket still works afterwards.
void TestProtection::impostorNeverSeesTheTicket()
{
    QFETCH(bool, ownCertificate);
    Seat host(this->host()), guest(this->guest());
    Impostor relay(Identity::loadOrCreate(m_impostor.path()));
    std::unique_ptr<Seat> other = ownCertificate ? nullptr : std::make_unique<Seat>(stranger());
    const Invitation invitation = invitationTo(host);
    Invitation misdirected = invitation;
    misdirected.port = ownCertificate ? relay.serverPort() : other->port();
    guest.window->openInvitation(misdirected.line());
    QTRY_VERIFY(guest.status() != StatusText::WaitingForResponse || !relay.readInside.isEmpty());
    QTest::qWait(SettleMs);
    if (ownCertificate) {
        QCOMPARE(relay.readInside, QByteArray());
    } else {
        QTRY_COMPARE(other->status(), StatusText::WaitingForConnection);
        QCOMPARE(other->window->table().lastNotice(), QString());
    }
    QCOMPARE(guest.status(), LinkSentences::notTheInvitingProgram());
    QCOMPARE(protectionOf(guest), QString());

    guest.window->openInvitation(invitation.line());
    QVERIFY(invitedLink(guest, host));
}

void TestProtection::spentTicketIsRefused_data()
{
    QTest::addColumn<Spent>("spent");
    QTest::newRow("wrong") << Spent::Wrong;
    QTest::newRow("used") << Spent::Used;
    QTest::newRow("replaced") << Spent::Replaced;
}

void TestProtection::spentTicketIsRefused()
{
    QFETCH(Spent, spent);
    Seat host(this->host()), guest(this->guest());
    Invitation invitation = invitationTo(host);
    switch (spent) {
    case Spent::Wrong:
        invitation.ticket = Invitation::randomTicket();
        break;
    case Spent::Used:
        guest.window->openInvitation(invitation.line());
        QVERIFY(invitedLink(guest, host));
        guest.window->table().hangUp();
        QTRY_COMPARE(host.status(), StatusText::Disconnected);
        host.window->startListening();
        invitation.port = host.port(); // a seat of a test listens on a new port each time
        break;
    case Spent::Replaced:
        host.window->table().renewInvitation();
        break;
    }
    guest.window->openInvitation(invitation.line());
    QTRY_COMPARE(guest.status(), SpentTicket);
    QTRY_COMPARE(host.status(), StatusText::WaitingForConnection);
    QCOMPARE(host.window->table().lastNotice(),
             QStringLiteral("Refused a connection from 127.0.0.1: its invitation was replaced or "
                            "already used."));
    QVERIFY(host.socket()->isListening());
    QCOMPARE(protectionOf(host), QString());
    // The goodbye comes before the host closes the link; the guest's link ends after it.
    QTRY_COMPARE(protectionOf(guest), QString());
}

// While the host waits for its lost opponent, a copy that greets properly but shows another
// certificate is sent away; the opponent that comes back takes the seat.
void TestProtection::strangerCannotTakeALostSeat()
{
    Seat host(this->host()), guest(this->guest()), stranger(this->stranger());
    for (const Seat *seat : {&host, &guest}) {
        seat->socket()->setKeepAliveTimes(100, 2000);
        seat->socket()->setRelinkTimes(300, 30000);
    }
    Relay relay(host.port());
    guest.window->openInvitation(invitationTo(host, relay.port()).line());
    QVERIFY(invitedLink(guest, host));

    relay.cut();
    QVERIFY(bothShow(guest, host, StatusText::Reconnecting));
    stranger.window->openInvitation(QStringLiteral("127.0.0.1:%1").arg(host.port()));
    QTRY_COMPARE(stranger.status(), LinkSentences::seatKeptForOpponent());
    QCOMPARE(host.status(), StatusText::Reconnecting);
    QCOMPARE(host.window->table().lastNotice(),
             QStringLiteral("Refused a connection from 127.0.0.1: it is not the opponent whose "
                            "link was lost."));
    relay.mend();
    QVERIFY(invitedLink(guest, host, SeatWithinMs));
    QCOMPARE(protectionOf(stranger), QString());
}

void TestProtection::plainPeerAtATableWithAnIdentity_data()
{
    QTest::addColumn<bool>("invitedOnly");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("transcript");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("protection");
    // What a plain peer reads from a copy without an identity, byte for byte.
    QTest::newRow("open table") << false << QByteArray("0340")
                                << QByteArray("18Connected10") + Windows1252::encode(ZoneMarker)
                                << QString()
                                << QStringLiteral("older program, not encrypted, direct");
    QTest::newRow("invited only") << true << QByteArray("0340") << QByteArray()
                                  << QStringLiteral("Refused a connection from 127.0.0.1: it did "
                                                    "not come with this table's invitation.")
                                  << QString();
    // An older copy is not even answered with a greeting.
    QTest::newRow("invited only, an older copy")
        << true << greeting() + framed({"0340"}) << QByteArray()
        << QStringLiteral("Refused a connection from 127.0.0.1: it is an older program that "
                          "cannot protect the link.")
        << QString();
}

void TestProtection::plainPeerAtATableWithAnIdentity()
{
    QFETCH(bool, invitedOnly);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, transcript);
    QFETCH(QString, notice);
    QFETCH(QString, protection);
    Seat host(this->host());
    host.window->setInvitedOnly(invitedOnly);
    PlainPeer peer;
    QVERIFY(peer.connectTo(host.port()));
    peer.send(sent);
    if (invitedOnly)
        QTRY_VERIFY(peer.ended);
    else
        QTRY_COMPARE(host.text(QStringLiteral("lblP2Deck")), QStringLiteral("40"));
    host.setText("txtP1Grave", ZoneMarker);
    QTest::qWait(SettleMs);
    QCOMPARE(peer.received, transcript);
    QCOMPARE(host.window->table().lastNotice(), notice);
    QCOMPARE(protectionOf(host), protection);
    QCOMPARE(host.status(), invitedOnly ? StatusText::WaitingForConnection : StatusText::Connected);
}

QTEST_MAIN(TestProtection)
#include "tst_protection.moc"
