// What the two copies tell each other to find a path over UDP: the ICE description, the
// invitation that carries it and the reply line that answers it, and the ICE settings the
// environment gives.
#include "ice/IceDescription.h"
#include "ice/IceSettings.h"
#include "trust/Invitation.h"
#include "trust/InvitationReply.h"

#include <QtTest>

#include <utility>

namespace {

static_assert(InvitationReply::AnswersBytes == IceDescription::UfragBytes);

using Kind = IceDescription::Kind;
const QByteArray Ufrag = QByteArray::fromHex("a1b2c3");
const QByteArray Password = QByteArray::fromHex("00112233445566778899aabbccddeeff");
const QByteArray Credentials = Ufrag + Password;
const QByteArray Fingerprint = QByteArray::fromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");

IceDescription description(QList<IceDescription::Candidate> candidates, bool flags = false)
{
    return IceDescription{flags, flags, flags, Ufrag, Password, std::move(candidates)};
}

IceDescription::Candidate candidate(Kind kind, const char *address, quint16 port)
{
    return {kind, QHostAddress(QLatin1String(address)), port};
}

// Eight IPv6 relays: the longest description. Its repeats leave swaps of equal neighbours,
// which change nothing and are skipped.
const IceDescription Largest = description(
    QList<IceDescription::Candidate>(8, candidate(Kind::Relay, "2001:db8::1", 65535)), true);

const Invitation WithIce{QStringLiteral("203.0.113.7"), 4000, Fingerprint, Password,
                         Largest.encode()};
const InvitationReply Reply{Fingerprint, Ufrag, Largest.encode()};

QString changedAt(QString line, qsizetype at)
{
    line[at] = line[at] == u'x' ? u'y' : u'x';
    return line;
}

QString swappedAt(QString line, qsizetype at)
{
    std::swap(line[at - 1], line[at]);
    return line;
}

} // namespace

Q_DECLARE_METATYPE(IceDescription)
Q_DECLARE_METATYPE(Invitation::Reading)
Q_DECLARE_METATYPE(InvitationReply::Reading)

class TestIceCodes : public QObject
{
    Q_OBJECT

private slots:
    void descriptionsAreWrittenAndRead_data();
    void descriptionsAreWrittenAndRead();
    void pastedLinesAreRead_data();
    void pastedLinesAreRead();
    void relayComesFromTheEnvironment_data();
    void relayComesFromTheEnvironment();
};

void TestIceCodes::descriptionsAreWrittenAndRead_data()
{
    QTest::addColumn<IceDescription>("description");
    QTest::addColumn<QByteArray>("bytes"); // its bytes; or, for no description, bytes refused
    const QByteArray v4Host = QByteArray::fromHex("00c0a80002d431");
    const QByteArray v6Relay = QByteArray::fromHex("0620010db8000000000000000000000001ffff");
    QTest::newRow("credentials alone, every flag") << description({}, true) << "\x07" + Credentials;
    QTest::newRow("host, outside, relay")
        << description({candidate(Kind::Host, "192.168.0.2", 54321),
                        candidate(Kind::Outside, "203.0.113.9", 1),
                        candidate(Kind::Relay, "2001:db8::1", 65535)})
        << '\0' + Credentials + v4Host + QByteArray::fromHex("01cb0071090001") + v6Relay;
    QTest::newRow("eight IPv6 relays") << Largest << "\x07" + Credentials + v6Relay.repeated(8);
    QTest::newRow("IPv6 host, IPv4 relay")
        << description(
               {candidate(Kind::Host, "fe80::1:2", 9), candidate(Kind::Relay, "10.0.0.1", 3478)})
        << '\0' + Credentials +
               QByteArray::fromHex("04fe800000000000000000000000010002000902"
                                   "0a0000010d96");
    const IceDescription none; // cannot be written: no credentials
    QTest::newRow("short password")
        << IceDescription{false, false, false, Ufrag, Ufrag, {}} << Credentials.chopped(1);
    QTest::newRow("nine candidates") << description(Largest.candidates + Largest.candidates.mid(7))
                                     << "\x07" + Credentials + v6Relay.repeated(9);
    QTest::newRow("port 0") << description({candidate(Kind::Host, "192.168.0.2", 0)})
                            << '\0' + Credentials + v4Host.chopped(2) + QByteArray(2, '\0');
    QTest::newRow("no address") << description({candidate(Kind::Host, "", 1)})
                                << '\0' + Credentials + v4Host.chopped(1);
    QTest::newRow("unknown flag") << none << "\x08" + Credentials;
    QTest::newRow("unknown tag bit") << none << '\0' + Credentials + '\x08' + v4Host.sliced(1);
    QTest::newRow("kind 3") << none << '\0' + Credentials + '\x03' + v4Host.sliced(1);
    QTest::newRow("a byte more") << none << '\0' + Credentials + v4Host + '\0';
    QTest::newRow("IPv4 mapped into IPv6")
        << none
        << '\0' + Credentials + QByteArray::fromHex("0400000000000000000000ffffc0a800020001");
    QTest::newRow("nothing") << none << QByteArray();
}

