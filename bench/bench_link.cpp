// Link benchmark: two duel boards in one process, linked over loopback as two players would
// be, measured for
//   latency  - how long an edit on one board takes to show on the other, against a bare pair
//              of TCP sockets in the same event loop;
//   burst    - how many messages per second go across without loss;
//   lists    - the cost of one keystroke in a long graveyard list;
//   chat     - the cost of appending to a long chat log;
//   flood    - the longest the event loop stops while one hostile message arrives.
//
// Both boards run in this one thread, as the window tests link them: while one seat edits or
// repaints, the other cannot read, so every figure holds the work of both seats. Two machines
// would do the two halves side by side.
//
// Every figure is printed as a result line (BenchReport.h). Targets are reported as met or
// missed and never make the run fail; only a failed correctness check (a lost or garbled
// message, a link that does not come up) gives a non-zero exit status.
//
// Usage: bench_link [--only latency,burst,lists,chat,flood,linking] [--quick] [--hidden]
//   --quick   a tenth of the samples (for profiling under callgrind)
//   --hidden  leave the windows unshown (by default they are shown, as in the program, so
//             that their repainting takes its share of the event loop)

#include "BenchReport.h"
#include "LinkHarness.h"
#include "board/ZoneTable.h"
#include "boardwindow/BoardWindow.h"
#include "link/PeerLink.h"
#include "trust/Identity.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// ---------------------------------------------------------------------------------------------
// Clock, event loop and statistics

QElapsedTimer g_clock;

qint64 nowNs()
{
    return g_clock.nsecsElapsed();
}

constexpr qint64 NsPerUs = 1000;
constexpr qint64 NsPerMs = 1000 * 1000;

// Runs the event loop without ever blocking until `done` holds; false if `timeoutMs` passed
// first. This is the poll that stops every clock: the moment it returns is the moment the
// condition was first seen after an event-loop pass.
bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    const qint64 deadline = nowNs() + qint64(timeoutMs) * NsPerMs;
    while (!done()) {
        if (nowNs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

// Keeps the event loop running for a while: the pause between two measured edits, during which
// repaints and other deferred work of the previous edit are done.
void pumpFor(qint64 ns)
{
    const qint64 end = nowNs() + ns;
    while (nowNs() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

struct Stats
{
    int count = 0;
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
};

// Nearest-rank percentiles of durations in nanoseconds, reported in microseconds.
Stats statsOf(QVector<qint64> ns)
{
    Stats s;
    s.count = int(ns.size());
    if (ns.isEmpty())
        return s;
    std::sort(ns.begin(), ns.end());
    const auto rank = [&](double p) {
        const qsizetype index = qsizetype(std::ceil(p * double(ns.size()))) - 1;
        return double(ns[std::clamp<qsizetype>(index, 0, ns.size() - 1)]) / NsPerUs;
    };
    s.medianUs = rank(0.5);
    s.p99Us = rank(0.99);
    s.maxUs = double(ns.last()) / NsPerUs;
    return s;
}

struct Options
{
    QStringList only;
    bool quick = false;
    bool show = true;

    bool wants(const char *name) const
    {
        return only.isEmpty() || only.contains(QString::fromLatin1(name));
    }
    // Sample counts shrink tenfold in a quick run.
    int scaled(int count) const { return quick ? std::max(1, count / 10) : count; }
};

// Stamps the moment the event loop tells a watched socket that bytes have arrived, before the
// socket reads them: the arrival of a message, as the receiving program first learns of it.
class ArrivalStamp : public QObject
{
public:
    const QObject *watched = nullptr;
    qint64 first = -1;

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        if (watched && first < 0 && event->type() == QEvent::SockAct) {
            const auto *notifier = qobject_cast<QSocketNotifier *>(receiver);
            if (notifier && notifier->type() == QSocketNotifier::Read) {
                for (const QObject *o = receiver; o; o = o->parent()) {
                    if (o == watched) {
                        first = nowNs();
                        break;
                    }
                }
            }
        }
        return false;
    }
};

// Counts the paint events the windows receive while installed, to show how much repainting
// a run of messages causes; scroll bars are counted apart because the style draws them at
// a much higher cost than a label.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    int scrollBarPaints = 0;

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            if (qobject_cast<QScrollBar *>(receiver))
                ++scrollBarPaints;
        }
        return false;
    }
};

// ---------------------------------------------------------------------------------------------
// Two linked boards

using LinkHarness::textOf;

void setTextOf(QWidget *editor, const QString &text)
{
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        line->setText(text);
    else
        static_cast<QPlainTextEdit *>(editor)->setPlainText(text);
}

using LinkHarness::Seat;

// Two seats, B linked to A as the connections window links them, shown as in the program unless
// the run keeps them hidden; unlinked on destruction with the event loop running, so neither
// side waits out a goodbye from a window that cannot answer. With a folder, both seats keep
// their recovery copies there, as the real program does.
class Table
{
public:
    Seat a;
    Seat b;

