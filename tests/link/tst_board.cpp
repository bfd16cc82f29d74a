// The duel board window: its controls and their layout, keyboard handling, and how the zones
// travel between two copies over real loopback sockets. Two windows in one process link as
// two players would; plain TCP peers that speak only the message table show the exact bytes
// the board sends and let the tests feed it any message they like.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "board/ZoneTable.h"
#include "boardwindow/BoardWindow.h"
#include "boardwindow/OpponentMarks.h"
#include "link/PeerLink.h"
#include "platform/QtPlatformServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

using namespace LinkHarness;

QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("<no focus>");
}

// Select all, then Backspace: what a player does to empty a box.
void clearByKeyboard(QWidget *editor)
{
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Backspace);
}

bool isMultiLineEditor(const QString &editorName)
{
    return editorName != QLatin1String("txtP1Hand") && editorName != QLatin1String("txtP1LP") &&
           editorName != QLatin1String("txtP1Deck");
}

// What a player would type into each zone editor: a single digit for the hand count, at most
// three characters for the deck count.
QString sampleText(const QString &editorName)
{
    if (editorName == QLatin1String("txtP1Hand"))
        return QStringLiteral("7");
    if (editorName == QLatin1String("txtP1Deck"))
        return QStringLiteral("40");
    if (editorName == QLatin1String("txtP1LP"))
        return QStringLiteral("7500");
    return QStringLiteral("Dark Magician");
}

QGroupBox *frame(const BoardWindow &window, const QString &name, int index)
{
    const QList<QGroupBox *> frames = window.findChildren<QGroupBox *>(name);
    if (index < 0)
        return frames.size() == 1 ? frames.first() : nullptr;
    for (QGroupBox *candidate : frames) {
        if (candidate->property("index").isValid() && candidate->property("index").toInt() == index)
            return candidate;
    }
    return nullptr;
}

QRect rectIn(const QWidget *window, const QWidget *widget)
{
    return {widget->mapTo(window, QPoint(0, 0)), widget->size()};
}

// Whether the player sees (and clicks) `widget` at its centre, not something lying over it.
bool isOnTop(const QWidget *window, const QWidget *widget)
{
    const QWidget *hit = window->childAt(rectIn(window, widget).center());
    return hit && (hit == widget || widget->isAncestorOf(hit));
}

QByteArray typedStream(const QByteArray &code, const QByteArray &base, const QByteArray &typed)
{
    QByteArray stream;
    for (int length = 1; length <= typed.size(); ++length)
        stream += code + base + typed.left(length);
    return stream;
}

const QStringList TabOrder = {
    "cmdConnections", "lblP2FusionDeck", "lblP2Grave",    "txtP1FieldCard", "txtP1Monster1",
    "txtP1Monster2",  "txtP1Monster3",   "txtP1Monster4", "txtP1Grave",     "txtP1FusionDeck",
    "txtP1Trap1",     "txtP1Trap2",      "txtP1Trap3",    "txtP1Trap4",     "txtP1Trap5",
    "txtP1Deck",      "txtName",         "txtMessage",    "txtValue",       "txtP1Monster5",
    "txtP1LP",        "txtP1Hand",       "txtChat",       "cmdSubtract",    "cmdAdd",
    "cmdSend",        "cmdProb"};

// One message from a plain peer and the control whose text shows that it was applied.
struct Step
{
    QByteArray message;
    QString control;
    QString expected;
};

// One move of a marking scenario, after which exactly the captions `marked` (by accessible
// name) show the mark.
struct MarkStep
{
    enum Kind
    {
        Receive,  // the plain peer sends `what`
        TypeOwn,  // the player types `what` into the own Monster Card Zone 3
        Later,    // the clock moves on by `ms`
        SwitchOff // "Mark the opponent's changes" is unticked
    } kind;
    QByteArray what;
    qint64 ms;
    QStringList marked;
};

// The frame and label captions that show the mark's colour anywhere.
QStringList markedCaptions(const QWidget *window)
{
    QStringList marked;
    for (QWidget *caption : window->findChildren<QWidget *>()) {
        const QString name = caption->accessibleName();
        if (!name.endsWith(QLatin1String(" frame")) && !name.endsWith(QLatin1String(" caption")))
            continue;
        const QImage picture = caption->grab().toImage();
        for (int y = 0; y < picture.height() && !marked.contains(name); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (picture.pixel(x, y) == OpponentMarks::MarkBackground.rgb()) {
                    marked.append(name);
                    break;
                }
            }
        }
    }
    marked.sort();
    return marked;
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)
Q_DECLARE_METATYPE(QList<MarkStep>)

