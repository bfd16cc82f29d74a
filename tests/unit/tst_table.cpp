// What crosses the link for the board, without a socket: each message from the peer becomes
// exactly one typed signal (or none), and each typed value becomes the message the peer reads.
#include "board/AnnouncementQueue.h"
#include "board/DisplayText.h"
#include "board/TableProtocol.h"
#include "board/ZoneTable.h"
#include "wire/WireMessage.h"

#include <QtTest>

namespace {

// What one message from the peer made the table say: "kind|where|text", or nothing.
struct Heard
{
    QStringList said;

    explicit Heard(TableProtocol &table)
    {
        QObject::connect(&table, &TableProtocol::zoneTextReceived, &table,
                         [this](const ZoneMirror &zone, const QString &text) {
                             said << QStringLiteral("zone|%1|%2").arg(zone.displayName, text);
                         });
        QObject::connect(&table, &TableProtocol::chatLineReceived, &table,
                         [this](const QString &line) { said << QStringLiteral("chat||") + line; });
        QObject::connect(
            &table, &TableProtocol::statusChanged, &table,
            [this](const QString &text) { said << QStringLiteral("status||") + text; });
        QObject::connect(&table, &TableProtocol::announcementReceived, &table,
                         [this](const QString &text) { said << QStringLiteral("box||") + text; });
    }
};

} // namespace

class TestTable : public QObject
{
    Q_OBJECT

private slots:
    void peerMessagesBecomeTypedSignals_data();
    void peerMessagesBecomeTypedSignals();
    void everyZoneTravelsToItsOwnDisplay();
    void typedValuesBecomeMessages();
    void nothingIsSentWithoutALink();
    void chatLineIsOneLine_data();
    void chatLineIsOneLine();
    void textsOverTheFrameLimitDoNotFit();
    void displaysShowLongTextsShortened_data();
    void displaysShowLongTextsShortened();
    void announcementsShareOneBox();
};

void TestTable::peerMessagesBecomeTypedSignals_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("said");

    const auto zone = [](const char *display, const QString &text) {
        return QStringList{QStringLiteral("zone|%1|%2").arg(QLatin1String(display), text)};
    };
    QTest::newRow("deck count") << "0340" << zone("lblP2Deck", "40");
    QTest::newRow("empty deck payload empties the count") << "03" << zone("lblP2Deck", "");
    QTest::newRow("life points") << "0215" << zone("lblP2LP", "15");
    QTest::newRow("blank belongs to the payload") << "02 15" << zone("lblP2LP", " 15");
    QTest::newRow("payload starting with digits") << "111213" << zone("lblP2Monster1", "1213");
    QTest::newRow("hand") << "015" << zone("lblP2Hand", "5");
    QTest::newRow("CR LF in a label") << "16a\r\nb" << zone("lblP2FieldZone", "a\nb");
    QTest::newRow("CR LF in the graveyard")
        << "10Card one\r\nCard two" << zone("lblP2Grave", "Card one\nCard two");
    QTest::newRow("CR LF in the fusion deck")
        << "09Fusion one\r\nFusion two" << zone("lblP2FusionDeck", "Fusion one\nFusion two");
    QTest::newRow("lone CR is a line break") << "04a\rb" << zone("lblP2Trap1", "a\nb");
    QTest::newRow("chat digits") << "1740" << QStringList{"chat||40"};
    QTest::newRow("chat with a line break") << "17a:\r\nb" << QStringList{"chat||a:\nb"};
    QTest::newRow("status") << "18Connected" << QStringList{"status||Connected"};
    QTest::newRow("announcement") << "19Your opponent: Rolled dice to 4"
                                  << QStringList{"box||Your opponent: Rolled dice to 4"};
    QTest::newRow("markup is handed on as text")
        << "17<b>bold</b>" << QStringList{"chat||<b>bold</b>"};
    // Nothing else goes anywhere.
    QTest::newRow("code outside the table") << "99x" << QStringList();
    QTest::newRow("code 00") << "00abc" << QStringList();
    QTest::newRow("one character") << "2" << QStringList();
    QTest::newRow("one digit of a zone code") << "1" << QStringList();
    QTest::newRow("letters") << "ab12" << QStringList();
    QTest::newRow("greeting") << "20skarnet/2" << QStringList();
    QTest::newRow("draw step without a copy that draws")
        << "227 " + QString(64, QLatin1Char('a')) << QStringList();
}

void TestTable::peerMessagesBecomeTypedSignals()
{
    QFETCH(QString, message);
    QFETCH(QStringList, said);
    TableProtocol table(0);
    Heard heard(table);
    table.receive(WireMessage::parse(message));
    QCOMPARE(heard.said, said);
}

// Whatever a zone's editor holds comes out on the other seat in that zone's display and
// nowhere else, line breaks included.
void TestTable::everyZoneTravelsToItsOwnDisplay()
{
    TableProtocol table(0);
    Heard heard(table);
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const QString text = QStringLiteral("Line one\nLine two ") + zone.editorName;
        table.receive(WireMessage::parse(TableProtocol::zoneTextMessage(zone, text)));
        QCOMPARE(heard.said, QStringList{QStringLiteral("zone|%1|%2").arg(zone.displayName, text)});
        heard.said.clear();
    }
}

