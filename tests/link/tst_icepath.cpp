// Two paths over UDP in one process find each other on loopback, carry a byte stream both ways
// through the ICE library's reliable stream, wait for a host that starts late, say why when the
// other copy never answers, and end the other side's socket when one closes.
#include "ice/IceAgent.h"
#include "ice/IcePath.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(IcePath::Role)

namespace {

constexpr int LinkLimitMs = 10000;
constexpr int Messages = 10000;
constexpr int MessageBytes = 100;

IceSettings loopbackSettings(const QString &address)
{
    IceSettings settings;
    settings.localAddresses = {address};
    return settings;
}

// Message `index` of a stream: its number, then filler that changes with it.
QByteArray message(int index)
{
    QByteArray bytes(MessageBytes, char('a' + index % 26));
    qToBigEndian(quint32(index), bytes.data());
    return bytes;
}

bool arrives(QTcpSocket &socket, const QByteArray &bytes)
{
    QByteArray got;
    return QTest::qWaitFor([&] { return (got += socket.readAll()) == bytes; }, LinkLimitMs);
}

// One path's end of a test: its gathered description, and the socket or reason it ends with.
struct PathEnd
{
    explicit PathEnd(const IceSettings &settings, IcePath::Role role)
        : path(settings, role)
    {
        QObject::connect(&path, &IcePath::gathered, &path,
                         [this](const IceDescription &local) { description = local; });
        QObject::connect(&path, &IcePath::linked, &path,
                         [this](QTcpSocket *linked, IcePath::Kind pathKind, const QString &at) {
                             socket.reset(linked);
                             kind = pathKind;
                             address = at;
                         });
        QObject::connect(&path, &IcePath::failed, &path,
                         [this](const QString &why) { reason = why; });
    }
    bool gather()
    {
        path.gather();
        return QTest::qWaitFor([this] { return !description.ufrag.isEmpty(); }, LinkLimitMs);
    }

    IcePath path;
    IceDescription description;
    std::unique_ptr<QTcpSocket> socket;
    IcePath::Kind kind = IcePath::Kind::Relay;
    QString address;
    QString reason;
};

} // namespace

