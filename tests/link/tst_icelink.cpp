// Two copies whose ports cannot be dialled link through the invitation and the reply, as the
// players do it in the connections window: the codes the host refuses, a reply that names
// another copy, and invitations that cross. The path over UDP stays on loopback.
#include "LinkHarness.h"
#include "ice/PathExchange.h"
#include "trust/Invitation.h"
#include "trust/InvitationReply.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace LinkHarness;

namespace {

constexpr int PathWithinMs = 20000;

IceSettings loopbackOnly()
{
    IceSettings settings;
    settings.localAddresses = {QStringLiteral("127.0.0.1")};
    return settings;
}

// A seat with an identity whose invitations offer a path over UDP on loopback.
struct Player
{
    QTemporaryDir folder;
    std::unique_ptr<Seat> seat;

    explicit Player(bool offers, const IceSettings &settings = loopbackOnly())
    {
        seat = std::make_unique<Seat>(Seat::IdentityIn{folder.path()});
        table().setIceSettings(settings);
        table().setDirectPathServes(!offers);
    }
    TableProtocol &table() const { return seat->window->table(); }
    // The invitation as the connections window shows it, once gathered, but naming a port
    // where nothing listens: the direct dial fails, as through a closed router.
    QString invitation() const
    {
        ConnectionsWindow *window = openConnections(*seat);
        auto *line =
            window ? window->findChild<QLineEdit *>(QStringLiteral("txtInvitation")) : nullptr;
        if (!line || !QTest::qWaitFor([&] { return !line->text().isEmpty(); }, PathWithinMs))
            return {};
        Invitation invitation;
        if (Invitation::read(line->text(), &invitation) != Invitation::Reading::Invitation)
            return {};
        invitation.port = 9; // discard: nothing listens there
        return invitation.line();
    }
    QString reply() const
    {
        return QTest::qWaitFor([&] { return !table().replyLine().isEmpty(); }, PathWithinMs)
                   ? table().replyLine()
                   : QString();
    }
    // Pastes `text` into the reply field and uses it; returns the box shown, if any.
    QString pasteReply(const QString &text) const
    {
        ConnectionsWindow *window = openConnections(*seat);
        const qsizetype boxes = seat->platform.boxes.size();
        window->findChild<QLineEdit *>(QStringLiteral("txtReply"))->setText(text);
        window->findChild<QPushButton *>(QStringLiteral("cmdReply"))->click();
        return seat->platform.boxes.size() > boxes ? seat->platform.boxes.last().first : QString();
    }
    QString protection() const
    {
        ConnectionsWindow *window = openConnections(*seat);
        return textOf(window->findChild<QWidget *>(QStringLiteral("lblProtection")));
    }
};

QString withAnotherFingerprint(const QString &replyLine, char filler)
{
    InvitationReply reply;
    InvitationReply::read(replyLine, &reply);
    reply.fingerprint.fill(filler);
    return reply.line();
}

QString answeringAnother(const QString &replyLine)
{
    InvitationReply reply;
    InvitationReply::read(replyLine, &reply);
    reply.answers[0] = char(reply.answers[0] ^ 1);
    return reply.line();
}

QString withOneCharacterChanged(QString line)
{
    const qsizetype at = line.size() / 2;
    line[at] = line[at] == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    return line;
}

} // namespace

class IceLinkTest : public QObject
{
    Q_OBJECT
private slots:
    void invitationAndReplyLinkThroughTheConnectionsWindow();
    void crossedInvitationsLeaveOneHost();
    void hostWithoutAddressSaysSoOnce();
};

