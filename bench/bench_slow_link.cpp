// Two linked boards over a slow link: a player types into a long graveyard list while the link
// to the opponent carries far less than the whole list per keystroke. Measures how long after
// the last key the opponent sees the final list, and checks that every list the opponent is
// shown on the way is one the player really had.
//
// The slow link is real TCP through the kernel: the typing board's connection is made from a
// network namespace joined to this one by a veth pair whose two ends are shaped with a token
// bucket (tc tbf) to the link's rate, and, for a lossy link, drop a share of arriving packets
// (nftables). A relay in this process stands between the pair's near end and the opponent's
// board and delays every byte by the one-way delay in each direction. Needs root, ip, tc and
// nft; where any is missing the benchmark says so and reports nothing. The baseline is a bare
// socket that writes the whole list on every key over the same path, with no queue of its own.
//
// Prints its figures as result lines (BenchReport.h).
#include "BenchReport.h"

#include "LinkHarness.h"
#include "board/ZoneTable.h"
#include "link/PeerLink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QQueue>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace LinkHarness;

namespace {

const QString Namespace = QStringLiteral("skarnet-slow");
const QString NearEnd = QStringLiteral("skslow0");
const QString FarEnd = QStringLiteral("skslow1");
const QString NearAddress = QStringLiteral("10.213.77.1");
const QString FarAddress = QStringLiteral("10.213.77.2");

bool run(const QString &script)
{
    QProcess shell;
    shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), script});
    return shell.waitForFinished(10000) && shell.exitStatus() == QProcess::NormalExit &&
           shell.exitCode() == 0;
}

// The veth pair, shaped in both directions; removed again when this goes.
class ShapedPath
{
public:
    ShapedPath(const QString &rate, int lossPercent)
    {
        tearDown();
        QString script =
            QStringLiteral("ip netns add %1\n"
                           "ip link add %2 type veth peer name %3\n"
                           "ip link set %3 netns %1\n"
                           "ip addr add %4/30 dev %2\n"
                           "ip link set %2 up\n"
                           "ip -n %1 addr add %5/30 dev %3\n"
                           "ip -n %1 link set %3 up\n"
                           "ip -n %1 link set lo up\n"
                           "tc qdisc add dev %2 root tbf rate %6 burst 1600 latency 100ms\n"
                           "ip netns exec %1 tc qdisc add dev %3 root tbf rate %6 burst 1600 "
                           "latency 100ms\n")
                .arg(Namespace, NearEnd, FarEnd, NearAddress, FarAddress, rate);
        if (lossPercent > 0) {
            // Packets are lost on arrival, in both directions, as on a lossy line.
            const QString drop =
                QStringLiteral("table inet skslow { chain in { type filter hook prerouting "
                               "priority -300; iifname \"%1\" numgen random mod 100 < %2 drop; }; "
                               "}");
            script += QStringLiteral("nft '%1'\n").arg(drop.arg(NearEnd).arg(lossPercent));
            script += QStringLiteral("ip netns exec %1 nft '%2'\n")
                          .arg(Namespace, drop.arg(FarEnd).arg(lossPercent));
        }
        m_ready = run(script);
    }
    ~ShapedPath() { tearDown(); }
    bool ready() const { return m_ready; }

    // Runs `connect` with this thread in the far namespace, so that the sockets it opens
    // live there; the thread then comes back.
    static bool fromFarEnd(const std::function<void()> &connect)
    {
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int far =
            ::open(qPrintable(QStringLiteral("/var/run/netns/") + Namespace), O_RDONLY | O_CLOEXEC);
        const bool entered = home >= 0 && far >= 0 && ::setns(far, CLONE_NEWNET) == 0;
        if (entered)
            connect();
        const bool back = home >= 0 && ::setns(home, CLONE_NEWNET) == 0;
        if (home >= 0)
            ::close(home);
        if (far >= 0)
            ::close(far);
        return entered && back;
    }

private:
    static void tearDown()
    {
        run(QStringLiteral("nft delete table inet skslow 2>/dev/null || true\n"
                           "ip link delete %1 2>/dev/null || true\n"
                           "ip netns delete %2 2>/dev/null || true\n")
                .arg(NearEnd, Namespace));
    }
    bool m_ready = false;
};

// Forwards one connection to the opponent's port, holding every byte back by `delayMs` in
// each direction.
class DelayRelay : public QObject
{
public:
    DelayRelay(int targetPort, int delayMs)
        : m_targetPort(targetPort)
        , m_delayMs(delayMs)
    {
        m_server.listen(QHostAddress(NearAddress), 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *near = m_server.nextPendingConnection();
            auto *far = new QTcpSocket(this);
            far->connectToHost(QHostAddress::LocalHost, quint16(m_targetPort));
            pipe(near, far);
            pipe(far, near);
        });
    }
    int port() const { return m_server.serverPort(); }

private:
    struct Pending
    {
        qint64 dueMs;
        QByteArray bytes;
    };

    void pipe(QTcpSocket *from, QTcpSocket *to)
    {
        auto queue = std::make_shared<QQueue<Pending>>();
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        const auto arm = [this, queue, timer] {
            if (!queue->isEmpty() && !timer->isActive())
                timer->start(int(std::max<qint64>(0, queue->head().dueMs - m_clock.elapsed())));
        };
        connect(from, &QTcpSocket::readyRead, this, [this, from, queue, arm] {
            queue->enqueue({m_clock.elapsed() + m_delayMs, from->readAll()});
            arm();
        });
        connect(timer, &QTimer::timeout, this, [this, to, queue, arm] {
            while (!queue->isEmpty() && queue->head().dueMs <= m_clock.elapsed()) {
                to->write(queue->dequeue().bytes);
                to->flush();
            }
            arm();
        });
        connect(from, &QTcpSocket::disconnected, to, &QTcpSocket::disconnectFromHost);
    }

    QTcpServer m_server;
    int m_targetPort;
    int m_delayMs;
    QElapsedTimer m_clock = [] {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }();
};