void TestIceCodes::descriptionsAreWrittenAndRead()
{
    QFETCH(IceDescription, description);
    QFETCH(QByteArray, bytes);
    const QByteArray written = description.encode();
    const bool writable = !written.isEmpty();
    if (writable)
        QCOMPARE(written, bytes);
    IceDescription read = IceDescription::withFreshCredentials();
    const IceDescription untouched = read;
    QCOMPARE(untouched.encode().size(), 20); // fresh credentials of the right lengths
    QCOMPARE(IceDescription::decode(bytes, &read), writable);
    QCOMPARE(read, writable ? description : untouched);
    // Standard base64 without padding, as ICE takes it.
    QCOMPARE(Largest.ufragText(), QByteArray("obLD"));
    QCOMPARE(Largest.passwordText(), QByteArray("ABEiM0RVZneImaq7zN3u/w"));
}

void TestIceCodes::pastedLinesAreRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<InvitationReply::Reading>("asReply");
    QTest::addColumn<Invitation::Reading>("asInvitation");
    using R = InvitationReply::Reading;
    using I = Invitation::Reading;
    const QString reply = Reply.line();
    const QString invitation = WithIce.line();
    QCOMPARE(reply.size(), 14 + 31 + 230 + 1);
    QTest::newRow("reply") << reply << R::Reply << I::BareAddress;
    QTest::newRow("reply, decorated")
        << "  <SKARNET-REPLY:" + reply.sliced(14) + ">)." << R::Reply << I::BareAddress;
    // Cut in the fingerprint, after its '/', in the length digits, in the description, before
    // the check; and the scheme alone.
    for (const qsizetype length : {20, 38, 44, 100, 275, 14})
        QTest::addRow("reply cut to %d", int(length))
            << reply.first(length) << R::CutShort << I::BareAddress;
    for (qsizetype at = 14; at < reply.size(); ++at) {
        QTest::addRow("reply changed at %d", int(at))
            << changedAt(reply, at) << R::Damaged << I::BareAddress;
        if (at > 14 && reply[at - 1] != reply[at])
            QTest::addRow("reply swapped at %d", int(at))
                << swappedAt(reply, at) << R::Damaged << I::BareAddress;
    }
    QTest::newRow("reply over-long")
        << reply + QString(600 - reply.size(), u'A') << R::Damaged << I::BareAddress;
    QTest::newRow("description too long to write: no line")
        << InvitationReply{Fingerprint, Ufrag, QByteArray(430, 'x')}.line() << R::NotAReply
        << I::BareAddress;

    QTest::newRow("invitation with ICE") << invitation << R::Invitation << I::Invitation;
    // Cut in the length digits, in the description, before the check.
    for (const qsizetype length : {77, 150, int(invitation.size()) - 1})
        QTest::addRow("invitation cut to %d", int(length))
            << invitation.first(length) << R::Invitation << I::CutShort;
    for (qsizetype at = 10; at < invitation.size(); ++at) {
        QTest::addRow("invitation changed at %d", int(at))
            << changedAt(invitation, at) << R::Invitation << I::Damaged;
        if (at > 10 && invitation[at - 1] != invitation[at])
            QTest::addRow("invitation swapped at %d", int(at))
                << swappedAt(invitation, at) << R::Invitation << I::Damaged;
    }
    QTest::newRow("invitation over-long")
        << invitation + QString(601 - invitation.size(), u'A') << R::Invitation << I::Damaged;
    const QString longHost = QString(63, u'a') + u'.' + QString(63, u'b') + u'.' +
                             QString(63, u'c') + u'.' + QString(61, u'd');
    const Invitation longest{longHost, 65535, Fingerprint, Password, Largest.encode()};
    QTest::newRow("longest invitation") << longest.line() << R::Invitation << I::Invitation;
    QTest::newRow("plain invitation")
        << Invitation{QStringLiteral("h"), 1, Fingerprint, Password}.line() << R::Invitation
        << I::Invitation;
    QTest::newRow("some chat") << "see you at eight" << R::NotAReply << I::BareAddress;
}