class TestBoard : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void zoneEditsAppearOnlyInMatchingPeerDisplay_data();
    void zoneEditsAppearOnlyInMatchingPeerDisplay();

    void zoneFramesMirrorAcrossTheBoard_data();
    void zoneFramesMirrorAcrossTheBoard();
    void everyCaptionOnceInEachHalf();
    void windowClientArea();
    void oneLineBoxesRepaintOnlyThemselves();

    void initialValues_data();
    void initialValues();
    void controlKinds_data();
    void controlKinds();
    void lengthLimits_data();
    void lengthLimits();
    void readOnlyBoxesIgnoreTyping_data();
    void readOnlyBoxesIgnoreTyping();
    void focusStartsOnConnectionsButton();
    void tabWalksTheOrderAndWraps();
    void accessKeysPressButtons_data();
    void accessKeysPressButtons();

    void announcementBoxIsPlainAndDoesNotBlock();

    void receivedMessagesApply_data();
    void receivedMessagesApply();
    void announcementIsShownWithProgramTitle();
    void disconnectedStatusKeepsLinkUp();
    void unknownCodesChangeNothing();
    void longListScrolling_data();
    void longListScrolling();
    void opponentChangesAreMarked_data();
    void opponentChangesAreMarked();

    void editsWhileDisconnectedAreNeverSent();
    void typedEditsArePublished_data();
    void typedEditsArePublished();

    void boardComesBackAfterAnUncleanEnd_data();
    void boardComesBackAfterAnUncleanEnd();
};

void TestBoard::cleanup()
{
    // An announcement box left open by a failed check would block input to later windows.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox *>(widget))
            delete widget;
    }
}

// --- Mirroring between two copies ---------------------------------------------------------

void TestBoard::zoneEditsAppearOnlyInMatchingPeerDisplay_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QString>("shown");

    for (const ZoneMirror &zone : ZoneTable::all()) {
        const QString text = sampleText(zone.editorName);
        QTestEventList keys;
        keys.addKeyClicks(text);
        QTest::addRow("%s typed", qPrintable(zone.editorName))
            << zone.editorName << zone.displayName << keys << text;
    }
    for (const ZoneMirror &zone : ZoneTable::all()) {
        if (!isMultiLineEditor(zone.editorName))
            continue;
        QTestEventList keys;
        keys.addKeyClicks(QStringLiteral("Line one"));
        keys.addKeyClick(Qt::Key_Return);
        keys.addKeyClicks(QStringLiteral("Line two"));
        QTest::addRow("%s two lines", qPrintable(zone.editorName))
            << zone.editorName << zone.displayName << keys << QStringLiteral("Line one\nLine two");
    }
}

// Typing into a local zone shows the text in the zone of the same caption on the other copy
// and nowhere else; emptying the editor empties the peer's display again.
void TestBoard::zoneEditsAppearOnlyInMatchingPeerDisplay()
{
    QFETCH(QString, editor);
    QFETCH(QString, display);
    QFETCH(QTestEventList, keys);
    QFETCH(QString, shown);

    Seat typing, watching;
    QVERIFY(link(typing, watching));
    const auto endLink = qScopeGuard([&] { unlink(typing, watching); });
    QVERIFY(typing.showActive());
    QWidget *box = typing.control(editor);
    QVERIFY(box);
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());

    QMap<QString, QString> before = watching.displayTexts();
    clearByKeyboard(box);
    QCOMPARE(typing.text(editor), QString());
    QTRY_COMPARE(watching.text(display), QString());

    keys.simulate(box);
    QCOMPARE(typing.text(editor), shown);
    QTRY_COMPARE(watching.text(display), shown);

    clearByKeyboard(box);
    QTRY_COMPARE(watching.text(display), QString());

    QMap<QString, QString> after = watching.displayTexts();
    before.remove(display);
    after.remove(display);
    QCOMPARE(after, before);
}

// --- Layout of the two halves -------------------------------------------------------------

void TestBoard::zoneFramesMirrorAcrossTheBoard_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("localFrame");
    QTest::addColumn<int>("localIndex");
    QTest::addColumn<QString>("opponentFrame");
    QTest::addColumn<int>("opponentIndex");
    QTest::addColumn<QPoint>("localTopLeft");

    struct Row
    {
        const char *caption;
        const char *local;
        int localIndex;
        const char *opponent;
        int opponentIndex;
        QPoint topLeft;
    };
    // The local half: front row at 352 px, back row at 504 px, columns every 128 px.
    const Row rows[] = {
        {"Field Card Zone", "Frame7", -1, "Frame20", -1, {0, 352}},
        {"Monster Card Zone 5", "Frame8", -1, "Frame25", -1, {128, 352}},
        {"Monster Card Zone 4", "Frame9", -1, "Frame24", -1, {256, 352}},
        {"Monster Card Zone 3", "Frame10", -1, "Frame23", -1, {384, 352}},
        {"Monster Card Zone 2", "Frame11", -1, "Frame22", -1, {512, 352}},
        {"Monster Card Zone 1", "Frame12", -1, "Frame21", -1, {640, 352}},
        {"Graveyard", "Frame13", -1, "Frame26", -1, {768, 352}},
        {"Fusion Deck Zone", "frmGY", 0, "frmGY", 1, {0, 504}},
        {"Magic/Trap Zone 5", "Frame1", -1, "Frame15", -1, {128, 504}},
        {"Magic/Trap Zone 4", "Frame2", -1, "Frame16", -1, {256, 504}},
        {"Magic/Trap Zone 3", "Frame3", -1, "Frame17", -1, {384, 504}},
        {"Magic/Trap Zone 2", "Frame4", -1, "Frame19", -1, {512, 504}},
        {"Magic/Trap Zone 1", "Frame5", -1, "Frame18", -1, {640, 504}},
        {"Deck Zone", "Frame6", -1, "Frame14", -1, {768, 504}},
    };
    for (const Row &row : rows) {
        QTest::newRow(row.caption)
            << QString::fromLatin1(row.caption) << QString::fromLatin1(row.local) << row.localIndex
            << QString::fromLatin1(row.opponent) << row.opponentIndex << row.topLeft;
    }
}