void TestTable::typedValuesBecomeMessages()
{
    const ZoneMirror *graveyard = ZoneTable::byEditor(QStringLiteral("txtP1Grave"));
    QVERIFY(graveyard);
    QCOMPARE(TableProtocol::zoneTextMessage(*graveyard, QStringLiteral("Kuriboh\nRaigeki")),
             QStringLiteral("10Kuriboh\r\nRaigeki"));
    QCOMPARE(TableProtocol::zoneTextMessage(*ZoneTable::byEditor(QStringLiteral("txtP1LP")),
                                            QStringLiteral("7500")),
             QStringLiteral("027500"));
    QCOMPARE(TableProtocol::chatMessage(QStringLiteral("Yugi: hi")), QStringLiteral("17Yugi: hi"));
    QCOMPARE(TableProtocol::announcementMessage(QStringLiteral("Your opponent: Rolled dice to 4")),
             QStringLiteral("19Your opponent: Rolled dice to 4"));
}

void TestTable::nothingIsSentWithoutALink()
{
    TableProtocol table(0);
    QVERIFY(!table.sendZoneText(ZoneTable::all().front(), QStringLiteral("4")));
    QVERIFY(!table.sendChatLine(QStringLiteral("Yugi: hi")));
    QVERIFY(!table.sendAnnouncement(QStringLiteral("Coin")));
    QVERIFY(!table.drawsTogether());
}

void TestTable::chatLineIsOneLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("line");
    QTest::newRow("as typed") << "Yugi"
                              << "hi there"
                              << "Yugi: hi there";
    QTest::newRow("pasted lines become one") << "Yugi"
                                             << "one\r\ntwo\nthree\rfour\u2028five"
                                             << "Yugi: one two three four five";
    QTest::newRow("control characters dropped")
        << "Yu\u0007gi" << QStringLiteral("a\tb\u0007c") + QChar(0) + QStringLiteral("d\u007Fe")
        << "Yugi: a bcde";
    QTest::newRow("nothing left to say") << "Yugi"
                                         << "\r\n\u0007 "
                                         << "";
}

void TestTable::chatLineIsOneLine()
{
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QString, line);
    QCOMPARE(TableProtocol::chatLine(name, typed), line);
}

// What a frame holds at most, counted in UTF-8 with the code and CR LF line breaks.
void TestTable::textsOverTheFrameLimitDoNotFit()
{
    const ZoneMirror &grave = *ZoneTable::byEditor(QStringLiteral("txtP1Grave"));
    const qsizetype room = (1 << 20) - 2;
    QVERIFY(TableProtocol::fits(grave, QString(room, QLatin1Char('x'))));
    QVERIFY(!TableProtocol::fits(grave, QString(room + 1, QLatin1Char('x'))));
    // Each line break travels as two bytes, each e-acute as two.
    QVERIFY(!TableProtocol::fits(grave, QString(room - 1, QLatin1Char('x')) + QLatin1Char('\n')));
    QVERIFY(TableProtocol::fits(grave, QString(room / 2, QChar(0xE9))));
    QVERIFY(!TableProtocol::fits(grave, QString(room / 2 + 1, QChar(0xE9))));
}

void TestTable::displaysShowLongTextsShortened_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const QString run(DisplayText::LongestRun, QLatin1Char('F'));
    QTest::newRow("short texts as they are") << "Dark Magician\nKuriboh"
                                             << "Dark Magician\nKuriboh";
    QTest::newRow("a run as long as allowed") << run << run;
    QTest::newRow("a longer run shortened")
        << run + "FFF tail" << run + "\u2026 (3 more characters) tail";
    QTest::newRow("every long run")
        << run + "G\n" + run + "HH"
        << run + "\u2026 (1 more characters)\n" + run + "\u2026 (2 more characters)";
    QTest::newRow("a character beyond 16 bits stays whole")
        << QString(DisplayText::LongestRun - 1, QLatin1Char('F')) + "\U0001F0A1\U0001F0A1"
        << QString(DisplayText::LongestRun - 1, QLatin1Char('F')) +
               "\U0001F0A1\u2026 (2 more characters)";
    const QString words = QStringLiteral("word ").repeated(DisplayText::LongestText / 5 + 10);
    QTest::newRow("a long text cut at its limit")
        << words << words.first(DisplayText::LongestText) + "\u2026 (50 more characters)";
}

void TestTable::displaysShowLongTextsShortened()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(DisplayText::shortened(text), shown);
}

// The first announcement opens the box; those that come while it is open take its place in it,
// counted; once closed, the next one opens a new box.
void TestTable::announcementsShareOneBox()
{
    AnnouncementQueue queue;
    QStringList boxes;
    QObject::connect(&queue, &AnnouncementQueue::show, &queue,
                     [&](const QString &text, bool opens) {
                         boxes << (opens ? QStringLiteral("open|") : QStringLiteral("now|")) + text;
                     });
    queue.add(QStringLiteral("A"));
    queue.add(QStringLiteral("B"));
    queue.add(QStringLiteral("C"));
    queue.boxClosed();
    queue.add(QStringLiteral("D"));
    QCOMPARE(boxes,
             QStringList({"open|A",
                          "now|B\n\n(1 earlier announcement(s) from your opponent came while this "
                          "box was open.)",
                          "now|C\n\n(2 earlier announcement(s) from your opponent came while this "
                          "box was open.)",
                          "open|D"}));
}

QTEST_GUILESS_MAIN(TestTable)
#include "tst_table.moc"
