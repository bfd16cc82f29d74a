#include "BoardWindow.h"

#include "board/LifePoints.h"
#include "board/TableProtocol.h"
#include "board/ZoneTable.h"
#include "boardwindow/AnnouncementBox.h"
#include "boardwindow/BoardLayout.h"
#include "boardwindow/BoardRecovery.h"
#include "boardwindow/OpponentMarks.h"
#include "chance/CoinDiceWindow.h"
#include "connections/ConnectionsWindow.h"
#include "platform/PlatformServices.h"
#include "platform/ValueLabel.h"
#include "router/PortMappingScheduler.h"
#include "trust/Identity.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString Title = QStringLiteral("Skarnet");

// A secondary window that is open already comes forward instead of opening again.
void bringForward(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

BoardWindow::BoardWindow(PlatformServices &platform, int port, double factor, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
    , m_table(new TableProtocol(port, this))
    , m_platform(platform)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(Title);
    setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));
    // The window opens with its outer corner at the screen's top-left corner.
    move(0, 0);
    m_controls = BoardLayout::build(this, factor);
    m_marks = new OpponentMarks(m_controls, this);
    m_marks->setEnabled(ConnectionsWindow::marksOpponentChanges(m_platform));
    connectControls();
    connectTable();
    new AnnouncementBox(*m_table, m_platform, this);
    m_controls.connectionsButton->setFocus();
    // The chat name the player used last time.
    const QString name = m_platform.remembered(QStringLiteral("chat/name"));
    if (!name.isEmpty())
        m_controls.chatName->setText(name);
    connect(m_controls.chatName, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_platform.remember(QStringLiteral("chat/name"), text);
        boardChanged();
    });
}

BoardWindow::~BoardWindow()
{
    leave();
    delete m_connections;
    delete m_coinDice;
}

PeerLink &BoardWindow::link() const
{
    return m_table->link();
}

void BoardWindow::connectControls()
{
    const BoardControls &c = m_controls;
    connect(c.connectionsButton, &QPushButton::clicked, this, &BoardWindow::onConnectionsClicked);
    connect(c.coinDiceButton, &QPushButton::clicked, this, &BoardWindow::onCoinDiceClicked);
    connect(c.sendButton, &QPushButton::clicked, this, &BoardWindow::onSendClicked);
    connect(c.addButton, &QPushButton::clicked, this, &BoardWindow::onAddClicked);
    connect(c.subtractButton, &QPushButton::clicked, this, &BoardWindow::onSubtractClicked);
    connect(c.chatMessage, &QLineEdit::returnPressed, this, &BoardWindow::sendChatLine);
    // The newest line of the opponent's graveyard and of the chat stays in view.
    connect(c.opponentGraveyard, &QPlainTextEdit::textChanged, this,
            [graveyard = c.opponentGraveyard] {
                graveyard->moveCursor(QTextCursor::End);
                graveyard->ensureCursorVisible();
            });
    connect(c.chatLog, &QPlainTextEdit::textChanged, this, [this, log = c.chatLog] {
        boardChanged();
        log->moveCursor(QTextCursor::End);
        log->ensureCursorVisible();
    });
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const BoardControls::Zone &controls = m_controls.zone(zone);
        const auto edited = [this, &zone] {
            onZoneEdited(zone);
        };
        if (controls.lineEditor)
            connect(controls.lineEditor, &QLineEdit::textChanged, this, edited);
        else
            connect(controls.textEditor, &QPlainTextEdit::textChanged, this, edited);
    }
}

// What the peer sends is shown; what it announces has a box of its own (AnnouncementBox).
void BoardWindow::connectTable()
{
    TableProtocol *table = m_table;
    connect(table, &TableProtocol::statusChanged, m_controls.status, &ValueLabel::setText);
    const auto showProtection = [this] {
        const PeerLink::Protection protection = m_table->protection();
        QString text;
        if (protection != PeerLink::Protection::None) {
            text = TableProtocol::protectionText(protection);
            if (!m_table->pathText().isEmpty())
                text += QStringLiteral(", ") + m_table->pathText();
        }
        m_controls.protection->setText(text);
    };
    connect(table, &TableProtocol::protectionChanged, this, showProtection);
    connect(table, &TableProtocol::pathChanged, this, showProtection);
    // A joining copy's reply is in the connections window, which comes forward to show it.
    connect(table, &TableProtocol::replyChanged, this, [this] {
        if (!m_table->replyLine().isEmpty())
            onConnectionsClicked();
    });
    connect(table, &TableProtocol::copyLinked, this, &BoardWindow::sendWholeHalf);
    connect(table, &TableProtocol::zoneTextReceived, this,
            [this](const ZoneMirror &zone, const QString &text) {
                if (m_controls.showOpponentText(zone, text))
                    m_marks->changed(zone);
                boardChanged();
            });
    connect(table, &TableProtocol::chatLineReceived, this, [this](const QString &line) {
        m_controls.appendToChat(line);
        m_platform.beep();
    });
}

void BoardWindow::setPortMapper(PortMappingScheduler *mapper)
{
    m_portMapper = mapper;
    connect(m_table, &TableProtocol::listening, mapper, &PortMappingScheduler::start);
    // Where the router cannot open the port, invitations offer a path through both routers.
    connect(mapper, &PortMappingScheduler::changed, m_table, [this](const PortMappingResult &r) {
        using Outcome = PortMappingResult::Outcome;
        if (r.outcome != Outcome::Asking)
            m_table->setDirectPathServes(r.outcome != Outcome::NoRouter &&
                                         r.outcome != Outcome::Refused &&
                                         r.outcome != Outcome::BehindAnotherNetwork);
    });
}