// The opponent half is the local half turned by half a circle: the frame of a caption at
// (x, y) on the local half stands at (768 - x, 552 - y) on the opponent half. The zone's
// editor lies in the local frame and its display in the opponent frame, both visible, so
// that what a player types under a caption appears on the other seat under the same caption.
void TestBoard::zoneFramesMirrorAcrossTheBoard()
{
    QFETCH(QString, caption);
    QFETCH(QString, localFrame);
    QFETCH(int, localIndex);
    QFETCH(QString, opponentFrame);
    QFETCH(int, opponentIndex);
    QFETCH(QPoint, localTopLeft);

    Seat seat;
    QVERIFY(seat.showActive());
    const BoardWindow *window = seat.window.get();
    QGroupBox *local = frame(*window, localFrame, localIndex);
    QGroupBox *opponent = frame(*window, opponentFrame, opponentIndex);
    QVERIFY2(local, qPrintable(localFrame));
    QVERIFY2(opponent, qPrintable(opponentFrame));
    QCOMPARE(local->title(), caption);
    QCOMPARE(opponent->title(), caption);
    QCOMPARE(local->size(), QSize(129, 153));
    QCOMPARE(opponent->size(), QSize(129, 153));
    QCOMPARE(local->mapTo(window, QPoint(0, 0)), localTopLeft);
    QCOMPARE(opponent->mapTo(window, QPoint(0, 0)),
             QPoint(768 - localTopLeft.x(), 552 - localTopLeft.y()));

    const ZoneMirror *zone = nullptr;
    for (const ZoneMirror &candidate : ZoneTable::all()) {
        if (candidate.caption == caption)
            zone = &candidate;
    }
    QVERIFY(zone);
    QWidget *editor = seat.control(zone->editorName);
    QWidget *display = seat.control(zone->displayName);
    QVERIFY(editor);
    QVERIFY(display);
    QVERIFY2(rectIn(window, local).contains(rectIn(window, editor)), qPrintable(zone->editorName));
    QVERIFY2(rectIn(window, opponent).contains(rectIn(window, display)),
             qPrintable(zone->displayName));
    QVERIFY2(isOnTop(window, editor), qPrintable(zone->editorName));
    QVERIFY2(isOnTop(window, display), qPrintable(zone->displayName));
}

void TestBoard::everyCaptionOnceInEachHalf()
{
    Seat seat;
    const BoardWindow *window = seat.window.get();
    const QList<QGroupBox *> frames = window->findChildren<QGroupBox *>();
    QCOMPARE(frames.size(), 28);

    QMap<QString, int> upper, lower;
    for (const QGroupBox *box : frames) {
        QCOMPARE(box->size(), QSize(129, 153));
        if (box->mapTo(window, QPoint(0, 0)).y() < 352)
            ++upper[box->title()];
        else
            ++lower[box->title()];
    }
    QCOMPARE(upper.size(), 14);
    QCOMPARE(upper.keys(), lower.keys());
    for (auto it = upper.cbegin(); it != upper.cend(); ++it) {
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QVERIFY2(lower.value(it.key()) == 1, qPrintable(it.key()));
    }
}

void TestBoard::windowClientArea()
{
    Seat seat;
    QVERIFY(seat.showActive());
    QCOMPARE(seat.window->size(), QSize(1018, 714));
    // The board cannot be resized.
    QCOMPARE(seat.window->minimumSize(), QSize(1018, 714));
    QCOMPARE(seat.window->maximumSize(), QSize(1018, 714));
}

// Every one-line box is redrawn on each keystroke and each received edit; it must cover its
// own rectangle, so the window and any caption it overlaps (the life-point box overlaps its
// "Life Points" label) are not redrawn with it.
void TestBoard::oneLineBoxesRepaintOnlyThemselves()
{
    Seat seat;
    QVERIFY(seat.showActive());
    struct PaintLog : QObject
    {
        QStringList painted;
        bool eventFilter(QObject *receiver, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                painted.append(receiver->objectName());
            return false;
        }
    } log;
    const auto boxes = seat.window->findChildren<QLineEdit *>();
    QVERIFY(boxes.size() >= 5);
    for (QLineEdit *box : boxes) {
        QTest::qWait(1); // let earlier updates settle
        QCoreApplication::sendPostedEvents();
        qApp->installEventFilter(&log);
        log.painted.clear();
        box->setText(box->text() == QLatin1String("7") ? QStringLiteral("8") : QStringLiteral("7"));
        QCoreApplication::sendPostedEvents();
        qApp->removeEventFilter(&log);
        QVERIFY2(log.painted == QStringList{box->objectName()},
                 qPrintable(box->objectName() + QStringLiteral(" repainted: ") +
                            log.painted.join(QLatin1Char(' '))));
    }
}

