// Coin flips and dice rolls drawn by two copies together: both get the same result, either
// copy's randomness is enough, the results are evenly spread, and a copy that lies about its
// draw is caught instead of believed.
#include "EventLoopWait.h"
#include "draws/DrawExchange.h"
#include "draws/DrawProtocol.h"
#include "wire/WireMessage.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <array>
#include <functional>

namespace {

// Random bytes from a generator with a fixed seed, so that a run can be repeated exactly.
DrawExchange::RandomBytes seeded(quint32 seed)
{
    auto generator = std::make_shared<QRandomGenerator>(seed);
    return [generator](int count) {
        QByteArray bytes(count, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(generator->bounded(256));
        return bytes;
    };
}

DrawExchange::RandomBytes constant(char value)
{
    return [value](int count) {
        return QByteArray(count, value);
    };
}

// Fresh salts, but the same secret every time.
DrawExchange::RandomBytes saltOnly(DrawExchange::RandomBytes salts)
{
    return [salts](int count) {
        return count == DrawProtocol::SaltBytes ? salts(count) : QByteArray(count, '\x07');
    };
}

// Two copies' exchanges joined as the link joins them: what one sends the other receives.
struct TwoCopies
{
    DrawExchange drawer;
    DrawExchange checker;
    QList<int> drawerResults;
    QList<int> checkerResults;

    TwoCopies(DrawExchange::RandomBytes drawerBytes, DrawExchange::RandomBytes checkerBytes)
    {
        drawer.setRandomBytes(std::move(drawerBytes));
        checker.setRandomBytes(std::move(checkerBytes));
        QObject::connect(&drawer, &DrawExchange::outgoing, &checker,
                         [this](const QString &m) { checker.receive(WireMessage::parse(m)); });
        QObject::connect(&checker, &DrawExchange::outgoing, &drawer,
                         [this](const QString &m) { drawer.receive(WireMessage::parse(m)); });
        QObject::connect(&drawer, &DrawExchange::ownDrawSettled, &drawer,
                         [this](int, int face) { drawerResults.append(face); });
        QObject::connect(&checker, &DrawExchange::opponentDrawSettled, &checker,
                         [this](int, int face) { checkerResults.append(face); });
    }
};

// How long a copy waits for the other's next step here, instead of the real seconds.
constexpr int WaitMs = 5;

const QByteArray Salt(DrawProtocol::SaltBytes, 's');
const QByteArray Secret(DrawProtocol::SecretBytes, 'k');
const QByteArray OtherSecret(DrawProtocol::SecretBytes, 'x');
const QString Commitment = DrawProtocol::commit(1, 6, DrawProtocol::commitment(Salt, Secret));

} // namespace

Q_DECLARE_METATYPE(DrawExchange::RandomBytes)

class TestDraws : public QObject
{
    Q_OBJECT

private slots:
    void bothCopiesGetTheSameResultAndBothValuesMatter_data();
    void bothCopiesGetTheSameResultAndBothValuesMatter();
    void resultsAreEvenlySpread_data();
    void resultsAreEvenlySpread();
    void wordsThatWouldFavourAFaceAreSkipped();
    void malformedStepsAreNotRead();
    void lyingDrawerIsCaught_data();
    void lyingDrawerIsCaught();
    void drawerGivesUpWithoutAnAnswer();
};

void TestDraws::bothCopiesGetTheSameResultAndBothValuesMatter_data()
{
    QTest::addColumn<DrawExchange::RandomBytes>("drawerBytes");
    QTest::addColumn<DrawExchange::RandomBytes>("checkerBytes");
    QTest::addColumn<int>("faces");

    for (int faces : {2, 6}) {
        const QByteArray kind = faces == 2 ? "coin, " : "die, ";
        QTest::newRow(kind + "both random") << seeded(1) << seeded(2) << faces;
        QTest::newRow(kind + "the checker always answers the same")
            << seeded(3) << constant('\x07') << faces;
        // Only the salt changes, or the checker would refuse the commitment as used before.
        QTest::newRow(kind + "the drawer always picks the same secret")
            << saltOnly(seeded(4)) << seeded(5) << faces;
    }
}

// Whichever copy's bytes stay the same, the other's still bring every face up.
void TestDraws::bothCopiesGetTheSameResultAndBothValuesMatter()
{
    QFETCH(DrawExchange::RandomBytes, drawerBytes);
    QFETCH(DrawExchange::RandomBytes, checkerBytes);
    QFETCH(int, faces);

    TwoCopies copies(drawerBytes, checkerBytes);
    QSignalSpy unchecked(&copies.checker, &DrawExchange::opponentDrawUnchecked);
    for (int i = 0; i < 200; ++i)
        QVERIFY(copies.drawer.start(faces));

    QCOMPARE(copies.drawerResults.size(), 200);
    QCOMPARE(copies.checkerResults, copies.drawerResults);
    QCOMPARE(unchecked.count(), 0);
    for (int face = 1; face <= faces; ++face)
        QVERIFY2(copies.drawerResults.contains(face), qPrintable(QString::number(face)));
}

void TestDraws::resultsAreEvenlySpread_data()
{
    QTest::addColumn<int>("faces");
    QTest::addColumn<double>("threshold");
    // The chi-square values a fair draw exceeds once in a thousand runs: 10.83 for one degree
    // of freedom (the coin), 20.52 for five (the die). The seeds are fixed, so a pass is not
    // luck that the next run may lack.
    QTest::newRow("coin") << 2 << 10.83;
    QTest::newRow("die") << 6 << 20.52;
}

void TestDraws::resultsAreEvenlySpread()
{
    QFETCH(int, faces);
    QFETCH(double, threshold);

    TwoCopies copies(seeded(11), seeded(12));
    constexpr int Draws = 6000;
    for (int i = 0; i < Draws; ++i)
        copies.drawer.start(faces);
    QCOMPARE(copies.checkerResults.size(), Draws);

    std::array<int, 6> counts{};
    for (int face : copies.checkerResults)
        ++counts[std::size_t(face - 1)];
    const double expected = double(Draws) / faces;
    double chiSquare = 0;
    for (int face = 0; face < faces; ++face)
        chiSquare += (counts[std::size_t(face)] - expected) *
                     (counts[std::size_t(face)] - expected) / expected;
    QVERIFY2(chiSquare < threshold, qPrintable(QString::number(chiSquare)));
}

// Of 2^32 words the top 2^32 mod 6 = 4 would give faces 1 to 4 once more than 5 and 6.
void TestDraws::wordsThatWouldFavourAFaceAreSkipped()
{
    struct Case
    {
        quint32 word;
        int faces;
        std::optional<int> face;
    };
    const Case cases[] = {
        {0, 6, 1},           {5, 6, 6},           {6, 6, 1},          {0xFFFFFFFB, 6, 6},
        {0xFFFFFFFC, 6, {}}, {0xFFFFFFFF, 6, {}}, {0xFFFFFFFF, 2, 2}, {0xFFFFFFFE, 2, 1},
    };
    for (const Case &c : cases)
        QCOMPARE(DrawProtocol::faceOfWord(c.word, c.faces), c.face);
}

void TestDraws::malformedStepsAreNotRead()
{
    const QString hex64(64, QLatin1Char('a'));
    const QString hex32(32, QLatin1Char('b'));
    const QStringList unreadable = {
        "21",
        "211 6",
        "211 3 " + hex64,
        "21-1 6 " + hex64,
        "21+1 6 " + hex64,
        "2101 6 " + hex64,
        "21 1 6 " + hex64,
        "2199999999999 6 " + hex64,
        "211 6 " + hex64.toUpper(),
        "211 6 " + hex64.chopped(2),
        "211 6 " + hex64 + " extra",
        "221 " + hex64 + "0",
        "221 " + hex64.left(63) + "g",
        "231 " + hex32 + " " + hex32,
        "231 " + hex64 + " " + hex64,
        "17x: 1 6 " + hex64,
    };
    for (const QString &text : unreadable)
        QVERIFY2(!DrawProtocol::parse(WireMessage::parse(text)), qPrintable(text));
    const auto commit = DrawProtocol::parse(WireMessage::parse(Commitment));
    QVERIFY(commit);
    QCOMPARE(commit->faces, 6);
    QCOMPARE(commit->commitment, DrawProtocol::commitment(Salt, Secret));
}

void TestDraws::lyingDrawerIsCaught_data()
{
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("linkEnds");
    QTest::addColumn<QList<DrawExchange::Unchecked>>("reported");
    // How many draws are honest and settle: one of a commitment seen once, one that replaced
    // an abandoned draw.
    QTest::addColumn<int>("settles");

    using U = DrawExchange::Unchecked;
    const QString honest = DrawProtocol::reveal(1, Salt, Secret);
    const QString second = DrawProtocol::commit(2, 6, DrawProtocol::commitment(Salt, OtherSecret));
    QTest::newRow("a reveal of another secret")
        << QStringList{Commitment, DrawProtocol::reveal(1, Salt, OtherSecret)} << 1 << false
        << QList<U>{U::RevealMismatch} << 0;
    QTest::newRow("a reveal with another salt")
        << QStringList{Commitment, DrawProtocol::reveal(1, QByteArray(16, 't'), Secret)} << 1
        << false << QList<U>{U::RevealMismatch} << 0;
    QTest::newRow("a reveal for another draw")
        << QStringList{Commitment, DrawProtocol::reveal(2, Salt, Secret)} << 1 << false
        << QList<U>{U::RevealMismatch} << 0;
    QTest::newRow("no reveal") << QStringList{Commitment} << 1 << false << QList<U>{U::NoReveal}
                               << 0;
    QTest::newRow("a commitment used again, reveal and all")
        << QStringList{Commitment, honest, Commitment, honest} << 1 << false
        << QList<U>{U::ReusedCommitment} << 1;
    // Both stay open: the second settles, the first runs out.
    QTest::newRow("another draw before the reveal")
        << QStringList{Commitment, second, DrawProtocol::reveal(2, Salt, OtherSecret)} << 2 << false
        << QList<U>{U::NoReveal} << 1;
    // Four stay open and run out; the fifth and sixth are refused, with one sentence.
    QStringList flood;
    for (int id = 1; id <= 6; ++id)
        flood << DrawProtocol::commit(id, 2,
                                      DrawProtocol::commitment(Salt, QByteArray(32, char(id))));
    QTest::newRow("more draws open than allowed")
        << flood << 4 << false
        << QList<U>{U::TooManyOpen, U::NoReveal, U::NoReveal, U::NoReveal, U::NoReveal} << 0;
    QTest::newRow("an unreadable reveal")
        << QStringList{Commitment, "231 nonsense"} << 1 << false << QList<U>{U::Unreadable} << 0;
    QTest::newRow("an unreadable commitment")
        << QStringList{"211 6 xyz"} << 0 << false << QList<U>{U::Unreadable} << 0;
    QTest::newRow("the link ends first")
        << QStringList{Commitment} << 1 << true << QList<U>{U::LinkEnded} << 0;
}

// Each lie is reported once, no lied-about draw is shown as a result, and the checker answers
// every fresh commitment at once.
void TestDraws::lyingDrawerIsCaught()
{
    QFETCH(QStringList, sent);
    QFETCH(int, answers);
    QFETCH(bool, linkEnds);
    QFETCH(QList<DrawExchange::Unchecked>, reported);
    QFETCH(int, settles);

    DrawExchange checker;
    checker.setWaitMs(WaitMs);
    QSignalSpy outgoing(&checker, &DrawExchange::outgoing);
    QSignalSpy settled(&checker, &DrawExchange::opponentDrawSettled);
    QSignalSpy unchecked(&checker, &DrawExchange::opponentDrawUnchecked);
    for (const QString &message : sent)
        checker.receive(WireMessage::parse(message));
    if (linkEnds)
        checker.linkEnded();
    runEventsPast(2 * WaitMs); // past the wait for a reveal

    QList<DrawExchange::Unchecked> heard;
    for (const QList<QVariant> &report : unchecked)
        heard.append(report.at(1).value<DrawExchange::Unchecked>());
    QCOMPARE(heard, reported);
    QCOMPARE(outgoing.count(), answers);
    for (const QList<QVariant> &answer : outgoing)
        QVERIFY(answer.at(0).toString().startsWith(WireCode::DrawAnswer));
    QCOMPARE(settled.count(), settles);
}

void TestDraws::drawerGivesUpWithoutAnAnswer()
{
    DrawExchange drawer;
    drawer.setWaitMs(WaitMs);
    QSignalSpy failed(&drawer, &DrawExchange::ownDrawFailed);
    QSignalSpy settled(&drawer, &DrawExchange::ownDrawSettled);
    QVERIFY(drawer.start(2));
    QVERIFY(!drawer.start(2)); // one draw at a time
    QVERIFY(failed.wait());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(1).value<DrawExchange::Failed>(), DrawExchange::Failed::NoAnswer);

    // An answer that comes too late settles nothing; the next draw starts afresh.
    drawer.receive(WireMessage::parse(DrawProtocol::answer(1, QByteArray(32, 'a'))));
    QCOMPARE(settled.count(), 0);
    QVERIFY(drawer.start(6));
    drawer.linkEnded();
    QCOMPARE(failed.count(), 2);
    QCOMPARE(failed.at(1).at(1).value<DrawExchange::Failed>(), DrawExchange::Failed::LinkEnded);
}

QTEST_GUILESS_MAIN(TestDraws)
#include "tst_draws.moc"
