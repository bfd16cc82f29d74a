// Reading and writing the bytes that travel between the two copies, without any window.
#include "board/ZoneTable.h"
#include "wire/MessageReader.h"
#include "wire/Windows1252.h"
#include "wire/WireMessage.h"

#include <QSet>
#include <QtTest>

using ReadList = QList<QByteArray>;

class TestWire : public QObject
{
    Q_OBJECT

private slots:
    void parsesCodeAndPayload_data();
    void parsesCodeAndPayload();
    void lineBreaksTravelAsCrLf();

    void readerSplitsStream_data();
    void readerSplitsStream();
    void readerHoldsFramesToTheLimit_data();
    void readerHoldsFramesToTheLimit();

    void windows1252RoundTripsEveryByte();
    void windows1252EncodesWhatItCanHold_data();
    void windows1252EncodesWhatItCanHold();

    void zoneTablePairsEveryEditorWithOneDisplay();
};

void TestWire::parsesCodeAndPayload_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("payload");
    QTest::newRow("empty deck payload") << "03"
                                        << "03"
                                        << "";
    QTest::newRow("digits are payload") << "1740"
                                        << "17"
                                        << "40";
    QTest::newRow("blank kept") << "02 15"
                                << "02"
                                << " 15";
    QTest::newRow("one character") << "1"
                                   << "1"
                                   << "";
    QTest::newRow("nothing") << ""
                             << ""
                             << "";
    QTest::newRow("line breaks kept") << "10a\r\nb\r\n"
                                      << "10"
                                      << "a\r\nb\r\n";
}

void TestWire::parsesCodeAndPayload()
{
    QFETCH(QString, text);
    const WireMessage message = WireMessage::parse(text);
    QTEST(message.code, "code");
    QTEST(message.payload, "payload");
    if (text.size() >= 2)
        QCOMPARE(WireMessage::build(message.code, message.payload), text);
}

void TestWire::lineBreaksTravelAsCrLf()
{
    QCOMPARE(WireMessage::toWireLineBreaks(QStringLiteral("List cards\n")),
             QStringLiteral("List cards\r\n"));
    QCOMPARE(WireMessage::toWireLineBreaks(QStringLiteral("a\n\nb")), QStringLiteral("a\r\n\r\nb"));
    QCOMPARE(WireMessage::fromWireLineBreaks(QStringLiteral("a\r\n\r\nb\rc")),
             QStringLiteral("a\n\nb\nc"));
    const QString editor = QStringLiteral("Dark Magician\nBlue-Eyes\n");
    QCOMPARE(WireMessage::fromWireLineBreaks(WireMessage::toWireLineBreaks(editor)), editor);
}

void TestWire::readerSplitsStream_data()
{
    QTest::addColumn<ReadList>("reads");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("framed");

    const QByteArray euroCp1252("15\x80 5");
    QTest::newRow("plain read is one message") << ReadList{"03"
                                                           "40"}
                                               << QStringList{"0340"} << false;
    QTest::newRow("plain reads stay apart") << ReadList{"0312", "01"
                                                                "3"}
                                            << QStringList{"0312", "013"} << false;
    QTest::newRow("plain text is Windows-1252")
        << ReadList{euroCp1252} << QStringList{QStringLiteral("15\u20AC 5")} << false;
    QTest::newRow("two frames in one read") << ReadList{QByteArray("\0"
                                                                   "0340\0"
                                                                   "013\0",
                                                                   10)}
                                            << QStringList{"0340", "013"} << true;
    QTest::newRow("one frame over many reads") << ReadList{QByteArray("\0"
                                                                      "10a",
                                                                      4),
                                                           "\r\nb", QByteArray("c\0", 2)}
                                               << QStringList{"10a\r\nbc"} << true;
    QByteArray stream("\0"
                      "17h\xC3\xA9llo\0"
                      "02 15\0",
                      16);
    ReadList bytewise;
    for (char byte : stream)
        bytewise.append(QByteArray(1, byte));
    QTest::newRow("one byte at a time, UTF-8 split")
        << bytewise << QStringList{QStringLiteral("17h\u00E9llo"), "02 15"} << true;
    QTest::newRow("NUL-only keep-alives are skipped")
        << ReadList{QByteArray("\0\0\0", 3), QByteArray("\0"
                                                        "013\0\0",
                                                        6)}
        << QStringList{"013"} << true;
    QTest::newRow("switch from plain to framed inside one read")
        << ReadList{QByteArray("18Connected\0"
                               "20skarnet/1\0"
                               "03",
                               26),
                    QByteArray("9\0", 2)}
        << QStringList{"18Connected", "20skarnet/1", "039"} << true;
    QTest::newRow("plain message, then framing starts in the next read")
        << ReadList{"18Connected", QByteArray("\0"
                                              "0312\0",
                                              6)}
        << QStringList{"18Connected", "0312"} << true;
    QTest::newRow("framed text is UTF-8, invalid bytes replaced")
        << ReadList{QByteArray("\0"
                               "17\xFF"
                               "a\0",
                               6)}
        << QStringList{QStringLiteral("17\uFFFDa")} << true;
    QTest::newRow("unfinished frame waits") << ReadList{QByteArray("\0"
                                                                   "013",
                                                                   4)}
                                            << QStringList{} << true;
}