// --- Controls when the window opens, and the keyboard -------------------------------------

void TestBoard::initialValues_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");

    const QMap<QString, QString> filled = {
        {"txtP1LP", "8000"},
        {"lblP2LP", "8000"},
        {"txtP1Hand", "0"},
        {"lblP2Hand", "0"},
        {"txtP1Grave", "List cards\n"},
        {"txtP1FusionDeck", "List cards\n"},
        {"lblStatus", "Waiting for connection"},
    };
    QStringList names = {"txtChat", "txtMessage", "txtName", "txtValue", "lblStatus"};
    for (const ZoneMirror &zone : ZoneTable::all())
        names << zone.editorName << zone.displayName;
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name << filled.value(name, QString());
}

void TestBoard::initialValues()
{
    QFETCH(QString, control);
    QFETCH(QString, expected);
    Seat seat;
    QCOMPARE(seat.text(control), expected);
}

void TestBoard::controlKinds_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("kind");

    for (const char *name :
         {"txtP1Hand", "txtP1Deck", "txtP1LP", "txtName", "txtValue", "txtMessage"})
        QTest::newRow(name) << QString::fromLatin1(name) << QStringLiteral("QLineEdit");
    QTest::newRow("txtChat") << QStringLiteral("txtChat") << QStringLiteral("QPlainTextEdit");
    for (const ZoneMirror &zone : ZoneTable::all()) {
        if (isMultiLineEditor(zone.editorName))
            QTest::newRow(qPrintable(zone.editorName))
                << zone.editorName << QStringLiteral("QPlainTextEdit");
        QTest::newRow(qPrintable(zone.displayName))
            << zone.displayName
            << QString::fromLatin1(zone.content == ZoneContent::List ? "QPlainTextEdit" : "QLabel");
    }
}

// Which kind of control each name is decides how the player can use it: a single line, a
// list with line breaks and a scroll bar, or a label that shows text and takes no focus.
void TestBoard::controlKinds()
{
    QFETCH(QString, control);
    QFETCH(QString, kind);
    Seat seat;
    QWidget *widget = seat.control(control);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), kind);
}

void TestBoard::lengthLimits_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");

    const QString longLine(300, QLatin1Char('m'));
    const struct
    {
        const char *row, *control;
        QString typed, kept;
    } rows[] = {
        {"hand takes one character", "txtP1Hand", "12", "1"},
        {"deck takes three", "txtP1Deck", "1234", "123"},
        {"name takes five", "txtName", "abcdef", "abcde"},
        {"life points unlimited", "txtP1LP", "123456789012", "123456789012"},
        {"value unlimited", "txtValue", "123456789012", "123456789012"},
        {"message unlimited", "txtMessage", longLine, longLine},
        {"monster zone unlimited", "txtP1Monster1", longLine, longLine},
    };
    for (const auto &row : rows)
        QTest::newRow(row.row) << QString::fromLatin1(row.control) << row.typed << row.kept;
}

void TestBoard::lengthLimits()
{
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(QString, kept);

    Seat seat;
    QVERIFY(seat.showActive());
    QWidget *box = seat.control(control);
    QVERIFY(box);
    box->setFocus();
    clearByKeyboard(box);
    QTest::keyClicks(box, typed);
    QCOMPARE(seat.text(control), kept);
}

void TestBoard::readOnlyBoxesIgnoreTyping_data()
{
    QTest::addColumn<QString>("control");
    QTest::newRow("opponent graveyard") << "lblP2Grave";
    QTest::newRow("opponent fusion deck") << "lblP2FusionDeck";
    QTest::newRow("chat log") << "txtChat";
}

void TestBoard::readOnlyBoxesIgnoreTyping()
{
    QFETCH(QString, control);

    Seat seat;
    QVERIFY(seat.showActive());
    auto *box = seat.control<QPlainTextEdit>(control);
    QVERIFY(box);
    QVERIFY(box->isReadOnly());
    box->setPlainText(QStringLiteral("kept\nas is"));
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("typed"));
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Delete);
    clearByKeyboard(box);
    QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(seat.text(control), QStringLiteral("kept\nas is"));
}

void TestBoard::focusStartsOnConnectionsButton()
{
    Seat seat;
    QVERIFY(seat.showActive());
    QTRY_COMPARE(focusName(), QStringLiteral("cmdConnections"));
}

