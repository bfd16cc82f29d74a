#include "FrmMain.h"

#include "board/BoardLayout.h"
#include "board/BoardSnapshot.h"
#include "board/LifePoints.h"
#include "board/RecoveryFile.h"
#include "board/ZoneTable.h"
#include "chance/DrawSentences.h"
#include "chance/FrmOutcome.h"
#include "connections/FrmConnections.h"
#include "link/DrawExchange.h"
#include "link/DrawProtocol.h"
#include "link/PeerSocket.h"
#include "link/PortMapper.h"
#include "link/WireMessage.h"
#include "platform/PlatformServices.h"
#include "platform/ValueLabel.h"

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

namespace {

// Gives a read-only list box `text` by replacing only the part that differs from what it shows.
// Each keystroke of the opponent resends the whole list; replacing it all would lay out every
// line again, so a long graveyard would get slower with every card.
void replaceChangedText(QPlainTextEdit *box, const QString &text)
{
    const QString shown = box->toPlainText();
    if (shown == text)
        return;
    const qsizetype limit = std::min(shown.size(), text.size());
    qsizetype prefix = 0;
    while (prefix < limit && shown[prefix] == text[prefix])
        ++prefix;
    if (prefix > 0 && shown[prefix - 1].isHighSurrogate())
        --prefix; // never split a character in two
    qsizetype suffix = 0;
    while (suffix < limit - prefix &&
           shown[shown.size() - 1 - suffix] == text[text.size() - 1 - suffix])
        ++suffix;
    if (suffix > 0 && shown[shown.size() - suffix].isLowSurrogate())
        --suffix;
    QTextCursor cursor(box->document());
    cursor.beginEditBlock();
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(shown.size() - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(text.mid(prefix, text.size() - prefix - suffix));
    cursor.endEditBlock();
}

} // namespace

FrmMain::FrmMain(PlatformServices &platform, int port, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
    , W1(new PeerSocket(this))
    , m_platform(platform)
    , m_port(port)
    , m_draws(new DrawExchange(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Skarnet"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));
    // The window opens with its outer corner at the screen's top-left corner.
    move(0, 0);
    W1->setObjectName(QStringLiteral("W1"));
    m_controls = BoardLayout::build(this);
    connect(m_controls.lblP2Grave, &QPlainTextEdit::textChanged, this, &FrmMain::lblP2Grave_Change);
    connect(m_controls.txtChat, &QPlainTextEdit::textChanged, this, &FrmMain::txtChat_Change);
    connectControls();
    connectZoneEditors();
    m_controls.cmdConnections->setFocus();
    // The chat name the player used last time.
    const QString name = m_platform.remembered(QStringLiteral("chat/name"));
    if (!name.isEmpty())
        m_controls.txtName->setText(name);
    connect(m_controls.txtName, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_platform.remember(QStringLiteral("chat/name"), text);
        boardChanged();
    });

    connect(W1, &PeerSocket::ConnectionRequest, this, &FrmMain::W1_ConnectionRequest);
    connect(W1, &PeerSocket::FramingAgreed, this, [this] {
        m_peerSpoke = true;
        m_draws->linkEnded();
        sendWholeHalf();
    });
    connect(W1, &PeerSocket::DataArrival, this, &FrmMain::W1_DataArrival);
    connect(W1, &PeerSocket::CloseEvent, this, &FrmMain::W1_Close);
    connect(W1, &PeerSocket::LinkError, this, &FrmMain::W1_Error);
    // A lost link between two copies is found again by the socket; the board only shows how.
    connect(W1, &PeerSocket::RelinkStatus, m_controls.lblStatus, &ValueLabel::setText);
    connectDraws();
}

// The other copy's draws are announced as its plain announcements are; a draw under way ends
// with the link it went over.
void FrmMain::connectDraws()
{
    connect(m_draws, &DrawExchange::outgoing, W1, &PeerSocket::SendData);
    connect(m_draws, &DrawExchange::opponentDrawSettled, this, [this](int faces, int face) {
        m_platform.announce(this, DrawSentences::sharedAnnouncement(faces, face),
                            QStringLiteral("Skarnet"));
    });
    connect(m_draws, &DrawExchange::opponentDrawUnchecked, this,
            [this](int faces, DrawExchange::Unchecked why) {
                m_platform.announce(this, DrawSentences::unchecked(faces, why),
                                    QStringLiteral("Skarnet"));
            });
    connect(W1, &PeerSocket::CloseEvent, m_draws, &DrawExchange::linkEnded);
    connect(W1, &PeerSocket::LinkError, m_draws, &DrawExchange::linkEnded);
    connect(W1, &PeerSocket::RelinkStatus, m_draws, &DrawExchange::linkEnded);
}

void FrmMain::connectControls()
{
    connect(m_controls.cmdConnections, &QPushButton::clicked, this, &FrmMain::cmdConnections_Click);
    connect(m_controls.cmdProb, &QPushButton::clicked, this, &FrmMain::cmdProb_Click);
    connect(m_controls.cmdSend, &QPushButton::clicked, this, &FrmMain::cmdSend_Click);
    connect(m_controls.cmdAdd, &QPushButton::clicked, this, &FrmMain::cmdAdd_Click);
    connect(m_controls.cmdSubtract, &QPushButton::clicked, this, &FrmMain::cmdSubtract_Click);
    connect(m_controls.txtMessage, &QLineEdit::returnPressed, this, &FrmMain::txtMessage_KeyPress);
}

void FrmMain::connectZoneEditors()
{
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const BoardControls::Zone &controls = m_controls.zone(zone);
        const auto changed = [this, &zone] {
            ZoneEditor_Change(zone);
        };
        if (controls.lineEditor)
            connect(controls.lineEditor, &QLineEdit::textChanged, this, changed);
        else
            connect(controls.textEditor, &QPlainTextEdit::textChanged, this, changed);
    }
}

// Every change of a local zone, typed or set by the program, goes to the peer at once, whole.
void FrmMain::ZoneEditor_Change(const ZoneMirror &zone)
{
    boardChanged();
    if (W1->State() != PeerSocket::Connected)
        return;
    const BoardControls::Zone &controls = m_controls.zone(zone);
    const QString text =
        controls.lineEditor ? controls.lineEditor->text() : controls.textEditor->toPlainText();
    W1->SendData(WireMessage::build(zone.code, WireMessage::toWireLineBreaks(text)));
}

// Sent once two of our copies have agreed on frames: the opponent then sees this half as it
// is now, set up before the link or changed while it was down, not the initial values. A
// peer that only knows the plain table gets nothing more than before.
void FrmMain::sendWholeHalf()
{
    for (const ZoneMirror &zone : ZoneTable::all())
        ZoneEditor_Change(zone);
}

void FrmMain::lblP2Grave_Change()
{
    m_controls.lblP2Grave->moveCursor(QTextCursor::End);
    m_controls.lblP2Grave->ensureCursorVisible();
}

void FrmMain::txtChat_Change()
{
    boardChanged();
    m_controls.txtChat->moveCursor(QTextCursor::End);
    m_controls.txtChat->ensureCursorVisible();
}

FrmMain::~FrmMain()
{
    if (m_recovery)
        m_recovery->finish();
    W1->SayGoodbyeAndClose();
    delete m_connections;
    delete m_outcome;
}

void FrmMain::Form_Load()
{
    m_platform.messageBox(nullptr, QStringLiteral("This program was made thanks to Tarvo"),
                          QStringLiteral("Thanks"));
    offerRecovery();
    startListening();
}

void FrmMain::keepRecoveryIn(const QString &folder)
{
    m_recovery = new RecoveryFile(
        folder, m_port, [this] { return snapshot(); }, this);
    // Queued: a folder found unusable at start is said after listening has set the status line.
    connect(
        m_recovery, &RecoveryFile::cannotKeep, this,
        [this](const QString &reason) {
            m_controls.lblStatus->setText(tr("Cannot keep a recovery copy: %1").arg(reason));
        },
        Qt::QueuedConnection);
}

BoardSnapshot FrmMain::snapshot() const
{
    BoardSnapshot snapshot;
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const BoardControls::Zone &controls = m_controls.zone(zone);
        const std::size_t row = ZoneTable::indexOf(zone);
        snapshot.localZones[row] =
            controls.lineEditor ? controls.lineEditor->text() : controls.textEditor->toPlainText();
        snapshot.opponentZones[row] = controls.labelDisplay ? controls.labelDisplay->text()
                                                            : controls.listDisplay->toPlainText();
    }
    snapshot.name = m_controls.txtName->text();
    snapshot.chat = m_controls.txtChat->toPlainText();
    return snapshot;
}

