// The running copy's local socket: what it takes from a later start, what it refuses, and who
// keeps the socket when a second copy starts.
#include "startup/RunningCopy.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

class TestRunningCopy : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_folder.isValid()); }
    void answersWhatItIsSent_data();
    void answersWhatItIsSent();
    void oneCopyKeepsTheSocket();

private:
    QString socketName() const { return m_folder.filePath(QStringLiteral("socket")); }
    // Sends `bytes` to the copy on the socket; returns its answer once it has closed the
    // connection, or "(nothing listens)".
    QByteArray send(const QByteArray &bytes) const;

    QTemporaryDir m_folder;
};

QByteArray TestRunningCopy::send(const QByteArray &bytes) const
{
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(1000))
        return "(nothing listens)";
    QSignalSpy closed(&socket, &QLocalSocket::disconnected);
    socket.write(bytes);
    if (!closed.wait(2000))
        return "(still open)";
    return socket.readAll();
}

void TestRunningCopy::answersWhatItIsSent_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer"); // empty: the connection is dropped unanswered
    QTest::addColumn<QString>("taken");     // empty: nothing is opened

    const QString invitation =
        QStringLiteral("skarnet://203.0.113.7:123/K%1/T%2")
            .arg(QString(22, QLatin1Char('a')), QString(23, QLatin1Char('b')));
    QTest::newRow("an invitation") << invitation.toUtf8() + '\n'
                                   << QByteArray("ok\n") << invitation;
    QTest::newRow("the longest line") << QByteArray(4095, 'a') + '\n'
                                      << QByteArray("ok\n") << QString(4095, QLatin1Char('a'));
    QTest::newRow("an empty line") << QByteArray("\n") << QByteArray("refused\n") << QString();
    QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\x80\n") << QByteArray("refused\n")
                               << QString();
    QTest::newRow("a control character")
        << QByteArray("192.0.2.1\t4000\n") << QByteArray("refused\n") << QString();
    QTest::newRow("a line too long") << QByteArray(4096, 'a') + '\n' << QByteArray() << QString();
    QTest::newRow("no line end, a megabyte of it")
        << QByteArray(1 << 20, 'a') << QByteArray() << QString();
}

void TestRunningCopy::answersWhatItIsSent()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    QFETCH(QString, taken);

    RunningCopy copy(socketName());
    QVERIFY(copy.listen());
    QSignalSpy received(&copy, &RunningCopy::invitationReceived);
    QCOMPARE(send(sent), answer);
    QCOMPARE(received.size(), taken.isEmpty() ? 0 : 1);
    if (!taken.isEmpty())
        QCOMPARE(received.first().first().toString(), taken);
    // Whatever came before, the next start is still heard.
    QCOMPARE(send("192.0.2.9\n"), QByteArray("ok\n"));
}

// The socket a killed copy left behind goes to the next copy; a copy started beside a live one
// runs without it, and leaves it be when it ends.
void TestRunningCopy::oneCopyKeepsTheSocket()
{
    const QByteArray path = QFile::encodeName(socketName());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    ::close(descriptor);

    RunningCopy first(socketName());
    QCOMPARE(first.handOver(QStringLiteral("192.0.2.1")), RunningCopy::HandOver::NoCopyRunning);
    QVERIFY(first.listen());
    {
        RunningCopy second(socketName());
        QVERIFY(!second.listen());
    }
    QCOMPARE(send("192.0.2.1\n"), QByteArray("ok\n"));
}

QTEST_GUILESS_MAIN(TestRunningCopy)
#include "tst_runningcopy.moc"