// Tab walks the controls in the board's own order (not their screen order) and wraps; Shift+Tab
// walks back. Tab in a list editor moves on instead of typing a tab, so no text changes.
void TestBoard::tabWalksTheOrderAndWraps()
{
    Seat seat;
    QVERIFY(seat.showActive());
    seat.control(TabOrder.first())->setFocus();
    QTRY_COMPARE(focusName(), TabOrder.first());

    QMap<QString, QString> texts;
    for (const QString &name : TabOrder) {
        if (!name.startsWith(QLatin1String("cmd")))
            texts.insert(name, seat.text(name));
    }

    const int count = int(TabOrder.size());
    for (int step = 1; step <= count; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusName(), TabOrder.at(step % count));
    }
    for (int step = count - 1; step >= 0; --step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focusName(), TabOrder.at(step));
    }
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        QCOMPARE(seat.text(it.key()), it.value());
}

void TestBoard::accessKeysPressButtons_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("pressed");
    QTest::addColumn<QString>("untouched");
    QTest::newRow("Alt+A") << Qt::Key_A << "cmdAdd"
                           << "cmdSubtract";
    QTest::newRow("Alt+S") << Qt::Key_S << "cmdSubtract"
                           << "cmdAdd";
}

void TestBoard::accessKeysPressButtons()
{
    QFETCH(Qt::Key, key);
    QFETCH(QString, pressed);
    QFETCH(QString, untouched);

    Seat seat;
    QVERIFY(seat.showActive());
    auto *pressedButton = seat.control<QAbstractButton>(pressed);
    auto *otherButton = seat.control<QAbstractButton>(untouched);
    QVERIFY(pressedButton);
    QVERIFY(otherButton);
    QSignalSpy pressedSpy(pressedButton, &QAbstractButton::clicked);
    QSignalSpy otherSpy(otherButton, &QAbstractButton::clicked);
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : seat.window.get();
    QTest::keyClick(target, key, Qt::AltModifier);
    QTRY_COMPARE(pressedSpy.count(), 1);
    QCOMPARE(otherSpy.count(), 0);
}

// --- What the peer sends is text, never markup ----------------------------------------------

// The desktop announcement box of a real run: shown as plain text; the call returns at once so
// that the messages behind it are still applied while the box is up; the box blocks no window;
// a second announcement while it is open changes its text instead of opening another; closing
// it is reported.
void TestBoard::announcementBoxIsPlainAndDoesNotBlock()
{
    const QString markup = QStringLiteral(R"(<img src="/dev/zero">)");
    bool closedByWatchdog = false;
    // Should the call wait for the box to be dismissed, this dismisses it so the test ends.
    QTimer::singleShot(3000, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                closedByWatchdog = true;
                box->done(0);
            }
        }
    });

    QtPlatformServices services;
    int dismissals = 0;
    QElapsedTimer clock;
    clock.start();
    services.announce(nullptr, markup, QStringLiteral("Skarnet"), [&] { ++dismissals; });
    QVERIFY2(clock.elapsed() < 1000, "announce waited for the box to be dismissed");
    QVERIFY(!closedByWatchdog);

    const auto shownBoxes = [] {
        QList<QMessageBox *> shown;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                shown.append(box);
        }
        return shown;
    };
    QCOMPARE(shownBoxes().size(), 1);
    QPointer<QMessageBox> shown = shownBoxes().first();
    QCOMPARE(shown->textFormat(), Qt::PlainText);
    QCOMPARE(shown->text(), markup);
    QCOMPARE(shown->windowTitle(), QStringLiteral("Skarnet"));
    QCOMPARE(shown->windowModality(), Qt::NonModal);
    services.announce(nullptr, QStringLiteral("newer"), QStringLiteral("Skarnet"), {});
    QCOMPARE(shownBoxes(), QList<QMessageBox *>{shown.data()});
    QCOMPARE(shown->text(), QStringLiteral("newer"));
    shown->done(0);
    QTRY_VERIFY(!shown || !shown->isVisible());
    QCOMPARE(dismissals, 1);
}

// --- Messages from the peer ---------------------------------------------------------------

void TestBoard::receivedMessagesApply_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<int>("beeps");

    QTest::newRow("empty deck payload empties the count")
        << QList<Step>{{"0340", "lblP2Deck", "40"}, {"03", "lblP2Deck", ""}} << 0;
    QTest::newRow("two chat lines")
        << QList<Step>{{"17a: x", "txtChat", "a: x\n\n"}, {"17b: y", "txtChat", "a: x\n\nb: y\n\n"}}
        << 2;
    // Each message resends the whole list; the box must end up holding exactly the new one
    // whatever changed: an added line, a change inside, a removal, everything.
    QTest::newRow("graveyard edited in place")
        << QList<Step>{{"10Kuriboh\r\nMirror Force", "lblP2Grave", "Kuriboh\nMirror Force"},
                       {"10Kuriboh\r\nMirror Force\r\nRaigeki", "lblP2Grave",
                        "Kuriboh\nMirror Force\nRaigeki"},
                       {"10Kuriboh\r\nMagic Cylinder\r\nRaigeki", "lblP2Grave",
                        "Kuriboh\nMagic Cylinder\nRaigeki"},
                       {"10Kuriboh\r\nRaigeki", "lblP2Grave", "Kuriboh\nRaigeki"},
                       {"10Raigeki", "lblP2Grave", "Raigeki"},
                       {"10", "lblP2Grave", ""},
                       {"10aa", "lblP2Grave", "aa"}}
        << 0;
    QTest::newRow("characters beyond 16 bits changed in place")
        << QList<Step>{{greeting(1) + QByteArray("10a\xF0\x9F\x82\xA1z\0", 9), "lblP2Grave",
                        QStringLiteral("a\U0001F0A1z")},
                       {QByteArray("10a\xF0\x9F\x82\xA2z\0", 9), "lblP2Grave",
                        QStringLiteral("a\U0001F0A2z")},
                       {QByteArray("10a\xF0\x9F\x83\x81z\0", 9), "lblP2Grave",
                        QStringLiteral("a\U0001F0C1z")}}
        << 0;
    QTest::newRow("status") << QList<Step>{{"18Connected", "lblStatus", "Connected"}} << 0;
}

