// What a screen reader finds in each window: every control it can reach has a name that says
// what it is and whose, no two controls of a window share a name, the zone controls are named
// after the frame a sighted player sees them in, captions label their controls, and the
// displays give their current text and not only their name, and tell the reader when the
// opponent changes it.
#include "LinkHarness.h"
#include "RecordingPlatform.h"
#include "board/ZoneTable.h"
#include "boardwindow/BoardWindow.h"
#include "chance/CoinDiceWindow.h"
#include "connections/ConnectionsWindow.h"
#include "link/PeerLink.h"
#include "startup/SplashWindow.h"

#include <QAccessible>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QtTest>

#include <memory>

// Qt passes accessibility events on only while its platform says a screen reader listens; only
// the platform's own interface can say so without one.
#if __has_include(<qpa/qplatformaccessibility.h>)
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#define SKARNET_CAN_LISTEN_AS_READER 1
#endif

namespace {

QString nameOf(QAccessibleInterface *iface)
{
    return iface->text(QAccessible::Name);
}

QString describe(QAccessibleInterface *iface)
{
    const QObject *object = iface->object();
    return QStringLiteral("%1 (%2, role %3)")
        .arg(object ? object->objectName() : QStringLiteral("<no object>"),
             object ? QString::fromLatin1(object->metaObject()->className()) : QString())
        .arg(int(iface->role()), 0, 16);
}

// Every interface below `root` in the accessible tree, as a screen reader walks it.
QList<QAccessibleInterface *> descendants(QAccessibleInterface *root)
{
    QList<QAccessibleInterface *> found;
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface *child = root->child(i)) {
            found.append(child);
            found.append(descendants(child));
        }
    }
    return found;
}

// A control that can take the focus or shows text: a screen reader announces it by name.
bool mustBeNamed(QAccessibleInterface *iface)
{
    if (iface->state().focusable || iface->textInterface())
        return true;
    switch (iface->role()) {
    case QAccessible::StaticText:
    case QAccessible::EditableText:
    case QAccessible::PushButton:
    case QAccessible::Grouping:
        return true;
    default:
        return false;
    }
}

QAccessibleInterface *accessibleOf(const QWidget *window, const QString &objectName)
{
    QObject *object = window->objectName() == objectName ? const_cast<QWidget *>(window)
                                                         : window->findChild<QWidget *>(objectName);
    return object ? QAccessible::queryAccessibleInterface(object) : nullptr;
}

QRect rectIn(const QWidget *window, const QWidget *widget)
{
    return {widget->mapTo(window, QPoint(0, 0)), widget->size()};
}

// The zone frame a control sits in: its own parent frame, or the one frame it lies over.
QGroupBox *frameOf(const QWidget *window, const QWidget *control)
{
    for (QWidget *parent = control->parentWidget(); parent && parent != window;
         parent = parent->parentWidget()) {
        if (auto *frame = qobject_cast<QGroupBox *>(parent))
            return frame;
    }
    QList<QGroupBox *> under;
    for (QGroupBox *frame : window->findChildren<QGroupBox *>()) {
        if (rectIn(window, frame).contains(rectIn(window, control)))
            under.append(frame);
    }
    return under.size() == 1 ? under.first() : nullptr;
}

// The four windows a player meets, built as the program builds them.
struct Windows
{
    RecordingPlatform platform;
    std::unique_ptr<BoardWindow> main;
    QPointer<ConnectionsWindow> connections;
    QPointer<CoinDiceWindow> outcome;
    std::unique_ptr<SplashWindow> splash;

    Windows()
        : main(std::make_unique<BoardWindow>(platform, 0))
        , connections(new ConnectionsWindow(main->table(), platform))
        , outcome(new CoinDiceWindow(main->table(), platform))
        , splash(std::make_unique<SplashWindow>())
    {
        main->show();
        connections->show();
        outcome->show();
        splash->show();
    }
    ~Windows()
    {
        delete connections;
        delete outcome;
    }

    PeerLink &link() const { return main->link(); }

    QWidget *byName(const QString &objectName) const
    {
        for (QWidget *window :
             {static_cast<QWidget *>(main.get()), static_cast<QWidget *>(connections.data()),
              static_cast<QWidget *>(outcome.data()), static_cast<QWidget *>(splash.get())}) {
            if (window && window->objectName() == objectName)
                return window;
        }
        return nullptr;
    }
};

// What a screen reader would be told while this lives: the changes of text, name or value and
// the focus moves that Qt reports, recorded instead of passed to the platform.
class ReaderEar
{
public:
    struct Heard
    {
        QAccessible::Event type;
        QObject *object;
        QString removed;
        QString inserted;
        int position;
    };

