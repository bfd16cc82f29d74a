// Knowing the other copy: this copy's identity on disk, the invitation line with its check,
// and the tickets handed out. Identity files live in a temporary folder.
#include "trust/Identity.h"
#include "trust/Invitation.h"
#include "trust/TicketBook.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray Fingerprint = QByteArray::fromHex("00112233445566778899aabbccddeeff");
const QByteArray Ticket = QByteArray::fromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");

Invitation invitation(const QString &host, int port)
{
    return Invitation{host, port, Fingerprint, Ticket};
}

// Lines in each of the three forms a host takes, all of them sound.
const QStringList SampleLines = {invitation(QStringLiteral("203.0.113.7"), 123).line(),
                                 invitation(QStringLiteral("2001:db8::7"), 49152).line(),
                                 invitation(QStringLiteral("duel.example.org"), 65535).line()};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

bool onlyOwnerMayRead(const QString &path)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileDevice::Permissions permissions = QFile::permissions(path);
    return permissions.testFlag(QFileDevice::ReadOwner) && !(permissions & others);
}

Invitation::Reading readingOf(const QString &text)
{
    Invitation ignored;
    return Invitation::read(text, &ignored);
}

} // namespace

Q_DECLARE_METATYPE(Invitation::Reading)

class TestTrust : public QObject
{
    Q_OBJECT

private slots:
    void identityIsMadeOnceAndKept();
    void unreadableIdentityIsSetAside_data();
    void unreadableIdentityIsSetAside();
    void invitationsRoundTrip_data();
    void invitationsRoundTrip();
    void pastedTextIsRead_data();
    void pastedTextIsRead();
    void everySingleChangeOrSwapIsDamaged();
    void malformedLinesAreDamagedWhateverTheirCheck_data();
    void malformedLinesAreDamagedWhateverTheirCheck();
    void ticketsLetInOnce();
};

void TestTrust::identityIsMadeOnceAndKept()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("config/identity"));
    const Identity first = Identity::loadOrCreate(folder);
    QVERIFY2(first.isValid(), qPrintable(first.error()));
    QVERIFY(first.notice().isEmpty());
    QCOMPARE(first.fingerprint().size(), 32);
    QCOMPARE(first.privateKey().algorithm(), QSsl::Ec);
    QCOMPARE(first.privateKey().length(), 256);
    const QSslCertificate certificate = first.certificate();
    QVERIFY(certificate.isSelfSigned());
    QCOMPARE(certificate.subjectInfo(QSslCertificate::CommonName),
             QStringList{QStringLiteral("Skarnet player")});
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(qAbs(certificate.effectiveDate().secsTo(now.addDays(-1))) < 60);
    QVERIFY(qAbs(certificate.expiryDate().secsTo(now.addDays(-1).addYears(20))) < 60);
    QVERIFY(onlyOwnerMayRead(folder));
    QVERIFY(onlyOwnerMayRead(QDir(folder).filePath(QLatin1String(Identity::KeyFileName))));

    const Identity second = Identity::loadOrCreate(folder);
    QVERIFY(second.isValid());
    QCOMPARE(second.fingerprint(), first.fingerprint());
    QCOMPARE(second.privateKey(), first.privateKey());
    QVERIFY(second.notice().isEmpty());

    // A folder under a plain file cannot be made, whoever runs the test.
    write(root.filePath(QStringLiteral("plain")), "x");
    const Identity none = Identity::loadOrCreate(root.filePath(QStringLiteral("plain/identity")));
    QVERIFY(!none.isValid());
    QVERIFY2(none.error().contains(QStringLiteral("plain")), qPrintable(none.error()));
}

void TestTrust::unreadableIdentityIsSetAside_data()
{
    QTest::addColumn<QString>("damaged");
    QTest::addColumn<QByteArray>("bytes"); // empty: the key of another identity
    QTest::newRow("garbage key") << Identity::KeyFileName << QByteArray("not a key\n\x01\x02");
    QTest::newRow("empty key") << Identity::KeyFileName << QByteArray("");
    QTest::newRow("key of another") << Identity::KeyFileName << QByteArray();
    QTest::newRow("cut certificate")
        << Identity::CertificateFileName << QByteArray("-----BEGIN CERTIFICATE-----\nMIIB");
}