    explicit Table(bool show, const QString &recoveryFolder = {})
        : a(recoveryFolder.isEmpty() ? Seat() : Seat(0, recoveryFolder + "/a", false))
        , b(recoveryFolder.isEmpty() ? Seat() : Seat(0, recoveryFolder + "/b", false))
    {
        if (show) {
            a.window->show();
            b.window->show();
            (void)QTest::qWaitForWindowExposed(a.window.get(), 5000);
            (void)QTest::qWaitForWindowExposed(b.window.get(), 5000);
        }
    }
    ~Table()
    {
        if (m_linked)
            LinkHarness::unlink(b, a);
        a.window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool link() { return m_linked = LinkHarness::link(b, a); }

private:
    bool m_linked = false;
};

// A bare pair of connected sockets on loopback, the floor any link in this event loop can reach.
class BarePair
{
public:
    bool open()
    {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return false;
        m_writer.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
        if (!pumpUntil(
                [&] {
                    return m_writer.state() == QAbstractSocket::ConnectedState &&
                           m_server.hasPendingConnections();
                },
                5000))
            return false;
        m_reader = m_server.nextPendingConnection();
        m_writer.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_reader->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(m_reader, &QTcpSocket::readyRead, m_reader,
                         [this] { received += m_reader->readAll().size(); });
        return true;
    }
    void write(const QByteArray &bytes) { m_writer.write(bytes); }
    const QTcpSocket *writer() const { return &m_writer; }
    const QTcpSocket *reader() const { return m_reader; }

    qint64 received = 0;

private:
    QTcpServer m_server;
    QTcpSocket m_writer;
    QTcpSocket *m_reader = nullptr;
};

// ---------------------------------------------------------------------------------------------
// 1. Edit-to-screen latency

// The stages of one measured edit, each a list of durations in nanoseconds.
struct Stages
{
    QVector<qint64> editCall;  // the edit itself, until the call that made it returns
    QVector<qint64> untilSent; // until the sending socket has written the bytes
    QVector<qint64> wire;      // until the receiving socket is told that bytes arrived
    QVector<qint64> readApply; // reading them, and on a board applying them
    QVector<qint64> untilSeen; // until the poll that stops the clock sees the result

    // Medians of each stage, against the same stages of the bare socket pair.
    void report(BenchReport &out, const QString &name, const Stages &bare) const
    {
        const auto row = [&](const char *figure, const QVector<qint64> &mine,
                             const QVector<qint64> &theirs) {
            out.add(name, figure, statsOf(mine).medianUs, "us", statsOf(theirs).medianUs);
        };
        row("edit_call_median", editCall, bare.editCall);
        row("edit_to_sent_median", untilSent, bare.untilSent);
        row("sent_to_arrival_median", wire, bare.wire);
        row("arrival_to_applied_median", readApply, bare.readApply);
        row("applied_to_seen_median", untilSeen, bare.untilSeen);
    }
};

// Stamps the stages of one edit on a link from `sender` to `receiver`.
class StageClock : public QObject
{
public:
    StageClock(const QTcpSocket *sender, const QTcpSocket *receiver)
    {
        m_arrival.watched = receiver;
        qApp->installEventFilter(&m_arrival);
        connect(sender, &QTcpSocket::bytesWritten, this, [this] {
            if (m_sent < 0)
                m_sent = nowNs();
        });
        // Connected after the reader's own handler, so this runs once the bytes are read and
        // applied.
        connect(receiver, &QTcpSocket::readyRead, this, [this] {
            if (m_applied < 0)
                m_applied = nowNs();
        });
    }
    ~StageClock() override { qApp->removeEventFilter(&m_arrival); }

    void reset()
    {
        editReturned = m_sent = m_applied = -1;
        m_arrival.first = -1;
    }
    void addTo(Stages &stages, qint64 start, qint64 seen) const
    {
        if (editReturned < 0 || m_sent < 0 || m_arrival.first < 0 || m_applied < 0)
            return;
        stages.editCall.append(editReturned - start);
        stages.untilSent.append(m_sent - editReturned);
        stages.wire.append(m_arrival.first - m_sent);
        stages.readApply.append(m_applied - m_arrival.first);
        stages.untilSeen.append(seen - m_applied);
    }