// Every change of a local zone, typed or set by the program, goes to the peer at once, whole.
// A text too long for the other copy to take is refused: the editor keeps what it held.
void BoardWindow::onZoneEdited(const ZoneMirror &zone)
{
    if (!m_controls.acceptOwnText(zone)) {
        // Said once the edit has returned: a box runs an event loop of its own.
        QTimer::singleShot(0, this, [this, caption = zone.caption] {
            m_platform.messageBox(this,
                                  tr("That text is too long to send to your opponent (at most "
                                     "1 MiB in one zone), so the %1 keeps what it held.")
                                      .arg(caption),
                                  Title);
        });
        return;
    }
    boardChanged();
    m_table->sendZoneText(zone, m_controls.acceptedTexts[ZoneTable::indexOf(zone)]);
}

// Sent once two of our copies have agreed on frames: the opponent then sees this half as it
// is now, set up before the link or changed while it was down, not the initial values. A
// peer that only knows the plain table gets nothing more than before.
void BoardWindow::sendWholeHalf()
{
    for (const ZoneMirror &zone : ZoneTable::all())
        onZoneEdited(zone);
}

void BoardWindow::start()
{
    m_platform.messageBox(nullptr, QStringLiteral("This program was made thanks to Tarvo"),
                          QStringLiteral("Thanks"));
    if (m_recovery)
        m_recovery->offer();
    startListening();
}

void BoardWindow::startListening()
{
    m_table->setIceSettings(ConnectionsWindow::iceSettings(m_platform));
    m_table->listen();
}

void BoardWindow::keepIdentityIn(const QString &folder)
{
    Identity identity = Identity::loadOrCreate(folder);
    if (!identity.isValid()) {
        // A data folder that cannot be written: an identity for this run alone, so that links
        // are still encrypted; the status line already says the folder cannot be used.
        m_runIdentityFolder = std::make_unique<QTemporaryDir>();
        if (m_runIdentityFolder->isValid())
            identity = Identity::loadOrCreate(m_runIdentityFolder->path());
    }
    if (identity.isValid())
        m_table->setIdentity(identity.certificate(), identity.privateKey());
    // Said once the window is up: a new identity voids the invitations given out before.
    const QString news = identity.notice();
    if (!news.isEmpty())
        QTimer::singleShot(0, this, [this, news] { m_platform.messageBox(this, news, Title); });
}

void BoardWindow::openInvitation(const QString &text)
{
    const QString problem = ConnectionsWindow::dialAnswer(*m_table, text);
    if (!problem.isEmpty())
        m_controls.status->setText(problem);
}

void BoardWindow::setInvitedOnly(bool invitedOnly)
{
    m_table->setInvitedOnly(invitedOnly);
}

void BoardWindow::keepRecoveryIn(const QString &folder)
{
    m_recovery = new BoardRecovery(folder, m_table->port(), m_controls, m_platform, this);
    // Queued: a folder found unusable at start is said after listening has set the status line.
    connect(m_recovery, &BoardRecovery::cannotKeep, m_controls.status, &ValueLabel::setText,
            Qt::QueuedConnection);
}

void BoardWindow::boardChanged()
{
    if (m_recovery)
        m_recovery->changed();
}

void BoardWindow::onConnectionsClicked()
{
    if (!m_connections) {
        auto *connections = new ConnectionsWindow(*m_table, m_platform, m_portMapper);
        connect(connections, &ConnectionsWindow::markOpponentChangesToggled, m_marks,
                &OpponentMarks::setEnabled);
        m_connections = connections;
    }
    bringForward(m_connections);
}

void BoardWindow::onCoinDiceClicked()
{
    if (!m_coinDice)
        m_coinDice = new CoinDiceWindow(*m_table, m_platform);
    bringForward(m_coinDice);
}

void BoardWindow::onSendClicked()
{
    m_platform.beep();
    sendChatLine();
}

// A line goes out, into the log and out of the box only while a link is up.
void BoardWindow::sendChatLine()
{
    const QString line =
        TableProtocol::chatLine(m_controls.chatName->text(), m_controls.chatMessage->text());
    if (line.isEmpty() || !m_table->sendChatLine(line))
        return;
    m_controls.appendToChat(line);
    m_controls.chatMessage->clear();
}

void BoardWindow::onAddClicked()
{
    if (const auto total = LifePoints::add(m_controls.ownLifePoints->text(),
                                           m_controls.lifePointsAmount->text())) {
        m_controls.ownLifePoints->setText(*total);
        m_controls.lifePointsAmount->clear();
    }
}

void BoardWindow::onSubtractClicked()
{
    if (const auto total = LifePoints::subtract(m_controls.ownLifePoints->text(),
                                                m_controls.lifePointsAmount->text())) {
        m_controls.ownLifePoints->setText(*total);
        m_controls.lifePointsAmount->clear();
    }
    m_platform.beep();
}

void BoardWindow::closeEvent(QCloseEvent *event)
{
    leave();
    m_platform.endProgram();
    event->accept();
}

// The recovery copy is not needed after a clean end, and the other copy hears goodbye.
void BoardWindow::leave()
{
    if (m_recovery)
        m_recovery->finish();
    m_table->leave();
}

#include "moc_BoardWindow.cpp"
