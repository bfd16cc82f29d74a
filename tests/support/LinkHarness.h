#pragma once

// Two windows of one process linked as two players would be, and plain TCP peers that speak
// only the message table, all on loopback with real sockets.
#include "Loopback.h"
#include "RecordingPlatform.h"
#include "board/TableProtocol.h"
#include "board/ZoneTable.h"
#include "boardwindow/BoardWindow.h"
#include "connections/ConnectionsWindow.h"
#include "link/PeerLink.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace LinkHarness {

inline QString textOf(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("<missing control>");
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *line = qobject_cast<const QLineEdit *>(widget))
        return line->text();
    if (const auto *box = qobject_cast<const QPlainTextEdit *>(widget))
        return box->toPlainText();
    return QStringLiteral("<%1 is not a text control>").arg(widget->objectName());
}

struct Seat
{
    RecordingPlatform platform;
    std::unique_ptr<BoardWindow> window;

    explicit Seat(int port = 0)
        : window(std::make_unique<BoardWindow>(platform, port))
    {
        window->start();
    }
    // A seat that keeps its recovery copy in `recoveryFolder`, answering the question about a
    // copy left there by an earlier run with `restore`.
    Seat(int port, const QString &recoveryFolder, bool restore)
        : window(std::make_unique<BoardWindow>(platform, port))
    {
        platform.yesNo = {restore};
        window->keepRecoveryIn(recoveryFolder);
        window->start();
    }
    // A seat with the identity kept in `identity.folder` (made there on first use): its links
    // with copies that encrypt use TLS.
    struct IdentityIn
    {
        QString folder;
    };
    explicit Seat(const IdentityIn &identity, int port = 0)
        : window(std::make_unique<BoardWindow>(platform, port))
    {
        window->keepIdentityIn(identity.folder);
        window->start();
    }
    QString status() const { return control<QLabel>(QStringLiteral("lblStatus"))->text(); }
    int port() const { return socket()->localPort(); }
    PeerLink *socket() const { return &window->link(); }

    template <typename T = QWidget> T *control(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
    QString text(const QString &name) const { return textOf(control(name)); }
    // Replaces the whole text of an editor at once, as a paste over all of it would.
    void setText(const char *name, const QString &text) const
    {
        QWidget *editor = control(QString::fromLatin1(name));
        if (auto *line = qobject_cast<QLineEdit *>(editor))
            line->setText(text);
        else if (auto *box = qobject_cast<QPlainTextEdit *>(editor))
            box->setPlainText(text);
    }

    // Shown and active, so that focus, Tab and access keys behave as for the player.
    bool showActive() const
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        window->activateWindow();
        return QTest::qWaitForWindowActive(window.get());
    }

    QMap<QString, QString> displayTexts() const
    {
        QMap<QString, QString> texts;
        for (const ZoneMirror &zone : ZoneTable::all())
            texts.insert(zone.displayName, text(zone.displayName));
        return texts;
    }
};

// Clicks "Connections Window" and returns the one connections window of that seat then open.
inline ConnectionsWindow *openConnections(Seat &seat)
{
    seat.control<QPushButton>(QStringLiteral("cmdConnections"))->click();
    QList<ConnectionsWindow *> open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *window = qobject_cast<ConnectionsWindow *>(widget);
        if (window && window->isVisible() && &window->table() == &seat.window->table())
            open.append(window);
    }
    return open.size() == 1 ? open.first() : nullptr;
}

// Waits until both status lines show `status`.
inline bool bothShow(const Seat &one, const Seat &other, const QString &status)
{
    return QTest::qWaitFor([&] { return one.status() == status && other.status() == status; },
                           LinkTimeoutMs);
}

// Waits until both seats report the link and frames are agreed.
inline bool bothLinked(const Seat &one, const Seat &other)
{
    return QTest::qWaitFor(
        [&] {
            return one.status() == StatusText::Connected &&
                   other.status() == StatusText::Connected && one.socket()->sendsFrames() &&
                   other.socket()->sendsFrames();
        },
        LinkTimeoutMs);
}

// Links `connecting` to `listening` the way the connections window does, dialling `port` (the
// listening seat's own unless given, or one that leads there), and waits until both are linked.
inline bool link(Seat &connecting, Seat &listening, int port = 0)
{
    connecting.socket()->close();
    connecting.socket()->dial(QStringLiteral("127.0.0.1"), port ? port : listening.port());
    return bothLinked(connecting, listening);
}

// Ends a link between two windows of this process while the event loop runs. Left to the
// destructors, each would wait for a goodbye from a window that cannot run meanwhile.
inline void unlink(Seat &closing, Seat &other)
{
    closing.window->close();
    (void)QTest::qWaitFor([&] { return other.socket()->state() == PeerLink::State::Closed; },
                          LinkTimeoutMs);
    QTest::qWait(20);
}

// Connects a plain peer to a listening seat; the seat keeps speaking the plain table to it.
inline bool plainLink(Seat &seat, PlainPeer &peer)
{
    if (!peer.connectTo(seat.port()))
        return false;
    return QTest::qWaitFor(
        [&] {
            return peer.received == "18Connected" && seat.status() == QLatin1String("Connected");
        },
        LinkTimeoutMs);
}

// Has `seat` connect out to a plain peer listening on `listener`, which greets it with
// "18Connected" as such a peer does; null when the link does not come up.
// Links a peer to a listening seat as plainLink does, then has it greet as a copy of `version`,
// so that both sides frame; the seat's whole half follows its greeting.
inline bool framedLink(Seat &seat, PlainPeer &peer, int version = UnencryptedCopy)
{
    if (!plainLink(seat, peer))
        return false;
    peer.send(greeting(version));
    const QByteArray reply = QByteArray("18Connected") + '\0' + greeting();
    if (!QTest::qWaitFor([&] { return peer.received.startsWith(reply); }, LinkTimeoutMs))
        return false;
    peer.send(QByteArray(1, '\0'));
    return QTest::qWaitFor(
        [&] { return seat.socket()->readsFrames() && seat.socket()->sendsFrames(); },
        LinkTimeoutMs);
}

inline std::unique_ptr<PlainPeer> dialPlainPeer(Seat &seat, QTcpServer &listener)
{
    seat.socket()->close();
    std::unique_ptr<PlainPeer> peer = plainPeerDialledBy(*seat.socket(), listener);
    if (!peer ||
        !QTest::qWaitFor([&] { return seat.status() == StatusText::Connected; }, LinkTimeoutMs))
        return nullptr;
    return peer;
}

} // namespace LinkHarness