void TestWire::readerSplitsStream()
{
    QFETCH(ReadList, reads);
    MessageReader reader;
    QStringList messages;
    for (const QByteArray &read : reads)
        QVERIFY(reader.feed(read, messages));
    QTEST(messages, "messages");
    QTEST(reader.isFramed(), "framed");
}

void TestWire::readerHoldsFramesToTheLimit_data()
{
    QTest::addColumn<ReadList>("reads");
    QTest::addColumn<bool>("withinLimit");
    QTest::addColumn<QStringList>("messages");
    const QByteArray start("\0"
                           "013\0",
                           5);
    const QByteArray huge(MessageReader::MaxFrameBytes + 1, 'x');
    QTest::newRow("complete oversized frame")
        << ReadList{start + huge + QByteArray(1, '\0')} << false << QStringList{"013"};
    QTest::newRow("endless frame in pieces")
        << ReadList{start, huge.left(700000), huge.mid(700000)} << false << QStringList{"013"};
    // The limit is inclusive.
    const QByteArray atLimit = "16" + QByteArray(MessageReader::MaxFrameBytes - 2, 'y');
    QTest::newRow("frame of exactly the limit in pieces")
        << ReadList{start + atLimit.left(1000), atLimit.mid(1000) + QByteArray(1, '\0')} << true
        << QStringList{"013", QString::fromLatin1(atLimit)};
}

void TestWire::readerHoldsFramesToTheLimit()
{
    QFETCH(ReadList, reads);
    MessageReader reader;
    QStringList messages;
    bool ok = true;
    for (const QByteArray &read : reads)
        ok = reader.feed(read, messages) && ok;
    QTEST(ok, "withinLimit");
    QTEST(messages, "messages");
}

void TestWire::windows1252RoundTripsEveryByte()
{
    QByteArray all;
    for (int byte = 1; byte < 256; ++byte)
        all.append(char(byte));
    const QString text = Windows1252::decode(all);
    QCOMPARE(text.size(), all.size());
    QCOMPARE(Windows1252::encode(text), all);
    QCOMPARE(text.at(0x80 - 1), QChar(0x20AC));
    QCOMPARE(text.at(0x92 - 1), QChar(0x2019));
    QCOMPARE(text.at(0xE9 - 1), QChar(0x00E9));
}

void TestWire::windows1252EncodesWhatItCanHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << "17Yugi: go!" << QByteArray("17Yugi: go!");
    QTest::newRow("latin and typographic")
        << QStringLiteral("\u00C9p\u00E9e \u2014 \u201Cok\u201D \u20AC")
        << QByteArray("\xC9p\xE9"
                      "e \x97 \x93ok\x94 \x80");
    QTest::newRow("not in the code page") << QStringLiteral("\u65E5\u672C") << QByteArray("??");
    QTest::newRow("outside the BMP is one mark")
        << QStringLiteral("a\U0001F0A1b") << QByteArray("a?b");
}

void TestWire::windows1252EncodesWhatItCanHold()
{
    QFETCH(QString, text);
    QTEST(Windows1252::encode(text), "bytes");
}

void TestWire::zoneTablePairsEveryEditorWithOneDisplay()
{
    QSet<QString> codes, editors, displays;
    for (const ZoneMirror &zone : ZoneTable::all()) {
        codes.insert(zone.code);
        editors.insert(zone.editorName);
        displays.insert(zone.displayName);
        QCOMPARE(ZoneTable::byCode(zone.code), &zone);
        QCOMPARE(ZoneTable::byEditor(zone.editorName), &zone);
    }
    QCOMPARE(codes.size(), 16);
    QCOMPARE(editors.size(), 16);
    QCOMPARE(displays.size(), 16);
    for (int code = 1; code <= 16; ++code)
        QVERIFY(codes.contains(QStringLiteral("%1").arg(code, 2, 10, QLatin1Char('0'))));
    QVERIFY(!ZoneTable::byCode(QStringLiteral("17")));
    QCOMPARE(ZoneTable::byCode(QStringLiteral("15"))->editorName, QStringLiteral("txtP1Monster1"));
    QCOMPARE(ZoneTable::byCode(QStringLiteral("08"))->editorName, QStringLiteral("txtP1Trap1"));
}

QTEST_APPLESS_MAIN(TestWire)
#include "tst_wire.moc"