void TestIceCodes::pastedLinesAreRead()
{
    QFETCH(QString, text);
    QFETCH(InvitationReply::Reading, asReply);
    QFETCH(Invitation::Reading, asInvitation);
    const InvitationReply untouchedReply{"k", "a", "d"};
    InvitationReply reply = untouchedReply;
    QCOMPARE(InvitationReply::read(text, &reply), asReply);
    if (asReply == InvitationReply::Reading::Reply)
        QCOMPARE(reply, Reply);
    else if (asReply == InvitationReply::Reading::Invitation &&
             asInvitation == Invitation::Reading::Invitation)
        QCOMPARE(reply, (InvitationReply{Fingerprint, {}, {}}));
    else
        QCOMPARE(reply, untouchedReply);

    const Invitation untouchedInvitation{QStringLiteral("untouched"), 1, {}, {}};
    Invitation invitation = untouchedInvitation;
    QCOMPARE(Invitation::read(text, &invitation), asInvitation);
    if (asInvitation == Invitation::Reading::Invitation)
        QCOMPARE(invitation.line(), text);
    else
        QCOMPARE(invitation, untouchedInvitation);
}

void TestIceCodes::relayComesFromTheEnvironment_data()
{
    QTest::addColumn<QString>("turn");
    QTest::addColumn<QStringList>("relay"); // host, port, user, password
    const QStringList none{"", "0", "", ""};
    QTest::newRow("all") << "u:p@relay.test:3479" << QStringList{"relay.test", "3479", "u", "p"};
    QTest::newRow("no port") << "u:p@10.0.0.9" << QStringList{"10.0.0.9", "0", "u", "p"};
    QTest::newRow("IPv6, ':' and '@' in the password")
        << "u:p:@q@[fd00::9]:5" << QStringList{"fd00::9", "5", "u", "p:@q"};
    QTest::newRow("IPv6 without port") << "u:p@[fd00::9]" << QStringList{"fd00::9", "0", "u", "p"};
    QTest::newRow("empty: none") << "" << none;
    QTest::newRow("no user") << "relay.test:3478" << none;
    QTest::newRow("IPv6 without brackets") << "u:p@fd00::9" << none;
    QTest::newRow("port 0") << "u:p@relay.test:0" << none;
    QTest::newRow("empty port") << "u:p@relay.test:" << none;
}

void TestIceCodes::relayComesFromTheEnvironment()
{
    QFETCH(QString, turn);
    QFETCH(QStringList, relay);
    IceSettings base;
    base.stunServers = {QStringLiteral("stun.test")};
    base.relayHost = QStringLiteral("old");
    base.relayPort = 1;
    base.relayUser = QStringLiteral("v");
    base.relayPassword = QStringLiteral("w");
    qputenv("SKARNET_STUN", " a.test:1, ,b.test ");
    qputenv("SKARNET_TURN", turn.toUtf8());
    if (relay.first().isEmpty() && !turn.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("SKARNET_TURN"));
    const IceSettings settings = IceSettings::fromEnvironment(base);
    QCOMPARE(settings.stunServers, (QStringList{"a.test:1", "b.test"}));
    const QStringList read{settings.relayHost, QString::number(settings.relayPort),
                           settings.relayUser, settings.relayPassword};
    QCOMPARE(read, relay);

    qunsetenv("SKARNET_TURN");
    qputenv("SKARNET_STUN", "");
    IceSettings expected = base;
    expected.stunServers.clear();
    QCOMPARE(IceSettings::fromEnvironment(base), expected);
}

QTEST_GUILESS_MAIN(TestIceCodes)
#include "tst_icecodes.moc"