void TestTrust::unreadableIdentityIsSetAside()
{
    QFETCH(QString, damaged);
    QFETCH(QByteArray, bytes);
    QTemporaryDir folder, other;
    const QByteArray oldFingerprint = Identity::loadOrCreate(folder.path()).fingerprint();
    if (bytes.isEmpty() && damaged == QLatin1String(Identity::KeyFileName)) {
        Identity::loadOrCreate(other.path());
        bytes = contents(other.filePath(damaged));
    }
    write(folder.filePath(damaged), bytes);
    // The names of this second and the next few are taken already: none is overwritten.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int second = 0; second < 3; ++second) {
        taken << damaged + QStringLiteral(".unreadable-") +
                     now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        write(folder.filePath(taken.last()), "taken");
    }

    const Identity remade = Identity::loadOrCreate(folder.path());
    QVERIFY2(remade.isValid(), qPrintable(remade.error()));
    QVERIFY(remade.fingerprint() != oldFingerprint);
    QStringList setAside =
        QDir(folder.path()).entryList({damaged + QStringLiteral(".unreadable-*")});
    for (const QString &name : taken) {
        QCOMPARE(contents(folder.filePath(name)), QByteArray("taken"));
        setAside.removeOne(name);
    }
    QCOMPARE(setAside.size(), 1);
    QCOMPARE(contents(folder.filePath(setAside.first())), bytes);
    QVERIFY2(remade.notice().contains(setAside.first()), qPrintable(remade.notice()));
    QVERIFY(remade.notice().contains(QStringLiteral("new invitation")));

    // Said once: the next start reads the new pair.
    const Identity next = Identity::loadOrCreate(folder.path());
    QCOMPARE(next.fingerprint(), remade.fingerprint());
    QVERIFY(next.notice().isEmpty());
}

void TestTrust::invitationsRoundTrip_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("start"); // how the line starts; empty: no line can be written
    // The whole line, so that a change of its form shows: copies of other versions read it.
    QTest::newRow("IPv4")
        << "203.0.113.7" << 123
        << "skarnet://203.0.113.7:123/KABEiM0RVZneImaq7zN3u_w/T8OHSw7Sllod4aVpLPC0eDwQ";
    QTest::newRow("IPv6") << "2001:DB8::7" << 49152 << "skarnet://[2001:db8::7]:49152/K";
    QTest::newRow("IPv4 in IPv6") << "::ffff:203.0.113.7" << 1
                                  << "skarnet://[::ffff:203.0.113.7]:1/K";
    QTest::newRow("name") << "Duel.Example.org" << 65535 << "skarnet://duel.example.org:65535/K";
    QTest::newRow("longest host") << QString(57, u'h') << 123 << "skarnet://" + QString(57, u'h');
    QTest::newRow("over-long host") << QString(58, u'h') << 123 << "";
    QTest::newRow("no host") << "" << 123 << "";
    QTest::newRow("blank in host") << "duel example" << 123 << "";
    QTest::newRow("IPv6 zone") << "fe80::1%eth0" << 123 << "";
    QTest::newRow("port 0") << "203.0.113.7" << 0 << "";
    QTest::newRow("port 65536") << "203.0.113.7" << 65536 << "";
}

void TestTrust::invitationsRoundTrip()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, start);
    const QString line = invitation(host, port).line();
    QVERIFY2(start.isEmpty() ? line.isEmpty() : line.startsWith(start), qPrintable(line));
    if (line.isEmpty())
        return;
    QVERIFY(line.size() <= Invitation::LongestLine);
    Invitation read;
    QCOMPARE(Invitation::read(line, &read), Invitation::Reading::Invitation);
    QCOMPARE(read, invitation(host.toLower(), port));
}

void TestTrust::pastedTextIsRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Invitation::Reading>("reading");
    const QString line = SampleLines.first();
    const QString body = line.sliced(10);
    using R = Invitation::Reading;
    QTest::newRow("as written") << line << R::Invitation;
    QTest::newRow("scheme in capitals") << "SKARNET://" + body << R::Invitation;
    QTest::newRow("blanks around") << " \t" + line + "\n " << R::Invitation;
    QTest::newRow("in <>") << "<" + line + ">" << R::Invitation;
    QTest::newRow("end of a sentence") << line + "." << R::Invitation;
    QTest::newRow("in parentheses, with a comma") << line + ")," << R::Invitation;
    QTest::newRow("slash and <> and a stop") << "<" + line + "/>." << R::Invitation;
    QTest::newRow("IPv4") << "203.0.113.7" << R::BareAddress;
    QTest::newRow("name and port") << "host:123" << R::BareAddress;
    QTest::newRow("IPv6 and port") << "[::1]:123" << R::BareAddress;
    QTest::newRow("nothing") << "" << R::BareAddress;
    QTest::newRow("scheme alone") << "skarnet:" << R::Damaged;
    QTest::newRow("a character more") << line + "A" << R::Damaged;
    QTest::newRow("a character less") << line.chopped(1) << R::Damaged;
    QTest::newRow("one slash") << "skarnet:/" + body << R::Damaged;
    QTest::newRow("over-long") << line + QString(200, u'A') << R::Damaged;
    QTest::newRow("not ASCII") << "skarnet://\u00e9" + body.sliced(1) << R::Damaged;
}