void IceLinkTest::invitationAndReplyLinkThroughTheConnectionsWindow()
{
    Player host(true), guest(false);
    const QString invitation = host.invitation();
    QVERIFY(!invitation.isEmpty());
    QVERIFY(invitation.size() <= InvitationReply::LongestLine);

    // The direct dial is tried first and fails; the guest's connections window shows the reply.
    QCOMPARE(ConnectionsWindow::dialAnswer(guest.table(), invitation), QString());
    const QString reply = guest.reply();
    QVERIFY(!reply.isEmpty());
    QCOMPARE(guest.seat->text(QStringLiteral("lblStatus")).left(40),
             QStringLiteral("The other player's port cannot be dialle"));

    // What the host's player might paste instead; each is refused with its own sentence and
    // starts nothing. The reply is cut before its description: a line cut within it can pass for
    // one whose length was changed, by chance of its check, and reads as damaged (this reply's
    // credentials are fresh each run; tst_icecodes cuts a fixed one there).
    const struct
    {
        QString pasted;
        QString sentenceStart;
    } refused[] = {
        {invitation, QStringLiteral("This is your own invitation")},
        {guest.table().invitationLine(QStringLiteral("127.0.0.1"), 4000),
         QStringLiteral("This is an invitation, not a reply")},
        {reply.left(reply.indexOf(QLatin1String("/A")) + 4),
         QStringLiteral("The reply is cut short")},
        {withOneCharacterChanged(reply), QStringLiteral("The reply is damaged")},
        {answeringAnother(reply), QStringLiteral("This reply answers another invitation")},
        {QStringLiteral("hello"), QStringLiteral("This is not a reply")},
    };
    for (const auto &row : refused)
        QVERIFY2(host.pasteReply(row.pasted).startsWith(row.sentenceStart), qPrintable(row.pasted));

    // A reply that names another certificate than the guest shows: the path is found, and the
    // guest is refused at the seat.
    QCOMPARE(host.pasteReply(withAnotherFingerprint(reply, 'x')), QString());
    const bool refusedAtSeat = QTest::qWaitFor(
        [&] {
            return guest.seat->text(QStringLiteral("lblStatus"))
                .contains(QStringLiteral("not the one whose reply was pasted"));
        },
        PathWithinMs);
    if (!refusedAtSeat)
        qDebug() << host.seat->text(QStringLiteral("lblStatus"))
                 << guest.seat->text(QStringLiteral("lblStatus"));
    QVERIFY(refusedAtSeat);

    // A new invitation works afterwards, and the link it leads to is the invited one.
    const QString second = host.invitation();
    QVERIFY(!second.isEmpty() && second != invitation);
    QCOMPARE(ConnectionsWindow::dialAnswer(guest.table(), second), QString());
    const QString secondReply = guest.reply();
    QVERIFY(!secondReply.isEmpty() && secondReply != reply);
    QCOMPARE(host.pasteReply(secondReply), QString());
    QVERIFY(bothLinked(*host.seat, *guest.seat));
    const QString expected = QStringLiteral("Link : invited opponent, encrypted, direct");
    QTRY_COMPARE_WITH_TIMEOUT(host.protection(), expected, PathWithinMs);
    QTRY_COMPARE_WITH_TIMEOUT(guest.protection(), expected, PathWithinMs);
    QCOMPARE(guest.table().replyLine(), QString());

    // The board never knows which path carries it.
    QVERIFY(guest.table().sendChatLine(QStringLiteral("guest: over the other path")));
    QTRY_VERIFY_WITH_TIMEOUT(host.seat->text(QStringLiteral("txtChat"))
                                 .contains(QStringLiteral("guest: over the other path")),
                             PathWithinMs);
    unlink(*guest.seat, *host.seat);
}

// Each player pasted the other's invitation: the copy with the lower fingerprint keeps its
// invitation, the other joins it, and the one reply links them.
void IceLinkTest::crossedInvitationsLeaveOneHost()
{
    Player one(true), other(true);
    const QString oneInvitation = one.invitation(), otherInvitation = other.invitation();
    QVERIFY(!oneInvitation.isEmpty() && !otherInvitation.isEmpty());
    const bool oneStands =
        one.table().fingerprint().left(16) < other.table().fingerprint().left(16);
    Player &stays = oneStands ? one : other;
    Player &joins = oneStands ? other : one;

    QCOMPARE(
        ConnectionsWindow::dialAnswer(stays.table(), oneStands ? otherInvitation : oneInvitation),
        QString());
    QVERIFY(stays.seat->text(QStringLiteral("lblStatus"))
                .startsWith(QStringLiteral("Your invitations crossed, and yours stands")));
    QCOMPARE(stays.table().replyLine(), QString());
    QCOMPARE(
        ConnectionsWindow::dialAnswer(joins.table(), oneStands ? oneInvitation : otherInvitation),
        QString());
    const QString reply = joins.reply();
    QVERIFY(!reply.isEmpty());
    QCOMPARE(stays.pasteReply(reply), QString());
    QVERIFY(bothLinked(*stays.seat, *joins.seat));
    unlink(*joins.seat, *stays.seat);
}

// A host that has no network address to gather a path from says so once, not in a loop; the
// status line keeps telling of the link that is up, and the invitation offers a path again once
// gathering works.
void IceLinkTest::hostWithoutAddressSaysSoOnce()
{
    Player host(true), guest(false);
    QVERIFY(link(*guest.seat, *host.seat));
    auto *invitation =
        openConnections(*host.seat)->findChild<QLineEdit *>(QStringLiteral("txtInvitation"));
    QTRY_VERIFY_WITH_TIMEOUT(!invitation->text().isEmpty(), PathWithinMs);

    QSignalSpy notices(&host.table(), &TableProtocol::statusNotice);
    IceSettings nowhere;
    nowhere.localAddresses = {QStringLiteral("192.0.2.1")}; // not this machine's
    host.table().setIceSettings(nowhere);
    QTest::qWait(PathExchange::RegatherMs + 500);
    QCOMPARE(notices.size(), 1);
    const QString said = notices.first().first().toString();
    QVERIFY2(said.startsWith(QStringLiteral("This computer has no network address")),
             qPrintable(said));
    QCOMPARE(invitation->text(), QString());
    QCOMPARE(invitation->placeholderText(), said);
    QCOMPARE(host.seat->status(), StatusText::Connected);

    host.table().setIceSettings(loopbackOnly());
    QTRY_VERIFY_WITH_TIMEOUT(!invitation->text().isEmpty(), PathWithinMs);
    unlink(*guest.seat, *host.seat);
}

QTEST_MAIN(IceLinkTest)
#include "tst_icelink.moc"