    qint64 editReturned = -1;

private:
    ArrivalStamp m_arrival;
    qint64 m_sent = -1;
    qint64 m_applied = -1;
};

// One burst of edits sent on a schedule (`gapNs` apart, 0 = back to back without the event
// loop running in between); each edit is timed from just before it is made to the first
// event-loop pass after which its own arrival is seen.
QVector<qint64> timedBurst(int edits, qint64 gapNs, const std::function<void(int)> &send,
                           const std::function<bool(int)> &arrived, bool *complete)
{
    QVector<qint64> sentAt(edits, -1);
    QVector<qint64> latency(edits, -1);
    int sent = 0;
    int seen = 0;
    const qint64 start = nowNs();
    const qint64 deadline = start + 5000 * NsPerMs;
    while (seen < edits && nowNs() < deadline) {
        while (sent < edits && nowNs() >= start + sent * gapNs) {
            sentAt[sent] = nowNs();
            send(sent);
            ++sent;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const qint64 now = nowNs();
        for (int k = 0; k < sent; ++k) {
            if (latency[k] < 0 && arrived(k)) {
                latency[k] = now - sentAt[k];
                ++seen;
            }
        }
    }
    *complete = seen == edits;
    latency.removeAll(-1);
    return latency;
}

void reportLatency(BenchReport &report, const QString &name, const Stats &program,
                   const Stats &bare)
{
    report.add(name, "median", program.medianUs, "us", bare.medianUs, "<= 2x bare socket",
               program.medianUs <= 2.0 * bare.medianUs);
    report.add(name, "p99", program.p99Us, "us", bare.p99Us, "< 1000 us", program.p99Us < 1000.0);
    // Linux holds a delayed acknowledgement at least 40 ms; an edit stuck behind one shows
    // up as a maximum of 40 ms or more.
    report.add(name, "max", program.maxUs, "us", bare.maxUs, "< 40000 us (no delayed ACK)",
               program.maxUs < 40000.0);
    report.add(name, "samples", double(program.count), "edits", double(bare.count));
}

// Edits one zone editor on seat A `samples` times, 1 ms apart, each timed until seat B's
// display holds the new text; bare-socket samples of the same bytes alternate with them, so
// that both see the same machine state.
void singleEdits(BenchReport &report, const Options &options, Table &table, BarePair &bare,
                 const QString &editorName, const QString &name,
                 const std::function<QString(int)> &textFor)
{
    const ZoneMirror *zone = ZoneTable::byEditor(editorName);
    QWidget *editor = table.a.control(editorName);
    QWidget *display = table.b.control(zone->displayName);
    const int samples = options.scaled(2000);
    const int warmUp = 100;
    QVector<qint64> programNs;
    QVector<qint64> bareNs;
    int lost = 0;

    // Where an edit's time goes: stamps when the edit call returns, when the sending socket
    // has handed the bytes to the system, when the receiving socket is told of them, and when
    // the receiver has read (and, for the board, applied) them.
    Stages programStages;
    Stages bareStages;
    StageClock programClock(LinkHarness::linkSocket(table.a.socket()),
                            LinkHarness::linkSocket(table.b.socket()));
    StageClock bareClock(bare.writer(), bare.reader());
    // One edit on either link, timed until `arrived` holds; warm-up edits are not counted.
    const auto measure = [&](StageClock &clock, QVector<qint64> &times, Stages &stages,
                             bool counted, const std::function<void()> &edit,
                             const std::function<bool()> &arrived) {
        clock.reset();
        const qint64 t0 = nowNs();
        edit();
        clock.editReturned = nowNs();
        const bool ok = pumpUntil(arrived, 2000);
        const qint64 t1 = nowNs();
        if (!ok) {
            ++lost;
        } else if (counted) {
            times.append(t1 - t0);
            clock.addTo(stages, t0, t1);
        }
        pumpFor(NsPerMs);
    };
    for (int i = -warmUp; i < samples; ++i) {
        const QString text = textFor(i + warmUp);
        // The same bytes on both links: code, text and the frame's NUL.
        const QByteArray wire = zone->code.toUtf8() + text.toUtf8() + '\0';
        const qint64 expected = bare.received + wire.size();
        const auto measureBare = [&] {
            measure(
                bareClock, bareNs, bareStages, i >= 0, [&] { bare.write(wire); },
                [&] { return bare.received >= expected; });
        };
        const auto measureProgram = [&] {
            measure(
                programClock, programNs, programStages, i >= 0, [&] { setTextOf(editor, text); },
                [&] { return textOf(display) == text; });
        };
        if (i % 2 == 0) {
            measureBare();
            measureProgram();
        } else {
            measureProgram();
            measureBare();
        }
    }
    if (lost)
        report.checkFailed(name + QStringLiteral(": %1 edits never arrived").arg(lost));
    reportLatency(report, name, statsOf(programNs), statsOf(bareNs));
    programStages.report(report, name + QStringLiteral("_stages"), bareStages);
}

void benchLatency(BenchReport &report, const Options &options)
{
    Table table(options.show);
    if (!table.link()) {
        report.checkFailed(QStringLiteral("latency: the two boards did not link"));
        return;
    }
    BarePair bare;
    if (!bare.open()) {
        report.checkFailed(QStringLiteral("latency: the bare socket pair did not connect"));
        return;
    }

    const auto noDelay = [](const Seat &seat) {
        return LinkHarness::socketOption(LinkHarness::linkSocket(seat.socket()), IPPROTO_TCP,
                                         TCP_NODELAY) > 0;
    };
    const bool noDelayBoth = noDelay(table.a) && noDelay(table.b);
    report.add("latency", "tcp_nodelay_both_seats", noDelayBoth, "flag", {}, "1", noDelayBoth);

    // Single edits, 1 ms apart: a multi-line zone editor (QPlainTextEdit) to a label, and the
    // life points (QLineEdit) to a label. Then the same while both seats keep their recovery
    // copies, written at most once a second off the keystroke's path: the figures should match
    // the first ones within noise.
    const auto singleEditsOn = [&](Table &on, const QString &suffix) {
        singleEdits(report, options, on, bare, QStringLiteral("txtP1Monster3"),
                    QStringLiteral("latency_single") + suffix, [](int i) {
                        return QStringLiteral("Card %1").arg(i, 5, 10, QLatin1Char('0'));
                    });
        singleEdits(report, options, on, bare, QStringLiteral("txtP1LP"),
                    QStringLiteral("latency_single_lp") + suffix,
                    [](int i) { return QString::number(10000 + i % 80000); });
    };
    singleEditsOn(table, QString());
    {
        QTemporaryDir folder;
        Table keeping(options.show, folder.path());
        if (keeping.link())
            singleEditsOn(keeping, QStringLiteral("_recovering"));
        else
            report.checkFailed(QStringLiteral("latency: the recovering boards did not link"));
    }

    // Bursts of ten edits to ten zones, each timed to its own arrival.
    QVector<QWidget *> editors;
    QVector<QLabel *> displays;
    for (const char *kind : {"Trap", "Monster"}) {
        for (int zone = 1; zone <= 5; ++zone) {
            const QString name = QStringLiteral("txtP1%1%2").arg(QLatin1String(kind)).arg(zone);
            editors.append(table.a.control(name));
            displays.append(table.b.control<QLabel>(ZoneTable::byEditor(name)->displayName));
        }
    }
    const int burstSize = int(editors.size());
    struct Variant
    {
        const char *name;
        qint64 gapNs;
    };
    const Variant variants[] = {{"latency_burst_b2b", 0}, {"latency_burst_250us", 250 * NsPerUs}};
    int burstNumber = 0;
    for (const Variant &variant : variants) {
        const int bursts = options.scaled(200);
        const int warmUp = 10;
        QVector<qint64> programNs;
        QVector<qint64> bareNs;
        // From the start of a burst's first edit to the return of its last one.
        QVector<qint64> programSpans;
        QVector<qint64> bareSpans;
        int incomplete = 0;
        for (int round = -warmUp; round < bursts; ++round) {
            const int id = burstNumber++;
            QStringList texts;
            for (int k = 0; k < burstSize; ++k)
                texts.append(QStringLiteral("B%1 z%2").arg(id, 5, 10, QLatin1Char('0')).arg(k));
            const QByteArray bareMessage =
                QByteArrayLiteral("13") + texts.first().toUtf8() + '\0'; // all the same size
            const qint64 bareBase = bare.received;
            // One burst on either link; `spans` gets the time from the start of its first edit
            // to the return of its last one.
            const auto run = [&](QVector<qint64> &times, QVector<qint64> &spans,
                                 const std::function<void(int)> &edit,
                                 const std::function<bool(int)> &arrived) {
                bool complete = false;
                qint64 spanStart = 0;
                const auto ns = timedBurst(
                    burstSize, variant.gapNs,
                    [&](int k) {
                        if (k == 0)
                            spanStart = nowNs();
                        edit(k);
                        if (k == burstSize - 1 && round >= 0)
                            spans.append(nowNs() - spanStart);
                    },
                    arrived, &complete);
                if (!complete)
                    ++incomplete;
                else if (round >= 0)
                    times += ns;
                pumpFor(NsPerMs);
            };
            const auto runBare = [&] {
                run(
                    bareNs, bareSpans, [&](int) { bare.write(bareMessage); },
                    [&](int k) {
                        return bare.received >= bareBase + (k + 1) * bareMessage.size();
                    });
            };
            const auto runProgram = [&] {
                run(
                    programNs, programSpans, [&](int k) { setTextOf(editors[k], texts[k]); },
                    [&](int k) { return displays[k]->text() == texts[k]; });
            };
            if (round % 2 == 0) {
                runBare();
                runProgram();
            } else {
                runProgram();
                runBare();
            }
        }
        if (incomplete)
            report.checkFailed(QStringLiteral("%1: %2 bursts did not arrive whole")
                                   .arg(QString::fromLatin1(variant.name))
                                   .arg(incomplete));
        reportLatency(report, QString::fromLatin1(variant.name), statsOf(programNs),
                      statsOf(bareNs));
        if (variant.gapNs == 0) {
            // Nothing is sent before the last edit returns, so this is the part of every
            // edit's wait spent making the edits themselves.
            report.add(QString::fromLatin1(variant.name), "making_all_edits_median",
                       statsOf(programSpans).medianUs, "us", statsOf(bareSpans).medianUs);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// 2. Burst without loss

// Runs 10,000 edits over all sixteen zones and 1,000 chat lines (one after every tenth edit)
// through seat A. `yieldEvery` is how many messages are sent between two event-loop passes;
// 0 sends all of them before the event loop runs at all.
void runBurst(BenchReport &report, const Options &options, const QString &name, int yieldEvery)
{
    Table table(options.show);
    if (!table.link()) {
        report.checkFailed(name + QStringLiteral(": the two boards did not link"));
        return;
    }
    const auto zones = ZoneTable::all();
    const int zoneCount = int(zones.size());
    const int editCount = options.scaled(10000);
    const int chatCount = editCount / 10;

    // Every edit changes its zone's text (an unchanged line edit would send nothing): a zone
    // comes round every 16 edits and its value follows its visit number.
    QVector<QPair<QWidget *, QString>> edits; // editor, text
    edits.reserve(editCount);
    QVector<QString> finalText(zoneCount);
    for (int e = 0; e < editCount; ++e) {
        const int z = (e * 5) % zoneCount; // 5 is prime to 16: each round visits every zone
        const int visit = e / zoneCount;
        const ZoneMirror &zone = zones[z];
        QString text;
        if (zone.editorName == QLatin1String("txtP1Hand"))
            text = QString::number(visit % 10);
        else if (zone.editorName == QLatin1String("txtP1Deck"))
            text = QString::number(visit % 1000);
        else if (zone.editorName == QLatin1String("txtP1LP"))
            text = QString::number(8000 - visit);
        else if (visit % 4 == 0)
            text = QStringLiteral("Card %1\nCard %2 (set)").arg(e).arg(e + 1);
        else
            text = QStringLiteral("Card %1").arg(e);
        edits.append({table.a.control(zone.editorName), text});
        finalText[z] = text;
    }
    QVector<QWidget *> displays;
    for (const ZoneMirror &zone : zones)
        displays.append(table.b.control(zone.displayName));

    auto *nameBox = table.a.control<QLineEdit>(QStringLiteral("txtName"));
    auto *messageBox = table.a.control<QLineEdit>(QStringLiteral("txtMessage"));
    auto *sendButton = table.a.control<QPushButton>(QStringLiteral("cmdSend"));
    auto *chatB = table.b.control<QPlainTextEdit>(QStringLiteral("txtChat"));
    nameBox->setText(QStringLiteral("Ann"));
    QStringList chatLines;
    for (int c = 0; c < chatCount; ++c)
        chatLines.append(
            QStringLiteral("Ann: line %1 of the burst").arg(c, 4, 10, QLatin1Char('0')));
    pumpFor(20 * NsPerMs);
    table.b.platform.beeps = 0;
    const int chatBlocksBefore = chatB->document()->blockCount();

    PaintCounter paintCounter;
    qApp->installEventFilter(&paintCounter);
    qint64 inEventLoop = 0;
    const auto yieldIfDue = [&](int sentSoFar) {
        if (yieldEvery > 0 && sentSoFar % yieldEvery == 0) {
            const qint64 t = nowNs();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            inEventLoop += nowNs() - t;
        }
    };

    const qint64 start = nowNs();
    int sent = 0;
    int chatSent = 0;
    for (int e = 0; e < editCount; ++e) {
        setTextOf(edits[e].first, edits[e].second);
        yieldIfDue(++sent);
        if (e % 10 == 9 && chatSent < chatCount) {
            messageBox->setText(chatLines[chatSent].mid(5)); // without the "Ann: " prefix
            sendButton->click();
            ++chatSent;
            yieldIfDue(++sent);
        }
    }
    const qint64 sendsDone = nowNs();
    // Each chat entry adds two blocks (the line and an empty line after it).
    const int chatBlocksExpected = chatBlocksBefore + 2 * chatSent;
    const bool arrived = pumpUntil(
        [&] {
            if (chatB->document()->blockCount() < chatBlocksExpected)
                return false;
            for (int z = 0; z < zoneCount; ++z) {
                if (textOf(displays[z]) != finalText[z])
                    return false;
            }
            return true;
        },
        30000);
    const qint64 end = nowNs();
    qApp->removeEventFilter(&paintCounter);
    if (!arrived)
        report.checkFailed(name + QStringLiteral(": B never showed every final value"));

    // Correctness: every zone as A has it, every chat line once and in order.
    int zonesWrong = 0;
    for (int z = 0; z < zoneCount; ++z) {
        const QString onA = textOf(table.a.control(zones[z].editorName));
        if (textOf(displays[z]) != onA || onA != finalText[z]) {
            ++zonesWrong;
            report.note(QStringLiteral("%1: zone %2 shows \"%3\" on B, \"%4\" on A")
                            .arg(name, zones[z].displayName, textOf(displays[z]), onA));
        }
    }
    QStringList chatOnB = chatB->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const bool chatInOrder = chatOnB == chatLines.mid(0, chatSent);
    if (zonesWrong)
        report.checkFailed(name + QStringLiteral(": %1 zones differ").arg(zonesWrong));
    if (!chatInOrder)
        report.checkFailed(name + QStringLiteral(": B's chat holds %1 lines, %2 expected in order")
                                      .arg(chatOnB.size())
                                      .arg(chatSent));
    if (table.b.platform.beeps != chatSent)
        report.checkFailed(name + QStringLiteral(": B beeped %1 times for %2 chat lines")
                                      .arg(table.b.platform.beeps)
                                      .arg(chatSent));

    const double seconds = double(end - start) / 1e9;
    const double rate = double(sent) / seconds;
    report.add(name, "messages_per_second", rate, "msg/s", {}, ">= 20000 msg/s", rate >= 20000.0);
    report.add(name, "messages", double(sent), "msg");
    report.add(name, "sending_time", double(sendsDone - start) / NsPerMs, "ms");
    report.add(name, "first_send_to_last_applied", seconds * 1000.0, "ms");
    // Where the sending phase went: the calls that make the edits and send them, against the
    // event-loop passes between them (reading, applying and repainting on both seats).
    report.add(name, "event_loop_time_while_sending", double(inEventLoop) / NsPerMs, "ms");
    report.add(name, "paints_per_message", double(paintCounter.paints) / sent, "paints");
    report.add(name, "scroll_bar_paints_per_message", double(paintCounter.scrollBarPaints) / sent,
               "paints");
    report.add(name, "all_arrived_intact", double(arrived && zonesWrong == 0 && chatInOrder),
               "flag", {}, "1", arrived && zonesWrong == 0 && chatInOrder);
}

void benchBurst(BenchReport &report, const Options &options)
{
    // As a player types: the event loop runs after every message.
    runBurst(report, options, QStringLiteral("burst_loop_each"), 1);
    // As fast as the sending code alone allows: nothing runs until every message is queued.
    runBurst(report, options, QStringLiteral("burst_tight"), 0);
}

// ---------------------------------------------------------------------------------------------
// 3. Long lists

void benchLists(BenchReport &report, const Options &options)
{
    Table table(options.show);
    if (!table.link()) {
        report.checkFailed(QStringLiteral("lists: the two boards did not link"));
        return;
    }
    auto *editor = table.a.control<QPlainTextEdit>(QStringLiteral("txtP1Grave"));
    auto *display = table.b.control<QPlainTextEdit>(QStringLiteral("lblP2Grave"));
    QScrollBar *bar = display->verticalScrollBar();
    // A hidden box is never laid out, so its scroll bar has no range to be at the end of.
    const auto atEnd = [&] {
        return !options.show || (bar->maximum() > 0 && bar->value() == bar->maximum());
    };

    const int sizes[] = {100, 500, 1000, 2000};
    const int keystrokes = options.scaled(200);
    QMap<int, Stats> bySize;
    for (const int lines : sizes) {
        QStringList list;
        for (int k = 1; k <= lines; ++k)
            list.append(
                QStringLiteral("Card %1 sent to the graveyard").arg(k, 4, 10, QLatin1Char('0')));
        editor->setPlainText(list.join(QLatin1Char('\n')));
        if (!pumpUntil([&] { return display->toPlainText() == editor->toPlainText() && atEnd(); },
                       10000)) {
            report.checkFailed(
                QStringLiteral("lists: the %1-line list never arrived whole").arg(lines));
            return;
        }
        editor->moveCursor(QTextCursor::End);
        pumpFor(5 * NsPerMs);

        // Typing card names at the end of the list: twenty letters, then Enter for the next.
        QVector<qint64> ns;
        int wrong = 0;
        int lost = 0;
        const int warmUp = 10;
        for (int k = -warmUp; k < keystrokes; ++k) {
            const int step = k + warmUp;
            const int expected = editor->document()->characterCount() + 1;
            const qint64 t0 = nowNs();
            if (step % 21 == 20)
                QTest::keyClick(editor, Qt::Key_Return);
            else
                QTest::keyClick(editor, char('a' + step % 21));
            const bool ok = pumpUntil(
                [&] { return display->document()->characterCount() == expected && atEnd(); }, 5000);
            const qint64 t1 = nowNs();
            if (editor->document()->characterCount() != expected) {
                report.checkFailed(QStringLiteral("lists: a keystroke did not reach the editor"));
                return;
            }
            if (!ok)
                ++lost;
            else if (k >= 0)
                ns.append(t1 - t0);
            if (display->toPlainText() != editor->toPlainText())
                ++wrong;
            pumpFor(NsPerMs);
        }
        if (lost || wrong)
            report.checkFailed(QStringLiteral("lists at %1 lines: %2 keystrokes never shown, %3 "
                                              "shown with different text")
                                   .arg(lines)
                                   .arg(lost)
                                   .arg(wrong));
        const Stats s = statsOf(ns);
        bySize.insert(lines, s);
        const QString name = QStringLiteral("lists_%1_lines").arg(lines);
        const QString target = lines == 2000 ? QStringLiteral("< 5000 us") : QString();
        report.add(name, "keystroke_median", s.medianUs, "us", {}, target, s.medianUs < 5000.0);
        report.add(name, "keystroke_p99", s.p99Us, "us", {}, target, s.p99Us < 5000.0);
    }
    const double at1000 = bySize.value(1000).medianUs;
    const double at2000 = bySize.value(2000).medianUs;
    // The list doubles from 1,000 to 2,000 lines; a keystroke's cost should at most double.
    const double growth = at1000 > 0 ? at2000 / at1000 : std::nan("");
    report.add("lists_growth", "median_2000_to_1000_lines", growth, "x", {}, "<= 2.0x",
               growth <= 2.0);
}

// ---------------------------------------------------------------------------------------------
// 4. Long chat

struct Around
{
    int n;
    int from;
    int to;
};
// The entries sampled around each N: the medians are taken over these.
const Around ChatPoints[] = {{10, 5, 15}, {1000, 980, 1020}, {10000, 9980, 10020}};

struct ChatSamples
{
    QMap<int, QVector<qint64>> local;
    QMap<int, QVector<qint64>> repaint;
    QMap<int, QVector<qint64>> received;
};

// Fills a fresh pair of chat logs to just over 10,000 entries, sending every line from seat
// A, and times the sampled entries: the send on A (which appends to A's log) and, on B, the
// time from the line's arrival to its being applied.
void chatSeries(BenchReport &report, const Options &options, ChatSamples &samples)
{
    Table table(options.show);
    if (!table.link()) {
        report.checkFailed(QStringLiteral("chat: the two boards did not link"));
        return;
    }
    auto *nameBox = table.a.control<QLineEdit>(QStringLiteral("txtName"));
    auto *messageBox = table.a.control<QLineEdit>(QStringLiteral("txtMessage"));
    auto *sendButton = table.a.control<QPushButton>(QStringLiteral("cmdSend"));
    auto *chatA = table.a.control<QPlainTextEdit>(QStringLiteral("txtChat"));
    auto *chatB = table.b.control<QPlainTextEdit>(QStringLiteral("txtChat"));
    QTcpSocket *socketB = LinkHarness::linkSocket(table.b.socket());
    if (!socketB) {
        report.checkFailed(QStringLiteral("chat: seat B has no link socket"));
        return;
    }
    nameBox->setText(QStringLiteral("Ann"));

    // Connected after the peer socket's own reader, so this runs once B has applied what the
    // read brought.
    qint64 appliedOnB = -1;
    QObject::connect(socketB, &QTcpSocket::readyRead, socketB, [&] { appliedOnB = nowNs(); });
    ArrivalStamp arrival;
    arrival.watched = socketB;
    qApp->installEventFilter(&arrival);

    const int lastEntry = ChatPoints[2].to;
    int lost = 0;
    table.b.platform.beeps = 0;
    const auto bCaughtUp = [&](int entries) {
        return table.b.platform.beeps >= entries;
    };

    for (int entry = 1; entry <= lastEntry; ++entry) {
        messageBox->setText(QStringLiteral("entry %1 of the long chat").arg(entry));
        const Around *point = nullptr;
        for (const Around &p : ChatPoints) {
            if (entry >= p.from && entry <= p.to)
                point = &p;
        }
        if (!point) {
            sendButton->click();
            if (entry % 10 == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            continue;
        }
        // A sampled entry: both logs hold exactly entry - 1 entries and nothing is in flight.
        if (!pumpUntil([&] { return bCaughtUp(entry - 1); }, 10000)) {
            report.checkFailed(QStringLiteral("chat: B fell behind before entry %1").arg(entry));
            break;
        }
        pumpFor(NsPerMs);
        arrival.first = -1;
        appliedOnB = -1;
        const qint64 t0 = nowNs();
        sendButton->click();
        const qint64 t1 = nowNs();
        samples.local[point->n].append(t1 - t0);
        if (options.show) {
            const qint64 p0 = nowNs();
            chatA->viewport()->repaint();
            samples.repaint[point->n].append(nowNs() - p0);
        }
        if (!pumpUntil([&] { return bCaughtUp(entry) && appliedOnB >= 0; }, 5000) ||
            arrival.first < 0) {
            ++lost;
            continue;
        }
        samples.received[point->n].append(appliedOnB - arrival.first);
    }
    qApp->removeEventFilter(&arrival);
    (void)pumpUntil([&] { return bCaughtUp(lastEntry); }, 10000);
    if (lost)
        report.checkFailed(QStringLiteral("chat: %1 sampled entries not timed on B").arg(lost));
    const int entriesOnA = (chatA->document()->blockCount() - 1) / 2;
    const int entriesOnB = (chatB->document()->blockCount() - 1) / 2;
    if (entriesOnA != lastEntry || entriesOnB != lastEntry)
        report.checkFailed(QStringLiteral("chat: logs hold %1 (A) and %2 (B) entries, %3 sent")
                               .arg(entriesOnA)
                               .arg(entriesOnB)
                               .arg(lastEntry));
}

void benchChat(BenchReport &report, const Options &options)
{
    // Several fresh series, so that each median is taken over enough appends.
    ChatSamples samples;
    const int series = options.quick ? 1 : 4;
    for (int i = 0; i < series; ++i)
        chatSeries(report, options, samples);
    const auto reportSide = [&](const QString &name, const QMap<int, QVector<qint64>> &samples,
                                bool withTarget) {
        const double at10 = statsOf(samples.value(10)).medianUs;
        for (const Around &p : ChatPoints) {
            const double median = statsOf(samples.value(p.n)).medianUs;
            report.add(name, QStringLiteral("append_%1_median").arg(p.n), median, "us",
                       p.n == 10 ? std::nullopt : std::optional<double>(at10));
        }
        const double at10000 = statsOf(samples.value(10000)).medianUs;
        const double growth = at10 > 0 ? at10000 / at10 : std::nan("");
        report.add(name, "append_10000th_to_10th", growth, "x", {},
                   withTarget ? "<= 1.5x" : QString(), growth <= 1.5);
        report.add(name, "samples_per_point", double(samples.value(10000).size()), "appends");
    };
    reportSide(QStringLiteral("chat_local"), samples.local, true);
    reportSide(QStringLiteral("chat_received"), samples.received, true);
    if (options.show)
        reportSide(QStringLiteral("chat_local_repaint"), samples.repaint, false);
}

// ---------------------------------------------------------------------------------------------
// flood: one message a stranger could send, and how long the window stops answering meanwhile:
// the longest gap between two turns of the event loop, seen by a timer that asks for one every
// millisecond (how long a repaint, a keep-alive or a keystroke would have waited).
void benchFlood(BenchReport &report, const Options &options)
{
    QByteArray spaced(1000 * 1000, 'F');
    for (qsizetype i = 7; i < spaced.size(); i += 8)
        spaced[i] = ' ';
    const std::tuple<const char *, QByteArray, bool> cases[] = {
        {"unbroken_chat_line_framed", QByteArray(1000 * 1000, 'F'), true},
        {"unbroken_chat_line_plain", QByteArray(1000 * 1000, 'F'), false},
        {"spaced_chat_line_framed", spaced, true}};
    for (const auto &[figure, payload, framed] : cases) {
        Seat seat;
        if (options.show)
            (void)seat.showActive();
        LinkHarness::PlainPeer peer;
        if (!(framed ? LinkHarness::framedLink(seat, peer) : LinkHarness::plainLink(seat, peer)))
            return report.checkFailed(QStringLiteral("flood: the peer did not link"));
        const qsizetype before = seat.text(QStringLiteral("txtChat")).size();
        QTimer turns;
        turns.setTimerType(Qt::PreciseTimer);
        qint64 last = nowNs(), longest = 0;
        QObject::connect(&turns, &QTimer::timeout, [&] {
            longest = std::max(longest, nowNs() - last);
            last = nowNs();
        });
        turns.start(1);
        peer.send("17" + payload + (framed ? QByteArray(1, '\0') : QByteArray()));
        if (!pumpUntil([&] { return seat.text(QStringLiteral("txtChat")).size() > before; },
                       120000))
            report.checkFailed(QStringLiteral("flood: %1 never reached the chat log").arg(figure));
        pumpFor(300 * NsPerMs);
        const double stallMs = double(longest) / NsPerMs;
        report.add("flood_1mb", figure + QStringLiteral("_longest_stall"), stallMs, "ms", {},
                   "< 50 ms", stallMs < 50.0);
    }
}

// How long two copies take from the dial to both seeing the other's whole half begin, on
// loopback: unencrypted (copies without an identity) against TLS (each with its own).
double medianLinkingMs(int links, const Identity *dialling, const Identity *accepting)
{
    TableProtocol listening(0), dialler(0);
    if (accepting)
        listening.setIdentity(accepting->certificate(), accepting->privateKey());
    if (dialling)
        dialler.setIdentity(dialling->certificate(), dialling->privateKey());
    bool listenerLinked = false, diallerLinked = false;
    QObject::connect(&listening, &TableProtocol::copyLinked, [&] { listenerLinked = true; });
    QObject::connect(&dialler, &TableProtocol::copyLinked, [&] { diallerLinked = true; });
    QVector<qint64> ns;
    for (int i = 0; i < links; ++i) {
        listenerLinked = diallerLinked = false;
        if (!listening.listen())
            return -1;
        const qint64 start = nowNs();
        dialler.dial(QStringLiteral("127.0.0.1"), listening.link().localPort());
        if (!pumpUntil([&] { return listenerLinked && diallerLinked; }, 10000))
            return -1;
        ns.append(nowNs() - start);
        dialler.leave();
        listening.leave();
        pumpFor(20 * NsPerMs);
    }
    return statsOf(ns).medianUs / 1000.0;
}

void benchLinking(BenchReport &report, const Options &options)
{
    QTemporaryDir folders;
    const Identity dialling = Identity::loadOrCreate(folders.filePath(QStringLiteral("a")));
    const Identity accepting = Identity::loadOrCreate(folders.filePath(QStringLiteral("b")));
    if (!dialling.isValid() || !accepting.isValid())
        return report.checkFailed(QStringLiteral("linking: no identity could be made"));
    const int links = options.scaled(100);
    const double plainMs = medianLinkingMs(links, nullptr, nullptr);
    const double tlsMs = medianLinkingMs(links, &dialling, &accepting);
    if (plainMs < 0 || tlsMs < 0)
        return report.checkFailed(QStringLiteral("linking: two copies did not link"));
    report.add("linking_loopback", "unencrypted_median", plainMs, "ms");
    report.add("linking_loopback", "tls_median", tlsMs, "ms", plainMs);
    report.add("linking_loopback", "time_tls_adds", tlsMs - plainMs, "ms");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Options options;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--only") && i + 1 < args.size()) {
            options.only = args[++i].split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (arg == QLatin1String("--quick")) {
            options.quick = true;
        } else if (arg == QLatin1String("--hidden")) {
            options.show = false;
        } else {
            std::fprintf(stderr, "usage: bench_link [--only "
                                 "latency,burst,lists,chat,flood,linking] [--quick] [--hidden]\n");
            return 2;
        }
    }

    g_clock.start();
    BenchReport report;
    const std::pair<const char *, void (*)(BenchReport &, const Options &)> benches[] = {
        {"latency", benchLatency}, {"burst", benchBurst}, {"lists", benchLists},
        {"chat", benchChat},       {"flood", benchFlood}, {"linking", benchLinking}};
    for (const auto &[name, run] : benches) {
        if (!options.wants(name))
            continue;
        const qint64 start = nowNs();
        run(report, options);
        std::printf("== %s took %.1f s\n", name, double(nowNs() - start) / 1e9);
        std::fflush(stdout);
    }
    std::printf("\nbench_link: %s run, windows %s, total %.1f s\n",
                options.quick ? "quick" : "full", options.show ? "shown" : "hidden",
                double(nowNs()) / 1e9);
    return report.checksFailed() ? 1 : 0;
}