class TestIcePath : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        // Every agent of the library is given back once its path is gone.
        QTRY_COMPARE_WITH_TIMEOUT(IceAgent::agentsOpen(), 0, LinkLimitMs);
    }

    void linksAndCarriesBothWays_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("addressPattern");
        QTest::newRow("IPv4") << "127.0.0.1"
                              << R"(^127\.0\.0\.1:\d+$)";
        QTest::newRow("IPv6") << "::1"
                              << R"(^\[::1\]:\d+$)";
    }
    void linksAndCarriesBothWays()
    {
        QFETCH(QString, address);
        QFETCH(QString, addressPattern);
        PathEnd host(loopbackSettings(address), IcePath::Role::Host);
        PathEnd joiner(loopbackSettings(address), IcePath::Role::Joiner);
        QVERIFY(host.gather());
        QCOMPARE(host.description.candidates.size(), 1);
        QCOMPARE(host.description.candidates[0].address, QHostAddress(address));
        QVERIFY(!host.description.encode().isEmpty());
        // As players pass them: the host's in the invitation, the joiner's in the reply.
        IceDescription invitation;
        QVERIFY(IceDescription::decode(host.description.encode(), &invitation));
        QVERIFY(joiner.gather());
        joiner.path.start(invitation);
        host.path.start(joiner.description);
        QTRY_VERIFY_WITH_TIMEOUT(host.socket && joiner.socket, LinkLimitMs);
        for (PathEnd *end : {&host, &joiner}) {
            QCOMPARE(end->kind, IcePath::Kind::Direct);
            QVERIFY2(QRegularExpression(addressPattern).match(end->address).hasMatch(),
                     qPrintable(end->address));
            QCOMPARE(end->socket->state(), QAbstractSocket::ConnectedState);
        }

        // Both ways at once, as fast as the sockets take them.
        QByteArray stream;
        for (int i = 0; i < Messages; ++i)
            stream += message(i);
        host.socket->write(stream);
        joiner.socket->write(stream);
        QByteArray atHost, atJoiner;
        QTRY_VERIFY_WITH_TIMEOUT(
            (atHost += host.socket->readAll(), atJoiner += joiner.socket->readAll(),
             atHost.size() >= stream.size() && atJoiner.size() >= stream.size()),
            LinkLimitMs);
        QVERIFY(atHost == stream);
        QVERIFY(atJoiner == stream);
    }

    void joinerKeepsCheckingUntilHostStarts()
    {
        // The joiner's rounds end quickly here, so that the host starts only after the first
        // has failed and the joiner has begun again.
        IceSettings quick = loopbackSettings(QStringLiteral("127.0.0.1"));
        quick.checkRoundMs = 1000;
        PathEnd host(loopbackSettings(QStringLiteral("127.0.0.1")), IcePath::Role::Host);
        PathEnd joiner(quick, IcePath::Role::Joiner);
        QVERIFY(host.gather());
        QVERIFY(joiner.gather());
        joiner.path.start(host.description);
        QTest::qWait(quick.checkRoundMs * 5 / 2);
        QVERIFY(joiner.reason.isEmpty());
        host.path.start(joiner.description);
        QTRY_VERIFY_WITH_TIMEOUT(host.socket && joiner.socket, LinkLimitMs);
        host.socket->write("ping");
        QVERIFY(arrives(*joiner.socket, "ping"));
    }

    void unansweredRemoteFails_data()
    {
        QTest::addColumn<IcePath::Role>("role");
        QTest::addColumn<bool>("remoteHasRelay");
        QTest::addColumn<QString>("reasonStart");
        QTest::newRow("host, no relay")
            << IcePath::Role::Host << false << "No path through the routers was found: no STUN";
        QTest::newRow("host, the other's relay tried")
            << IcePath::Role::Host << true
            << "No path was found, not even through the other player's relay";
        QTest::newRow("joiner, host never starts")
            << IcePath::Role::Joiner << false << "The other player's copy did not answer";
    }
    void unansweredRemoteFails()
    {
        QFETCH(IcePath::Role, role);
        QFETCH(bool, remoteHasRelay);
        QFETCH(QString, reasonStart);
        IceSettings settings = loopbackSettings(QStringLiteral("127.0.0.1"));
        settings.checkRoundMs = 1000;
        settings.joinerPatienceMs = 2500;
        PathEnd end(settings, role);
        QVERIFY(end.gather());
        // A port nobody listens on.
        QUdpSocket closed;
        QVERIFY(closed.bind(QHostAddress::LocalHost, 0));
        IceDescription silent = IceDescription::withFreshCredentials();
        silent.relaySet = remoteHasRelay;
        // Its own address and, as if through its router, its outside one: both rounds check.
        silent.candidates = {
            {IceDescription::Kind::Host, QHostAddress::LocalHost, closed.localPort()},
            {IceDescription::Kind::Outside, QHostAddress::LocalHost, closed.localPort()}};
        closed.close();
        end.path.start(silent);
        QTRY_VERIFY_WITH_TIMEOUT(!end.reason.isEmpty(), LinkLimitMs);
        QVERIFY2(end.reason.startsWith(reasonStart), qPrintable(end.reason));
        QVERIFY(!end.socket);
    }

    void closingEndsTheOtherSocket()
    {
        PathEnd host(loopbackSettings(QStringLiteral("127.0.0.1")), IcePath::Role::Host);
        PathEnd joiner(loopbackSettings(QStringLiteral("127.0.0.1")), IcePath::Role::Joiner);
        QVERIFY(host.gather());
        QVERIFY(joiner.gather());
        joiner.path.start(host.description);
        host.path.start(joiner.description);
        QTRY_VERIFY_WITH_TIMEOUT(host.socket && joiner.socket, LinkLimitMs);
        joiner.socket->write("hello");
        QVERIFY(arrives(*host.socket, "hello"));
        host.path.close();
        QTRY_COMPARE_WITH_TIMEOUT(host.socket->state(), QAbstractSocket::UnconnectedState,
                                  LinkLimitMs);
        QTRY_COMPARE_WITH_TIMEOUT(joiner.socket->state(), QAbstractSocket::UnconnectedState,
                                  LinkLimitMs);
        // Closing twice, and the path's going after its socket, are harmless.
        host.path.close();
        QVERIFY(host.reason.isEmpty() && joiner.reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIcePath)
#include "tst_icepath.moc"