// What a run that did not end cleanly left: offered once, before this copy can be reached.
void FrmMain::offerRecovery()
{
    if (!m_recovery || !m_recovery->claim())
        return;
    const RecoveryFile::Found found = m_recovery->find();
    switch (found.kind) {
    case RecoveryFile::Found::Kind::Nothing:
        return;
    case RecoveryFile::Found::Kind::Unreadable:
        m_platform.messageBox(
            this,
            found.setAsidePath.isEmpty()
                ? tr("Skarnet could not read the recovery copy of your last game (%1), so it "
                     "starts with an empty board.")
                      .arg(found.problem)
                : tr("Skarnet could not read the recovery copy of your last game (%1), so it "
                     "starts with an empty board. The file was kept as %2.")
                      .arg(found.problem, QDir::toNativeSeparators(found.setAsidePath)),
            QStringLiteral("Skarnet"));
        return;
    case RecoveryFile::Found::Kind::Snapshot:
        break;
    }
    const QString time = found.snapshot.savedAt.toLocalTime().toString(QStringLiteral("HH:mm"));
    if (m_platform.question(this,
                            tr("Skarnet did not close properly last time. Restore your half of "
                               "the board and the chat from %1?")
                                .arg(time),
                            QStringLiteral("Skarnet")))
        restore(found.snapshot);
    else
        m_recovery->remove();
}