    ReaderEar()
    {
        heard().clear();
        listen(true);
        m_previous = QAccessible::installUpdateHandler(&record);
    }
    ~ReaderEar()
    {
        QAccessible::installUpdateHandler(m_previous);
        listen(false);
    }

    static QList<Heard> &heard()
    {
        static QList<Heard> list;
        return list;
    }

private:
    static void listen([[maybe_unused]] bool on)
    {
#ifdef SKARNET_CAN_LISTEN_AS_READER
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(on);
#endif
    }

    static void record(QAccessibleEvent *event)
    {
        Heard entry{event->type(), event->object(), {}, {}, -1};
        switch (event->type()) {
        case QAccessible::TextUpdated: {
            const auto *update = static_cast<QAccessibleTextUpdateEvent *>(event);
            entry.removed = update->textRemoved();
            entry.inserted = update->textInserted();
            entry.position = update->changePosition();
            break;
        }
        case QAccessible::TextInserted:
        case QAccessible::TextRemoved:
        case QAccessible::NameChanged:
        case QAccessible::ValueChanged:
        case QAccessible::Focus:
            break;
        default:
            return;
        }
        heard().append(entry);
    }

    QAccessible::UpdateHandler m_previous = nullptr;
};

void addWindowRows()
{
    QTest::addColumn<QString>("window");
    for (const char *window : {"frmMain", "frmConnections", "frmOutcome", "frmSPLASH"})
        QTest::newRow(window) << QString::fromLatin1(window);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void everyControlNamedOnce_data();
    void everyControlNamedOnce();
    void decorationsAreSilent_data();
    void decorationsAreSilent();
    void zonesNamedAfterTheirFrames_data();
    void zonesNamedAfterTheirFrames();
    void captionsLabelTheirControls();
    void displaysReadTheirText_data();
    void displaysReadTheirText();
    void namedControls_data();
    void namedControls();
    void opponentMovesAreHeard_data();
    void opponentMovesAreHeard();

private:
    std::unique_ptr<Windows> m_windows;
};

void TestAccessibility::initTestCase()
{
    m_windows = std::make_unique<Windows>();
    QVERIFY(QTest::qWaitForWindowExposed(m_windows->main.get()));
}

void TestAccessibility::cleanupTestCase()
{
    m_windows.reset();
}

void TestAccessibility::everyControlNamedOnce_data()
{
    addWindowRows();
}

void TestAccessibility::everyControlNamedOnce()
{
    QFETCH(QString, window);
    QWidget *top = m_windows->byName(window);
    QVERIFY(top);
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(top);
    QVERIFY(root);
    QVERIFY2(!nameOf(root).trimmed().isEmpty(), "the window itself has no name");

    const QList<QAccessibleInterface *> tree = descendants(root);
    QStringList unnamed;
    QStringList repeated;
    QHash<QString, QString> owners;
    for (QAccessibleInterface *iface : tree) {
        if (!mustBeNamed(iface))
            continue;
        const QString name = nameOf(iface).trimmed();
        if (name.isEmpty())
            unnamed << describe(iface);
        else if (owners.contains(name))
            repeated
                << QStringLiteral("\"%1\": %2 and %3").arg(name, owners[name], describe(iface));
        else
            owners.insert(name, describe(iface));
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(QStringLiteral("unnamed: ") + unnamed.join(", ")));
    QVERIFY2(repeated.isEmpty(), qPrintable(QStringLiteral("repeated: ") + repeated.join("; ")));

    // The walk reached every control that takes the focus, so none was left out unchecked.
    for (const QWidget *widget : top->findChildren<QWidget *>()) {
        if (widget->focusPolicy() == Qt::NoFocus || widget->isWindow() || !widget->isVisibleTo(top))
            continue;
        const bool reached = std::any_of(
            tree.begin(), tree.end(), [widget](auto *iface) { return iface->object() == widget; });
        QVERIFY2(reached, qPrintable(widget->objectName() + QStringLiteral(" is not reachable")));
    }
}

void TestAccessibility::decorationsAreSilent_data()
{
    addWindowRows();
}

// A picture without text only decorates: it is announced as a graphic with no name.
void TestAccessibility::decorationsAreSilent()
{
    QFETCH(QString, window);
    QWidget *top = m_windows->byName(window);
    QVERIFY(top);
    for (QLabel *label : top->findChildren<QLabel *>()) {
        if (label->pixmap().isNull() || !label->text().isEmpty())
            continue;
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
        QCOMPARE(iface->role(), QAccessible::Graphic);
        QVERIFY2(nameOf(iface).isEmpty(), qPrintable(label->objectName()));
    }
}