void TestTrust::pastedTextIsRead()
{
    QFETCH(QString, text);
    QFETCH(Invitation::Reading, reading);
    Invitation read{QStringLiteral("untouched"), 1, {}, {}};
    QCOMPARE(Invitation::read(text, &read), reading);
    QCOMPARE(read.host, reading == Invitation::Reading::Invitation ? QStringLiteral("203.0.113.7")
                                                                   : QStringLiteral("untouched"));
}

void TestTrust::everySingleChangeOrSwapIsDamaged()
{
    QString replacements;
    for (char16_t ch = 0x20; ch < 0x7f; ++ch)
        replacements += QChar(ch);
    replacements += QStringLiteral("\u00e9\u0130\t");
    // Past "skarnet:" every position counts; before it, a change makes another text.
    for (const QString &line : SampleLines) {
        for (qsizetype at = 8; at < line.size(); ++at) {
            for (const QChar replacement : replacements) {
                QString changed = line;
                changed[at] = replacement;
                if (changed != line && readingOf(changed) != Invitation::Reading::Damaged)
                    QFAIL(qPrintable(QStringLiteral("not refused: ") + changed));
            }
            if (at == 8 || line.at(at - 1) == line.at(at))
                continue;
            QString swapped = line;
            std::swap(swapped[at - 1], swapped[at]);
            if (readingOf(swapped) != Invitation::Reading::Damaged)
                QFAIL(qPrintable(QStringLiteral("not refused: ") + swapped));
        }
    }
}

void TestTrust::malformedLinesAreDamagedWhateverTheirCheck_data()
{
    QTest::addColumn<QString>("unchecked"); // a line without its check character
    QTest::addColumn<bool>("sound");
    const QString tail = SampleLines.first().sliced(SampleLines.first().indexOf(u'/', 10));
    const QString keys = tail.chopped(1);
    QTest::newRow("sound") << "skarnet://203.0.113.7:123" + keys << true;
    QTest::newRow("port 0") << "skarnet://203.0.113.7:0" + keys << false;
    QTest::newRow("port 65536") << "skarnet://203.0.113.7:65536" + keys << false;
    QTest::newRow("leading zero") << "skarnet://203.0.113.7:0123" + keys << false;
    QTest::newRow("no port") << "skarnet://203.0.113.7" + keys << false;
    QTest::newRow("capital in host") << "skarnet://Duel.example.org:123" + keys << false;
    QTest::newRow("IPv6 without brackets") << "skarnet://2001:db8::7:123" + keys << false;
    QTest::newRow("two gaps in IPv6") << "skarnet://[1::2::3]:123" + keys << false;
    QTest::newRow("empty host") << "skarnet://:123" + keys << false;
    QTest::newRow("hyphen ends label") << "skarnet://duel-.org:123" + keys << false;
    QTest::newRow("short fingerprint")
        << "skarnet://h:1/KABEiM0RVZneImaq7zN3u_" + keys.sliced(24) << false;
    QTest::newRow("lower-case k") << "skarnet://h:1/k" + keys.sliced(2) << false;
    QTest::newRow("no //") << "skarnet:h:123" + keys << false;
    // Base64url whose last character carries bits that 16 bytes leave out.
    QTest::newRow("loose encoding")
        << "skarnet://h:1/KABEiM0RVZneImaq7zN3u_x" + keys.sliced(24) << false;
}

void TestTrust::malformedLinesAreDamagedWhateverTheirCheck()
{
    QFETCH(QString, unchecked);
    QFETCH(bool, sound);
    int read = 0;
    for (const QChar check :
         QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"))
        read += readingOf(unchecked + check) == Invitation::Reading::Invitation;
    QCOMPARE(read, sound ? 1 : 0);
}

void TestTrust::ticketsLetInOnce()
{
    TicketBook book;
    const QByteArray first = book.current();
    QCOMPARE(first.size(), Invitation::TicketBytes);
    QCOMPARE(book.redeem(first), TicketBook::Verdict::Valid);
    QVERIFY(book.current() != first);
    QCOMPARE(book.redeem(first), TicketBook::Verdict::Used);

    const QByteArray voided = book.current();
    book.renew();
    QCOMPARE(book.redeem(voided), TicketBook::Verdict::Replaced);
    QCOMPARE(book.redeem(Invitation::randomTicket()), TicketBook::Verdict::Unknown);
    QCOMPARE(book.redeem(book.current().chopped(1)), TicketBook::Verdict::Unknown);
    QCOMPARE(book.redeem(QByteArray()), TicketBook::Verdict::Unknown);

    // Only the newest are remembered: the first is forgotten once enough came after it.
    for (int i = 1; i < TicketBook::Remembered; ++i)
        book.renew();
    QCOMPARE(book.redeem(voided), TicketBook::Verdict::Replaced);
    QCOMPARE(book.redeem(first), TicketBook::Verdict::Unknown);
}

QTEST_GUILESS_MAIN(TestTrust)
#include "tst_trust.moc"