// The local half goes in as if typed, so that the whole-half resend of a link carries it to
// the opponent; the opponent half and the chat are shown as they were.
void FrmMain::restore(const BoardSnapshot &snapshot)
{
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const BoardControls::Zone &controls = m_controls.zone(zone);
        const std::size_t row = ZoneTable::indexOf(zone);
        if (controls.lineEditor)
            controls.lineEditor->setText(snapshot.localZones[row]);
        else
            controls.textEditor->setPlainText(snapshot.localZones[row]);
        if (controls.labelDisplay)
            controls.labelDisplay->setText(snapshot.opponentZones[row]);
        else
            controls.listDisplay->setPlainText(snapshot.opponentZones[row]);
    }
    m_controls.txtName->setText(snapshot.name);
    m_controls.txtChat->setPlainText(snapshot.chat);
    appendToChat(tr("(Board and chat restored from %1)")
                     .arg(snapshot.savedAt.toLocalTime().toString(QStringLiteral("HH:mm"))));
}

void FrmMain::boardChanged()
{
    if (m_recovery)
        m_recovery->changed();
}

void FrmMain::startListening()
{
    W1->Close();
    W1->SetLocalPort(m_port);
    if (W1->Listen()) {
        m_controls.lblStatus->setText(StatusText::WaitingForConnection);
        if (m_portMapper)
            m_portMapper->start(W1->LocalPort());
    } else {
        m_controls.lblStatus->setText(
            tr("Cannot listen on port %1: %2").arg(m_port).arg(W1->ListenError()));
    }
}

void FrmMain::cmdConnections_Click()
{
    if (!m_connections) {
        auto *connections = new FrmConnections(*W1, m_port, m_platform, m_portMapper);
        connect(connections, &FrmConnections::statusChanged, m_controls.lblStatus,
                &ValueLabel::setText);
        connect(connections, &FrmConnections::listenAgainRequested, this, &FrmMain::startListening);
        m_connections = connections;
    }
    showSecondaryWindow(m_connections);
}

void FrmMain::cmdProb_Click()
{
    if (!m_outcome)
        m_outcome = new FrmOutcome(*W1, m_platform, m_draws);
    showSecondaryWindow(m_outcome);
}

// A secondary window that is open already comes forward instead of opening again.
void FrmMain::showSecondaryWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

void FrmMain::cmdSend_Click()
{
    m_platform.beep();
    if (W1->State() == PeerSocket::Connected && !m_controls.txtMessage->text().isEmpty())
        sendChatLine();
}

void FrmMain::txtMessage_KeyPress()
{
    if (W1->State() == PeerSocket::Connected && !m_controls.txtMessage->text().isEmpty())
        sendChatLine();
}

void FrmMain::sendChatLine()
{
    const QString line =
        m_controls.txtName->text() + QStringLiteral(": ") + m_controls.txtMessage->text();
    W1->SendData(WireMessage::build(WireCode::Chat, line));
    appendToChat(line);
    m_controls.txtMessage->clear();
}