void TestAccessibility::zonesNamedAfterTheirFrames_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("caption");
    for (const ZoneMirror &zone : ZoneTable::all())
        QTest::newRow(qPrintable(zone.editorName))
            << zone.editorName << zone.displayName << zone.caption;
}

// Each zone is "Your <caption>" in this half and "Opponent's <caption>" in the other, with the
// caption of the frame each control sits in; the layout numbers the halves in mirror image,
// so a name taken from the position instead would point at the wrong frame. Hand and life
// points have no frame; their two halves still share one name after the owner.
void TestAccessibility::zonesNamedAfterTheirFrames()
{
    QFETCH(QString, editor);
    QFETCH(QString, display);
    QFETCH(QString, caption);
    const BoardWindow *window = m_windows->main.get();
    QWidget *editorWidget = window->findChild<QWidget *>(editor);
    QWidget *displayWidget = window->findChild<QWidget *>(display);
    QVERIFY(editorWidget && displayWidget);
    const QString editorName = nameOf(QAccessible::queryAccessibleInterface(editorWidget));
    const QString displayName = nameOf(QAccessible::queryAccessibleInterface(displayWidget));
    QVERIFY2(editorName.startsWith(QLatin1String("Your ")), qPrintable(editorName));
    QVERIFY2(displayName.startsWith(QLatin1String("Opponent's ")), qPrintable(displayName));
    QCOMPARE(editorName.mid(5), displayName.mid(11));
    if (caption.isEmpty())
        return;

    QGroupBox *editorFrame = frameOf(window, editorWidget);
    QGroupBox *displayFrame = frameOf(window, displayWidget);
    QVERIFY(editorFrame && displayFrame);
    QCOMPARE(editorFrame->title(), caption);
    QCOMPARE(displayFrame->title(), caption);
    QCOMPARE(editorName, QStringLiteral("Your ") + editorFrame->title());
    QCOMPARE(displayName, QStringLiteral("Opponent's ") + displayFrame->title());
    QCOMPARE(nameOf(QAccessible::queryAccessibleInterface(editorFrame)),
             editorName + QStringLiteral(" frame"));
    QCOMPARE(nameOf(QAccessible::queryAccessibleInterface(displayFrame)),
             displayName + QStringLiteral(" frame"));
}

// Every label of the board shows a value, heads a half, or captions one control; a caption
// labels its control for a screen reader, which reads the two together.
void TestAccessibility::captionsLabelTheirControls()
{
    const BoardWindow *window = m_windows->main.get();
    const QStringList headings = {QStringLiteral("Label5"), QStringLiteral("Label6")};
    int captions = 0;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
        if (label->text().isEmpty() && !iface->textInterface())
            continue; // a picture
        if (iface->textInterface() || headings.contains(label->objectName()))
            continue;
        QWidget *control = label->buddy();
        QVERIFY2(control, qPrintable(label->objectName() + QStringLiteral(" captions nothing")));
        const auto labelledBy =
            QAccessible::queryAccessibleInterface(control)->relations(QAccessible::Label);
        const bool labelled = std::any_of(labelledBy.begin(), labelledBy.end(),
                                          [label](auto r) { return r.first->object() == label; });
        QVERIFY2(labelled, qPrintable(label->objectName()));
        ++captions;
    }
    QCOMPARE(captions, 8);
}

void TestAccessibility::displaysReadTheirText_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("display");
    for (const ZoneMirror &zone : ZoneTable::all())
        QTest::newRow(qPrintable(zone.displayName))
            << QStringLiteral("frmMain") << zone.displayName;
    QTest::newRow("lblStatus") << QStringLiteral("frmMain") << QStringLiteral("lblStatus");
    QTest::newRow("lblOutcome") << QStringLiteral("frmOutcome") << QStringLiteral("lblOutcome");
    QTest::newRow("lblInternet") << QStringLiteral("frmConnections")
                                 << QStringLiteral("lblInternet");
}