void TestBoard::receivedMessagesApply()
{
    QFETCH(QList<Step>, steps);
    QFETCH(int, beeps);

    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    for (const Step &step : steps) {
        peer.send(step.message);
        QTRY_COMPARE(seat.text(step.control), step.expected);
    }
    QCOMPARE(seat.platform.beeps, beeps);
}

void TestBoard::announcementIsShownWithProgramTitle()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    peer.send("19Your opponent: Rolled dice to 4");
    QTRY_COMPARE(seat.platform.announcements.size(), 1);
    QCOMPARE(seat.platform.announcements.first(),
             RecordingPlatform::Box("Your opponent: Rolled dice to 4", "Skarnet"));
}

// The peer's goodbye only changes the status line; the link ends when the peer's socket
// closes, not before.
void TestBoard::disconnectedStatusKeepsLinkUp()
{
    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    peer.send("18Disconnected");
    QTRY_COMPARE(seat.status(), QStringLiteral("Disconnected"));
    QTest::qWait(SettleMs);
    QCOMPARE(seat.socket()->state(), PeerLink::State::Connected);
    QVERIFY(!peer.ended);
    peer.send("0133");
    QTRY_COMPARE(seat.text("lblP2Hand"), QStringLiteral("33"));
}

// Where each code goes is the table protocol's (tst_table); on a real link, a code outside the
// table changes nothing and leaves the stream in step.
void TestBoard::unknownCodesChangeNothing()
{
    const QByteArray message("99x");
    Seat seat;
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    const QMap<QString, QString> displays = seat.displayTexts();
    const QString chat = seat.text("txtChat");
    const QString status = seat.status();

    peer.send(message);
    QTest::qWait(SettleMs);
    // A message after it still arrives on its own: the link is up and the stream in step.
    peer.send("03after");
    QTRY_COMPARE(seat.text("lblP2Deck"), QStringLiteral("after"));

    QMap<QString, QString> now = seat.displayTexts();
    now.insert("lblP2Deck", displays.value("lblP2Deck"));
    QCOMPARE(now, displays);
    QCOMPARE(seat.text("txtChat"), chat);
    QCOMPARE(seat.status(), status);
    QCOMPARE(seat.platform.announcements.size(), 0);
    QCOMPARE(seat.platform.beeps, 0);
    QCOMPARE(peer.received, QByteArray("18Connected"));
}

void TestBoard::longListScrolling_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("display");
    QTest::addColumn<bool>("showsEnd");
    // The opponent's graveyard follows the newest cards; the fusion deck list is shown from
    // its top, as any box whose whole text is replaced.
    QTest::newRow("graveyard") << QByteArray("10") << "lblP2Grave" << true;
    QTest::newRow("fusion deck") << QByteArray("09") << "lblP2FusionDeck" << false;
}

void TestBoard::longListScrolling()
{
    QFETCH(QByteArray, code);
    QFETCH(QString, display);
    QFETCH(bool, showsEnd);

    Seat seat;
    QVERIFY(seat.showActive());
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    auto *box = seat.control<QPlainTextEdit>(display);
    QVERIFY(box);

    for (const int lines : {200, 120}) {
        QStringList cards;
        for (int card = 1; card <= lines; ++card)
            cards << QStringLiteral("Card %1 of %2").arg(card).arg(lines);
        peer.send(code + cards.join(QStringLiteral("\r\n")).toLatin1());
        QTRY_COMPARE(box->toPlainText(), cards.join(QLatin1Char('\n')));

        QScrollBar *bar = box->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        if (showsEnd) {
            QTRY_COMPARE(bar->value(), bar->maximum());
            QVERIFY(box->textCursor().atEnd());
        } else {
            QCOMPARE(bar->value(), 0);
        }
    }
}