struct Link
{
    const char *name;
    const char *rate;
    int delayMs;
    int lossPercent;
};

constexpr int GraveyardLines = 300;
constexpr int Keys = 50;
constexpr int KeyIntervalMs = 100;

QString graveyardList()
{
    QString list;
    for (int line = 1; line <= GraveyardLines; ++line)
        list += QStringLiteral("Kuriboh %1 (face-down, in defence)\n")
                    .arg(line, 3, 10, QLatin1Char('0'));
    return list;
}

// The baseline: a bare socket that writes the list whole on every key, as a program does that
// keeps no queue of its own, over the same path. Milliseconds from the last key to the
// receiver having the final list, or NaN when it never does.
double everyTextWhole(const Link &link)
{
    QTcpServer receiver;
    receiver.listen(QHostAddress::LocalHost, 0);
    std::unique_ptr<PlainPeer> reader;
    QObject::connect(&receiver, &QTcpServer::newConnection, &receiver, [&] {
        reader = std::make_unique<PlainPeer>(receiver.nextPendingConnection());
    });
    DelayRelay relay(receiver.serverPort(), link.delayMs);
    PlainPeer sender;
    ShapedPath::fromFarEnd(
        [&] { sender.socket->connectToHost(NearAddress, quint16(relay.port())); });
    if (!sender.socket->waitForConnected(10000))
        return NAN;
    sender.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QString text = graveyardList();
    const auto send = [&] {
        sender.send(text.toUtf8() + '\0');
    };
    send();
    QElapsedTimer clock;
    clock.start();
    for (int key = 0; key < Keys; ++key) {
        QTest::qWait(KeyIntervalMs);
        text += QChar(u'a' + key % 26);
        send();
    }
    const qint64 lastKey = clock.elapsed();
    const QByteArray final = text.toUtf8() + '\0';
    if (!QTest::qWaitFor([&] { return reader && reader->received.endsWith(final); }, 60000))
        return NAN;
    return double(clock.elapsed() - lastKey);
}

void benchLink(const Link &link, BenchReport &report)
{
    const QString name = QString::fromLatin1(link.name);
    ShapedPath path(QString::fromLatin1(link.rate), link.lossPercent);
    if (!path.ready()) {
        report.note(name + QStringLiteral(": skipped, the shaped network could not be set up "
                                          "(needs root, ip, tc and nft)"));
        return;
    }
    const double baseline = everyTextWhole(link);
    Seat typing;
    Seat opponent;
    DelayRelay relay(opponent.port(), link.delayMs);
    typing.socket()->close();
    if (!ShapedPath::fromFarEnd([&] { typing.socket()->dial(NearAddress, relay.port()); })) {
        report.note(name + QStringLiteral(": skipped, could not dial from the namespace"));
        return;
    }
    if (!QTest::qWaitFor(
            [&] { return typing.socket()->drawsTogether() && opponent.socket()->sendsFrames(); },
            20000)) {
        report.checkFailed(name + QStringLiteral(": the boards did not link"));
        return;
    }

    const ZoneMirror &graveyard = *ZoneTable::byCode(QStringLiteral("10"));
    auto *editor = typing.control<QPlainTextEdit>(graveyard.editorName);
    auto *display = opponent.control<QPlainTextEdit>(graveyard.displayName);
    editor->setPlainText(graveyardList());
    if (!QTest::qWaitFor([&] { return display->toPlainText() == editor->toPlainText(); }, 30000)) {
        report.checkFailed(name + QStringLiteral(": the long list never arrived"));
        return;
    }

    QSet<QString> had{editor->toPlainText()};
    QStringList shown;
    QObject::connect(display, &QPlainTextEdit::textChanged, display,
                     [&] { shown.append(display->toPlainText()); });
    editor->moveCursor(QTextCursor::End);
    QElapsedTimer clock;
    clock.start();
    for (int key = 0; key < Keys; ++key) {
        QTest::keyClick(editor, char('a' + key % 26));
        had.insert(editor->toPlainText());
        if (key + 1 < Keys)
            QTest::qWait(KeyIntervalMs);
    }
    const qint64 lastKey = clock.elapsed();
    const QString final = editor->toPlainText();
    const bool arrived = QTest::qWaitFor([&] { return display->toPlainText() == final; }, 60000);
    const double afterLastKey = double(clock.elapsed() - lastKey);
    int strangers = 0;
    for (const QString &text : std::as_const(shown))
        strangers += !had.contains(text);

    const QString target = QStringLiteral("< 1000 ms");
    report.add(name, "final_text_after_last_key", arrived ? afterLastKey : NAN, "ms", baseline,
               target, arrived && afterLastKey < 1000);
    report.add(name, "states_shown", double(shown.size()), "lists", double(Keys));
    report.add(name, "states_never_had", double(strangers), "lists", {}, "0", strangers == 0);
    report.add(name, "list_size", double(final.toUtf8().size()), "bytes");
    unlink(typing, opponent);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1) {
        std::fprintf(stderr, "usage: bench_slow_link\n");
        return 2;
    }
    BenchReport report;
    const Link links[] = {{"slow_link_256kbit_80ms", "256kbit", 80, 0},
                          {"slow_link_1mbit_80ms_1pct_loss", "1mbit", 80, 1}};
    for (const Link &link : links) {
        std::printf("== %s\n", link.name);
        std::fflush(stdout);
        benchLink(link, report);
    }
    return report.checksFailed() ? 1 : 0;
}