void FrmMain::cmdAdd_Click()
{
    if (const auto total =
            LifePoints::add(m_controls.txtP1LP->text(), m_controls.txtValue->text())) {
        m_controls.txtP1LP->setText(*total);
        m_controls.txtValue->clear();
    }
}

void FrmMain::cmdSubtract_Click()
{
    if (const auto total =
            LifePoints::subtract(m_controls.txtP1LP->text(), m_controls.txtValue->text())) {
        m_controls.txtP1LP->setText(*total);
        m_controls.txtValue->clear();
    }
    m_platform.beep();
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload()
{
    if (m_recovery)
        m_recovery->finish();
    W1->SayGoodbyeAndClose();
    m_platform.endProgram();
}

void FrmMain::W1_ConnectionRequest(int requestId)
{
    W1->Close();
    m_peerSpoke = false;
    W1->Accept(requestId);
    // Shown before sending: a requester already gone makes that first send end the link, and
    // the status line must then keep the "Disconnected" that the ending writes into it.
    m_controls.lblStatus->setText(StatusText::Connected);
    W1->SendData(WireMessage::build(WireCode::Status, StatusText::Connected));
}

void FrmMain::W1_DataArrival(const WireMessage &message)
{
    apply(message);
}

// A requester that goes before saying a word of the table is no opponent: a port scanner, or a
// program that knocked on the wrong door. The copy listens again at once, as if nothing had
// happened, so that the real opponent still finds it waiting.
bool FrmMain::endedBeforePeerSpoke() const
{
    return W1->AcceptedLink() && !m_peerSpoke;
}

// The socket may still be inside the read or send that found the link gone, so listening
// starts once that has returned; a link that reports its end twice is listened after once.
void FrmMain::listenAgainSoon()
{
    m_controls.lblStatus->setText(StatusText::WaitingForConnection);
    if (m_listenAgainQueued)
        return;
    m_listenAgainQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_listenAgainQueued = false;
            startListening();
        },
        Qt::QueuedConnection);
}

void FrmMain::W1_Close()
{
    if (endedBeforePeerSpoke()) {
        listenAgainSoon();
        return;
    }
    W1->Close();
    // The peer may have gone without saying goodbye; the link is down either way.
    m_controls.lblStatus->setText(StatusText::Disconnected);
}

void FrmMain::W1_Error(const QString &description)
{
    if (endedBeforePeerSpoke()) {
        listenAgainSoon();
        return;
    }
    m_controls.lblStatus->setText(description);
}

void FrmMain::apply(const WireMessage &message)
{
    // The steps of a shared draw come only from a copy that takes part in them; from any other
    // peer they are dropped as every code outside the table is.
    if (DrawProtocol::isDrawCode(message.code)) {
        if (W1->drawsTogether())
            m_draws->receive(message);
        return;
    }
    // The peer's text is shown as it is, never read as markup: every display is plain text.
    const MessageRoute route = ZoneTable::route(message.code);
    if (route.kind != MessageRoute::Kind::Ignored)
        m_peerSpoke = true;
    switch (route.kind) {
    case MessageRoute::Kind::Zone: {
        const BoardControls::Zone &controls = m_controls.zone(*route.zone);
        const QString text = WireMessage::fromWireLineBreaks(message.payload);
        if (controls.labelDisplay)
            controls.labelDisplay->setText(text);
        else
            replaceChangedText(controls.listDisplay, text);
        boardChanged();
        break;
    }
    case MessageRoute::Kind::Chat:
        appendToChat(WireMessage::fromWireLineBreaks(message.payload));
        m_platform.beep();
        break;
    case MessageRoute::Kind::Status:
        m_controls.lblStatus->setText(message.payload);
        break;
    case MessageRoute::Kind::Announcement:
        m_platform.announce(this, message.payload, QStringLiteral("Skarnet"));
        break;
    case MessageRoute::Kind::Ignored:
        break;
    }
}

// Adds an entry and an empty line at the end of the log without rebuilding the text before
// it, so a long conversation costs no more per line than a short one.
void FrmMain::appendToChat(const QString &entry)
{
    QTextCursor end(m_controls.txtChat->document());
    end.movePosition(QTextCursor::End);
    end.insertText(entry + QStringLiteral("\n\n"));
}