// A named display still gives a screen reader what it shows, as it changes, under its
// unchanged name.
void TestAccessibility::displaysReadTheirText()
{
    QFETCH(QString, window);
    QFETCH(QString, display);
    QWidget *control = m_windows->byName(window)->findChild<QWidget *>(display);
    QVERIFY(control);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(control);
    const QString name = nameOf(iface);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY2(text, "the display offers no text");

    const QString shown = QStringLiteral("Blue-Eyes White Dragon\nDark Magician");
    if (auto *label = qobject_cast<QLabel *>(control))
        label->setText(shown);
    else
        qobject_cast<QPlainTextEdit *>(control)->setPlainText(shown);
    QCOMPARE(text->characterCount(), int(shown.size()));
    QCOMPARE(text->text(0, text->characterCount()), shown);
    QCOMPARE(text->text(5, 10), shown.mid(5, 5));
    QCOMPARE(nameOf(iface), name);
    QVERIFY(iface->state().readOnly);
}

void TestAccessibility::namedControls_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");

    // The table gives each role as AT-SPI names it, which Qt's roles map to on Linux.
    const QHash<QString, QAccessible::Role> roles = {
        {QStringLiteral("label"), QAccessible::StaticText},
        {QStringLiteral("text"), QAccessible::EditableText},
        {QStringLiteral("status bar"), QAccessible::StatusBar},
        {QStringLiteral("push button"), QAccessible::PushButton}};
    QFile table(QStringLiteral(SKARNET_ACCESSIBLE_NAMES));
    QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text), SKARNET_ACCESSIBLE_NAMES);
    int rows = 0;
    while (!table.atEnd()) {
        const QString line = QString::fromUtf8(table.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        QVERIFY2(fields.size() == 4 && roles.contains(fields[3]), qPrintable(line));
        QTest::addRow("%s %s", qPrintable(fields[0]), qPrintable(fields[1]))
            << fields[0] << fields[1] << fields[2] << roles[fields[3]];
        ++rows;
    }
    QVERIFY(rows > 0);
}

// The names the help and the players rely on, each with the role a screen reader announces.
void TestAccessibility::namedControls()
{
    QFETCH(QString, window);
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);
    QAccessibleInterface *iface = accessibleOf(m_windows->byName(window), control);
    QVERIFY(iface);
    QCOMPARE(nameOf(iface), name);
    QCOMPARE(iface->role(), role);
}

void TestAccessibility::opponentMovesAreHeard_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("shown");

    const auto row = [](const char *what, const char *message, const char *display,
                        const char *shown) {
        QTest::newRow(what) << QByteArray(message) << QString::fromLatin1(display)
                            << QString::fromLatin1(shown);
    };
    row("monster zone", "13Dragon", "lblP2Monster3", "Dragon");
    row("life points", "027100", "lblP2LP", "7100");
    row("cards in hand", "014", "lblP2Hand", "4");
    row("deck", "0335", "lblP2Deck", "35");
    row("status line", "18Opponent is thinking", "lblStatus", "Opponent is thinking");
}

// A plain peer's message changes one display: a screen reader hears the new text replace the
// old on that display, once, and the focus stays where the player left it. The same message
// again changes nothing and is not heard.
void TestAccessibility::opponentMovesAreHeard()
{
#ifndef SKARNET_CAN_LISTEN_AS_READER
    QSKIP("needs Qt's private headers (qt6-base-private-dev) to listen as a screen reader");
#endif
    QFETCH(QByteArray, message);
    QFETCH(QString, display);
    QFETCH(QString, shown);
    LinkHarness::Seat seat;
    QVERIFY(seat.showActive());
    LinkHarness::PlainPeer peer;
    QVERIFY(LinkHarness::plainLink(seat, peer));
    auto *label = seat.control<QLabel>(display);
    QVERIFY(label);
    const QString before = label->text();
    QWidget *focused = QApplication::focusWidget();
    QVERIFY(focused);

    ReaderEar ear;
    peer.send(message);
    QTRY_COMPARE(label->text(), shown);
    // The link indicator beside the status line says, once, that the peer does not encrypt;
    // that is heard on its own label.
    const auto heardOnBoard = [] {
        QList<ReaderEar::Heard> heard = ReaderEar::heard();
        heard.removeIf([](const ReaderEar::Heard &entry) {
            return entry.object->objectName() == QLatin1String("lblProtection");
        });
        return heard;
    };
    const QList<ReaderEar::Heard> heard = heardOnBoard();
    QCOMPARE(heard.size(), 1);
    QCOMPARE(heard[0].type, QAccessible::TextUpdated);
    QCOMPARE(heard[0].object, label);
    QCOMPARE(heard[0].removed, before);
    QCOMPARE(heard[0].inserted, shown);
    QCOMPARE(heard[0].position, 0);

    peer.send(message);
    QTest::qWait(LinkHarness::SettleMs);
    QCOMPARE(label->text(), shown);
    QCOMPARE(heardOnBoard().size(), 1);
    QCOMPARE(QApplication::focusWidget(), focused);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