void TestBoard::opponentChangesAreMarked_data()
{
    QTest::addColumn<QList<MarkStep>>("steps");
    const QStringList monster{"Opponent's Monster Card Zone 3 frame"};
    const QStringList hand{"Opponent's cards in hand caption"};
    const QStringList none;
    using S = MarkStep;

    QTest::newRow("marked for three seconds") << QList<S>{{S::Receive, "13Wall", 0, monster},
                                                          {S::Later, {}, 2000, monster},
                                                          {S::Later, {}, 1000, none}};
    QTest::newRow("a change while marked starts over")
        << QList<S>{{S::Receive, "13Wall", 0, monster},
                    {S::Later, {}, 2000, monster},
                    {S::Receive, "13Wall 0/2000", 0, monster},
                    {S::Later, {}, 2000, monster},
                    {S::Later, {}, 1000, none}};
    // The whole half arrives again after a relink: what did not change is not marked.
    QTest::newRow("same text, or the own half, marks nothing")
        << QList<S>{{S::Receive, "028000", 0, none},
                    {S::TypeOwn, "Dragon", 0, none},
                    {S::Receive, "015", 0, hand}};
    QTest::newRow("switched off") << QList<S>{{S::Receive, "13Wall", 0, monster},
                                              {S::SwitchOff, {}, 0, none},
                                              {S::Receive, "015", 0, none}};
}

// A display of the opponent's half that shows a new text marks its caption, on a clock of the
// test's own; nothing else is marked.
void TestBoard::opponentChangesAreMarked()
{
    QFETCH(QList<MarkStep>, steps);

    Seat seat;
    QVERIFY(seat.showActive());
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    qint64 now = 0;
    seat.window->findChild<OpponentMarks *>()->timing().setClock([&now] { return now; });
    for (const MarkStep &step : steps) {
        switch (step.kind) {
        case MarkStep::Receive: {
            peer.send(step.what);
            QTest::qWait(SettleMs); // plain messages are told apart by the reads they come in
            const ZoneMirror &zone = *ZoneTable::byCode(QString::fromLatin1(step.what.left(2)));
            QTRY_COMPARE(seat.text(zone.displayName), QString::fromLatin1(step.what.mid(2)));
            break;
        }
        case MarkStep::TypeOwn:
            seat.setText("txtP1Monster3", QString::fromLatin1(step.what));
            break;
        case MarkStep::Later:
            now += step.ms;
            QTest::qWait(3 * ChangeMarks::StepMs); // the marks look at the clock again
            break;
        case MarkStep::SwitchOff: {
            ConnectionsWindow *connections = openConnections(seat);
            QVERIFY(connections);
            connections->findChild<QCheckBox *>(QStringLiteral("chkMarkChanges"))->click();
            connections->close();
            QCOMPARE(seat.platform.settings.value(QStringLiteral("board/markOpponentChanges")),
                     QStringLiteral("off"));
            break;
        }
        }
        QTRY_COMPARE(markedCaptions(seat.window.get()), step.marked);
    }
}

// --- Publishing the local half ------------------------------------------------------------

// Edits made before a link exists are lost, not queued: the peer that connects later hears
// the greeting and nothing else.
void TestBoard::editsWhileDisconnectedAreNeverSent()
{
    Seat seat;
    QVERIFY(seat.showActive());
    QWidget *lp = seat.control("txtP1LP");
    QWidget *grave = seat.control("txtP1Grave");
    QVERIFY(lp);
    QVERIFY(grave);
    clearByKeyboard(lp);
    QTest::keyClicks(lp, QStringLiteral("150"));
    QTest::keyClick(grave, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(grave, QStringLiteral("Dark Magician"));
    seat.control<QLineEdit>("txtP1Hand")->setText(QStringLiteral("4"));

    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    QTest::qWait(SettleMs);
    QCOMPARE(peer.received, QByteArray("18Connected"));
}

void TestBoard::typedEditsArePublished_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<bool>("clearFirst");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QByteArray>("stream"); // after the greeting and the clearing

    for (const ZoneMirror &zone : ZoneTable::all()) {
        const QByteArray typed = zone.editorName == QLatin1String("txtP1LP")
                                     ? QByteArray("150")
                                     : sampleText(zone.editorName).toLatin1();
        QTestEventList keys;
        keys.addKeyClicks(QString::fromLatin1(typed));
        QTest::addRow("%s", qPrintable(zone.editorName))
            << zone.editorName << true << keys << typedStream(zone.code.toLatin1(), "", typed);
    }

    QTestEventList appendCard;
    appendCard.addKeyClick(Qt::Key_End, Qt::ControlModifier);
    appendCard.addKeyClicks(QStringLiteral("Dark Magician"));
    QTest::newRow("graveyard card added under the first line")
        << "txtP1Grave" << false << appendCard
        << typedStream("10", "List cards\r\n", "Dark Magician");

    QTestEventList twoLines;
    twoLines.addKeyClicks(QStringLiteral("a"));
    twoLines.addKeyClick(Qt::Key_Return);
    twoLines.addKeyClicks(QStringLiteral("b"));
    QTest::newRow("fusion deck line break")
        << "txtP1FusionDeck" << true << twoLines << QByteArray("09a09a\r\n09a\r\nb");
}

