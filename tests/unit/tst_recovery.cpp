// The recovery copy on disk: what a start finds in the folder, how often the board is written,
// and that two copies never share a file. Real files in a temporary folder.
#include "EventLoopWait.h"
#include "board/BoardSnapshot.h"
#include "board/RecoveryFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

BoardSnapshot sampleBoard()
{
    BoardSnapshot board;
    for (std::size_t row = 0; row < ZoneTable::Size; ++row) {
        board.localZones[row] = QStringLiteral("mine %1\nsecond line \u00E9").arg(row);
        board.opponentZones[row] = QStringLiteral("theirs %1").arg(row);
    }
    board.name = QStringLiteral("Yugi");
    board.chat = QStringLiteral("Yugi: hi\n\nKaiba: \u20AC5\n\n");
    return board;
}

// The write delay here, instead of the real second: long enough that fifty quick changes all
// fall within one delay even on a busy machine.
constexpr int WriteDelayMs = 100;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void boardSurvivesTheFile();
    void unreadableFilesAreSetAside_data();
    void unreadableFilesAreSetAside();
    void writesAtMostOnceASecondAndCleanEndRemoves();
    void copiesKeepSeparateFiles();
    void folderThatCannotBeWrittenIsSaidOnce();
};

void TestRecovery::boardSurvivesTheFile()
{
    QTemporaryDir folder;
    const BoardSnapshot board = sampleBoard();
    {
        // Gone without its clean end, as in a crash: the file stays.
        RecoveryFile crashed(folder.path(), 123, [&] { return board; });
        QVERIFY(crashed.claim());
        crashed.writeNow();
    }
    RecoveryFile restarted(folder.path(), 123, [] { return BoardSnapshot(); });
    QVERIFY(restarted.claim());
    const RecoveryFile::Found found = restarted.find();
    QCOMPARE(found.kind, RecoveryFile::Found::Kind::Snapshot);
    QCOMPARE(found.snapshot.localZones, board.localZones);
    QCOMPARE(found.snapshot.opponentZones, board.opponentZones);
    QCOMPARE(found.snapshot.name, board.name);
    QCOMPARE(found.snapshot.chat, board.chat);
    QVERIFY(qAbs(found.snapshot.savedAt.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestRecovery::unreadableFilesAreSetAside_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("problem");
    const QByteArray whole = sampleBoard().toJson();
    QByteArray future = whole;
    future.replace("\"version\":1", "\"version\":7");
    QByteArray numberForText = whole;
    numberForText.replace("\"name\":\"Yugi\"", "\"name\":42");
    QByteArray zoneMissing = whole;
    zoneMissing.replace("\"txtP1Grave\"", "\"txtP1Nowhere\"");
    QByteArray randomBytes(4096, '\0');
    for (int i = 0; i < randomBytes.size(); ++i)
        randomBytes[i] = char((i * 7919 + 13) % 251);

    QTest::newRow("empty") << QByteArray() << "damaged or cut short";
    QTest::newRow("cut in the middle") << whole.left(whole.size() / 2) << "damaged or cut short";
    QTest::newRow("random bytes") << randomBytes << "damaged or cut short";
    QTest::newRow("another program's JSON") << QByteArray("{\"a\":1}") << "not a recovery copy";
    QTest::newRow("a newer version") << future << "newer version";
    QTest::newRow("a number for text") << numberForText << "missing or damaged";
    QTest::newRow("a zone missing") << zoneMissing << "missing or damaged";
}

void TestRecovery::unreadableFilesAreSetAside()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, problem);
    QTemporaryDir folder;
    RecoveryFile file(folder.path(), 123, [] { return BoardSnapshot(); });
    QVERIFY(file.claim());
    writeFile(file.path(), contents);

    const RecoveryFile::Found found = file.find();
    QCOMPARE(found.kind, RecoveryFile::Found::Kind::Unreadable);
    QVERIFY2(found.problem.contains(problem), qPrintable(found.problem));
    QVERIFY(!QFile::exists(file.path()));
    QFile aside(found.setAsidePath);
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), contents);
    // Set aside once: the next start finds nothing.
    QCOMPARE(file.find().kind, RecoveryFile::Found::Kind::Nothing);
}

void TestRecovery::writesAtMostOnceASecondAndCleanEndRemoves()
{
    QTemporaryDir folder;
    int takes = 0;
    RecoveryFile file(folder.path(), 123, [&] {
        ++takes;
        return sampleBoard();
    });
    file.setWriteDelayMs(WriteDelayMs);
    QVERIFY(file.claim());
    for (int key = 0; key < 50; ++key) {
        file.changed();
        QCoreApplication::processEvents();
    }
    QCOMPARE(takes, 0); // never on the path of a keystroke
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file.path()), 2 * RecoveryFile::WriteDelayMs);
    runEventsPast(2 * WriteDelayMs); // past another whole delay
    QCOMPARE(takes, 1);

    file.finish();
    QVERIFY(!QFile::exists(file.path()));
    file.changed();
    file.writeNow();
    QVERIFY(!QFile::exists(file.path()));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

void TestRecovery::copiesKeepSeparateFiles()
{
    QTemporaryDir folder;
    RecoveryFile first(folder.path(), 123, [] { return sampleBoard(); });
    RecoveryFile otherPort(folder.path(), 4000, [] { return BoardSnapshot(); });
    RecoveryFile samePort(folder.path(), 123, [] { return BoardSnapshot(); });
    QVERIFY(first.claim());
    QVERIFY(otherPort.claim());
    QVERIFY(!samePort.claim());
    QVERIFY(first.path() != otherPort.path());
    first.writeNow();
    otherPort.writeNow();
    samePort.writeNow();
    samePort.finish();
    QCOMPARE(RecoveryFile(folder.path(), 0, {}).find().kind, RecoveryFile::Found::Kind::Nothing);
    QFile kept(first.path());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(BoardSnapshot::fromJson(kept.readAll(), nullptr)->name, QStringLiteral("Yugi"));
}

void TestRecovery::folderThatCannotBeWrittenIsSaidOnce()
{
    // A folder under a plain file cannot be made, whoever runs the test.
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("plain")), "x");
    RecoveryFile file(folder.filePath(QStringLiteral("plain/Skarnet")), 123,
                      [] { return sampleBoard(); });
    QSignalSpy said(&file, &RecoveryFile::cannotKeep);
    QVERIFY(!file.claim());
    file.changed();
    file.writeNow();
    QCOMPARE(said.size(), 1);
    QVERIFY(said.first().first().toString().contains(QStringLiteral("plain")));
}

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