// Every change of a zone editor sends its code and its whole text at once, with no merging:
// typing 150 sends 1, 15 and 150. Line breaks travel as CR LF.
void TestBoard::typedEditsArePublished()
{
    QFETCH(QString, editor);
    QFETCH(bool, clearFirst);
    QFETCH(QTestEventList, keys);
    QFETCH(QByteArray, stream);

    Seat seat;
    QVERIFY(seat.showActive());
    PlainPeer peer;
    QVERIFY(plainLink(seat, peer));
    QWidget *box = seat.control(editor);
    QVERIFY(box);
    box->setFocus();

    QByteArray expected = "18Connected";
    if (clearFirst) {
        // Emptying a box that held text sends the code alone.
        const bool hadText = !seat.text(editor).isEmpty();
        clearByKeyboard(box);
        if (hadText)
            expected += ZoneTable::byEditor(editor)->code.toLatin1();
    }
    keys.simulate(box);
    expected += stream;
    QTRY_COMPARE(peer.received, expected);
    QTest::qWait(SettleMs);
    QCOMPARE(peer.received, expected);
}

// --- Recovery after an unclean end ------------------------------------------------------------

void TestBoard::boardComesBackAfterAnUncleanEnd_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("damaged");
    QTest::newRow("restored") << true << false;
    QTest::newRow("declined") << false << false;
    QTest::newRow("damaged file") << true << true;
}

// A run that ends without its clean end leaves its recovery copy behind; the next start on the
// same port offers it once. Restored, the local half is as typed (and reaches the opponent
// once linked), the opponent half and chat as they were; declined or unreadable, the board
// starts empty and nothing is offered again.
void TestBoard::boardComesBackAfterAnUncleanEnd()
{
    QFETCH(bool, restore);
    QFETCH(bool, damaged);
    QTemporaryDir folder;
    const int port = freePort();
    QByteArray left;
    // The chat name is remembered apart from the board, and offered at every start.
    {
        RecordingPlatform platform;
        platform.settings[QStringLiteral("chat/name")] = QStringLiteral("Joey");
        BoardWindow window(platform);
        QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("txtName"))->text(), "Joey");
        window.findChild<QLineEdit *>(QStringLiteral("txtName"))->setText(QStringLiteral("Mai"));
        QCOMPARE(platform.settings.value(QStringLiteral("chat/name")), QStringLiteral("Mai"));
    }
    {
        Seat crashed(port, folder.path(), false);
        PlainPeer opponent;
        QVERIFY(plainLink(crashed, opponent));
        crashed.control<QPlainTextEdit>("txtP1Monster3")->setPlainText(QStringLiteral("Dragon"));
        crashed.control<QPlainTextEdit>("txtP1Grave")
            ->setPlainText(QStringLiteral("Kuriboh\nWall"));
        crashed.control<QLineEdit>("txtP1LP")->setText(QStringLiteral("6000"));
        crashed.control<QLineEdit>("txtName")->setText(QStringLiteral("Yugi"));
        opponent.send("13Wall");
        QTest::qWait(SettleMs);
        opponent.send("17Kaiba: hi");
        QTRY_COMPARE(crashed.text("txtChat"), QStringLiteral("Kaiba: hi\n\n"));
        const QString path =
            QDir(folder.path()).filePath(QStringLiteral("recovery-%1.json").arg(port));
        const auto contents = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // Written within a second of the last change.
        QTRY_VERIFY(contents().contains("Kaiba"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        left = file.readAll();
        file.close();
        crashed.window->close(); // a clean end removes it
        QVERIFY(!QFile::exists(path));
        // What a crash would have left instead.
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(damaged ? left.left(left.size() / 2) : left);
    }
    QTest::qWait(SettleMs);

    Seat next(port, folder.path(), restore);
    const bool restored = restore && !damaged;
    QCOMPARE(next.platform.questions.size(), damaged ? 0 : 1);
    if (!damaged) {
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^Skarnet did not close properly last time\\. Restore your "
                                    "half of the board and the chat from \\d\\d:\\d\\d\\?$"))
                     .match(next.platform.questions.first().first)
                     .hasMatch(),
                 qPrintable(next.platform.questions.first().first));
    } else {
        QCOMPARE(next.platform.boxes.size(), 2);
        QVERIFY(next.platform.boxes.last().first.startsWith(
            QStringLiteral("Skarnet could not read the recovery copy of your last game")));
    }
    const QMap<QString, QString> typed{{"txtP1Monster3", "Dragon"},
                                       {"txtP1Grave", "Kuriboh\nWall"},
                                       {"txtP1LP", "6000"},
                                       {"lblP2Monster3", "Wall"},
                                       {"txtName", "Yugi"}};
    Seat fresh;
    for (auto control = typed.begin(); control != typed.end(); ++control)
        QCOMPARE(next.text(control.key()), restored ? control.value() : fresh.text(control.key()));
    QCOMPARE(next.text("txtChat").startsWith(
                 QStringLiteral("Kaiba: hi\n\n(Board and chat restored from ")),
             restored);

    Seat other;
    QVERIFY(link(other, next));
    QTRY_COMPARE(other.text("lblP2Grave"), next.text("txtP1Grave"));
    QTRY_COMPARE(other.text("lblP2Monster3"), next.text("txtP1Monster3"));
    QTRY_COMPARE(other.text("lblP2LP"), next.text("txtP1LP"));
    unlink(other, next);
}

QTEST_MAIN(TestBoard)
#include "tst_board.moc"
