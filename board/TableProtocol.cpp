#include "TableProtocol.h"

#include "ZoneTable.h"
#include "draws/DrawExchange.h"
#include "ice/PathExchange.h"
#include "link/PeerLink.h"
#include "trust/Invitation.h"
#include "wire/MessageReader.h"
#include "wire/WireMessage.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QTimer>

TableProtocol::TableProtocol(int port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_link(new PeerLink(this))
    , m_draws(new DrawExchange(this))
    , m_paths(new PathExchange(this))
    , m_directTry(new QTimer(this))
{
    m_directTry->setSingleShot(true);
    m_directTry->setInterval(DirectTryMs);
    connect(m_directTry, &QTimer::timeout, this, [this] {
        if (!m_link->isConnected())
            joinOverUdp();
    });
    connect(m_paths, &PathExchange::invitationPartChanged, this, &TableProtocol::invitationChanged);
    connect(m_paths, &PathExchange::replyChanged, this, &TableProtocol::replyChanged);
    connect(m_paths, &PathExchange::pathChanged, this, &TableProtocol::pathChanged);
    connect(m_paths, &PathExchange::stillLooking, this, &TableProtocol::statusChanged);
    connect(m_paths, &PathExchange::failed, this, [this](const QString &reason) {
        // While a link is up or being found again, the status line tells of that link.
        if (!m_link->isConnected() && !m_link->isRelinking())
            emit statusChanged(reason);
        emit statusNotice(reason);
    });
    connect(m_paths, &PathExchange::hostLinked, this,
            [this](QTcpSocket *socket) { m_link->arriveOver(socket); });
    connect(m_paths, &PathExchange::joinerLinked, this,
            [this](QTcpSocket *socket, const Invitation &invitation) {
                m_peerGoodbye.clear();
                m_link->dialOver(socket, invitation.fingerprint, invitation.ticket);
            });
    connect(m_link, &PeerLink::connectionRequested, this, &TableProtocol::acceptRequest);
    connect(m_link, &PeerLink::framingAgreed, this, [this] {
        m_peerSpoke = true;
        m_draws->linkEnded();
        emit copyLinked();
    });
    connect(m_link, &PeerLink::messageReceived, this, &TableProtocol::receive);
    connect(m_link, &PeerLink::closedByPeer, this, [this] {
        // The peer may have gone without saying goodbye; the link is down either way.
        if (!visitorLeft())
            m_link->close();
        // A goodbye that gave a reason keeps it on the status line.
        linkEnded(m_peerGoodbye.isEmpty() ? StatusText::Disconnected : m_peerGoodbye);
    });
    connect(m_link, &PeerLink::failed, this, [this](const QString &description) {
        if (m_directTry->isActive()) {
            joinOverUdp();
            return;
        }
        // The listener stays open while a peer sits at the table; a link that ended by a fault
        // leaves this copy as a goodbye does, not listening until the player waits again.
        if (!visitorLeft())
            m_link->close();
        linkEnded(description);
    });
    // A lost link between two copies is found again by the link; the board only shows how.
    connect(m_link, &PeerLink::relinkStatusChanged, this, [this](const QString &text) {
        emit statusChanged(text);
        m_draws->linkEnded();
    });
    connect(m_draws, &DrawExchange::outgoing, m_link, &PeerLink::send);
    connect(m_link, &PeerLink::protectionChanged, this, &TableProtocol::protectionChanged);
    connect(m_link, &PeerLink::seatTaken, this, &TableProtocol::seatTaken);
    connect(m_link, &PeerLink::arrivalRefused, this,
            [this](const QString &address, const QString &reason) {
                emit statusNotice(tr("Refused a connection from %1: %2.").arg(address, reason));
            });
    connect(this, &TableProtocol::statusNotice, this,
            [this](const QString &text) { m_lastNotice = text; });
    m_link->setSeatJudge([this](const PeerLink::SeatClaim &claim) { return judge(claim); });
}

void TableProtocol::setIdentity(const QSslCertificate &certificate, const QSslKey &key)
{
    m_link->setIdentity(certificate, key);
    m_fingerprint = certificate.digest(QCryptographicHash::Sha256);
    m_paths->setOwnFingerprint(m_fingerprint.left(Invitation::FingerprintBytes));
}

void TableProtocol::setIceSettings(const IceSettings &settings)
{
    m_paths->setSettings(settings);
}

IceSettings TableProtocol::iceSettings() const
{
    return m_paths->settings();
}

void TableProtocol::setDirectPathServes(bool serves)
{
    m_directPathServes = serves;
    // Without an identity no invitation is made, so nothing is gathered for one.
    m_paths->setOffering(!serves && !m_fingerprint.isEmpty());
}

QString TableProtocol::invitationLine(const QString &host, int port) const
{
    if (m_fingerprint.isEmpty())
        return {};
    Invitation invitation;
    invitation.host = host;
    invitation.port = port;
    invitation.fingerprint = m_fingerprint.left(Invitation::FingerprintBytes);
    invitation.ticket = m_tickets.current();
    if (m_paths->offering()) {
        invitation.ice = m_paths->invitationPart();
        if (invitation.ice.isEmpty())
            return {};
    }
    return invitation.line();
}

QString TableProtocol::invitationTrouble() const
{
    return m_paths->offerTrouble();
}

QString TableProtocol::replyLine() const
{
    return m_paths->replyLine();
}

QString TableProtocol::acceptReply(const QString &text)
{
    return m_paths->acceptReply(text);
}

QString TableProtocol::pathText() const
{
    if (!m_paths->pathText().isEmpty())
        return m_paths->pathText();
    return m_link->isConnected() && !m_link->overOtherPath() ? tr("direct") : QString();
}

PeerLink::Protection TableProtocol::protection() const
{
    return m_link->protection();
}

QString TableProtocol::protectionText(PeerLink::Protection protection)
{
    switch (protection) {
    case PeerLink::Protection::Invited:
        return tr("invited opponent, encrypted");
    case PeerLink::Protection::Encrypted:
        return tr("encrypted, not verified");
    case PeerLink::Protection::Plain:
        return tr("older program, not encrypted");
    case PeerLink::Protection::None:
        break;
    }
    return tr("not connected");
}

// A ticket decides: this table's current one seats its bearer, whoever sits there now. Without
// a ticket a copy sits only at an open table, and only where nobody who spoke sits already.
PeerLink::SeatVerdict TableProtocol::judge(const PeerLink::SeatClaim &claim)
{
    PeerLink::SeatVerdict verdict;
    // Over a path a reply led to, only the copy that sent the reply may sit.
    if (claim.overOtherPath && !m_paths->expectedJoiner().isEmpty() &&
        !claim.fingerprint.startsWith(m_paths->expectedJoiner())) {
        verdict.goodbye = tr("Disconnected: this copy is not the one whose reply was pasted");
        verdict.reason = tr("it is not the copy whose reply was pasted");
        return verdict;
    }
    if (!claim.ticket.isEmpty()) {
        if (m_tickets.redeem(claim.ticket) == TicketBook::Verdict::Valid) {
            verdict.admitted = true;
            verdict.invited = true;
            emit invitationChanged();
            return verdict;
        }
        verdict.goodbye = tr("Disconnected: this invitation was replaced or already used; ask "
                             "the other player for a new one");
        verdict.reason = tr("its invitation was replaced or already used");
        return verdict;
    }
    if (m_invitedOnly) {
        verdict.goodbye = tr("Disconnected: this table seats only the player it invited; ask "
                             "the other player for an invitation");
        verdict.reason = tr("it came without this table's invitation");
        return verdict;
    }
    if (claim.seatTaken && (m_peerSpoke || m_link->protection() == PeerLink::Protection::Invited)) {
        verdict.goodbye = tr("Disconnected: the table is taken");
        verdict.reason = tr("the table is taken");
        return verdict;
    }
    verdict.admitted = true;
    return verdict;
}

void TableProtocol::renewInvitation()
{
    m_tickets.renew();
    emit invitationChanged();
}

void TableProtocol::seatTaken(const QString &letGo)
{
    m_peerSpoke = false;
    m_peerGoodbye.clear();
    m_draws->linkEnded();
    emit statusChanged(StatusText::Connected);
    m_link->send(WireMessage::build(WireCode::Status, StatusText::Connected));
    if (!letGo.isEmpty())
        emit statusNotice(
            tr("A copy with this table's invitation took the seat; %1 was let go.").arg(letGo));
}

TableProtocol::~TableProtocol()
{
    m_link->sayGoodbyeAndClose();
    // A relay holds an allocation for this copy until told otherwise.
    m_paths->closeAll(ClosingWaitMs);
}

bool TableProtocol::listen()
{
    m_link->close();
    m_link->setLocalPort(m_port);
    if (!m_link->listen()) {
        emit statusChanged(
            tr("Cannot listen on port %1: %2").arg(m_port).arg(m_link->listenError()));
        return false;
    }
    emit statusChanged(StatusText::WaitingForConnection);
    emit listening(m_link->localPort());
    return true;
}

void TableProtocol::dial(const QString &host, int port)
{
    m_link->close();
    m_peerGoodbye.clear();
    emit statusChanged(StatusText::WaitingForResponse);
    m_link->dial(host, port);
}

void TableProtocol::dial(const Invitation &invitation)
{
    // Two invitations that crossed: both copies decide alike which one stands.
    const QString crossed = m_paths->crossedSentence(invitation);
    if (!crossed.isEmpty()) {
        emit statusChanged(crossed);
        return;
    }
    m_link->close();
    m_peerGoodbye.clear();
    emit statusChanged(StatusText::WaitingForResponse);
    m_joining = invitation;
    if (!invitation.ice.isEmpty())
        m_directTry->start();
    m_link->dial(invitation.host, invitation.port, invitation.fingerprint, invitation.ticket);
}

// The direct dial did not come up in time: the other copy's port cannot be dialled, and its
// invitation offered a path over UDP instead.
void TableProtocol::joinOverUdp()
{
    m_directTry->stop();
    m_link->close();
    if (m_paths->join(m_joining))
        emit statusChanged(tr("The other player's port cannot be dialled directly: send them the "
                              "reply shown in Connections, and wait."));
    else
        emit statusChanged(tr("The invitation's path over UDP cannot be read: ask the other "
                              "player for a new invitation."));
}

void TableProtocol::leave()
{
    m_directTry->stop();
    m_link->sayGoodbyeAndClose();
    m_paths->linkEnded();
}

void TableProtocol::hangUp()
{
    leave();
    emit statusChanged(StatusText::Disconnected);
}

void TableProtocol::acceptRequest(int requestId)
{
    if (m_invitedOnly || m_link->isConnected() || m_link->isRelinking()) {
        m_link->audition(requestId);
        return;
    }
    // Without an identity no invited copy can come, so nobody could take the seat from this
    // requester: the copy stops listening, as it always did.
    if (m_fingerprint.isEmpty())
        m_link->close();
    m_peerSpoke = false;
    m_peerGoodbye.clear();
    m_link->accept(requestId);
    // Shown before sending: a requester already gone makes that first send end the link, and
    // the status line must then keep the "Disconnected" that the ending writes into it.
    emit statusChanged(StatusText::Connected);
    m_link->send(WireMessage::build(WireCode::Status, StatusText::Connected));
}

// A link ended by the peer or by a fault. A draw under way ends with the link it went over.
void TableProtocol::linkEnded(const QString &status)
{
    m_paths->linkEnded();
    if (visitorLeft())
        listenAgainSoon();
    else
        emit statusChanged(status);
    m_draws->linkEnded();
}

bool TableProtocol::visitorLeft() const
{
    return m_link->acceptedLink() && !m_peerSpoke;
}

// The link may still be inside the read or send that found it gone, so listening starts once
// that has returned; a link that reports its end twice is listened after once.
void TableProtocol::listenAgainSoon()
{
    emit statusChanged(StatusText::WaitingForConnection);
    // The listener stays open while a peer sits at the table.
    if (m_listenAgainQueued || m_link->isListening())
        return;
    m_listenAgainQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_listenAgainQueued = false;
            listen();
        },
        Qt::QueuedConnection);
}

bool TableProtocol::sendZoneText(const ZoneMirror &zone, const QString &editorText)
{
    if (!m_link->isConnected())
        return false;
    m_link->send(zoneTextMessage(zone, editorText));
    return true;
}

bool TableProtocol::sendChatLine(const QString &line)
{
    if (!m_link->isConnected())
        return false;
    m_link->send(chatMessage(line));
    return true;
}

bool TableProtocol::sendAnnouncement(const QString &text)
{
    if (!m_link->isConnected())
        return false;
    m_link->send(announcementMessage(text));
    return true;
}

bool TableProtocol::drawsTogether() const
{
    return m_link->drawsTogether();
}

QString TableProtocol::chatLine(const QString &name, const QString &text)
{
    const auto oneLine = [](const QString &typed) {
        QString line;
        line.reserve(typed.size());
        for (qsizetype i = 0; i < typed.size(); ++i) {
            const QChar ch = typed[i];
            if (ch == QLatin1Char('\r') && i + 1 < typed.size() &&
                typed[i + 1] == QLatin1Char('\n'))
                continue; // CR LF is one break
            // Line breaks and tabs part words; other control characters are dropped.
            if (ch == QLatin1Char('\r') || ch == QLatin1Char('\n') || ch == QLatin1Char('\t') ||
                ch == QChar::LineSeparator || ch == QChar::ParagraphSeparator)
                line.append(QLatin1Char(' '));
            else if (ch.category() != QChar::Other_Control)
                line.append(ch);
        }
        return line;
    };
    const QString said = oneLine(text);
    if (said.trimmed().isEmpty())
        return {};
    return oneLine(name) + QStringLiteral(": ") + said;
}

bool TableProtocol::fits(const ZoneMirror &zone, const QString &editorText)
{
    // Each UTF-16 unit takes one to three bytes of UTF-8, so most texts are decided without
    // building the message, which for a paste may be megabytes long.
    const qsizetype units =
        zone.code.size() + editorText.size() + editorText.count(QLatin1Char('\n'));
    if (3 * units <= MessageReader::MaxFrameBytes)
        return true;
    if (units > MessageReader::MaxFrameBytes)
        return false;
    return zoneTextMessage(zone, editorText).toUtf8().size() <= MessageReader::MaxFrameBytes;
}

QString TableProtocol::zoneTextMessage(const ZoneMirror &zone, const QString &editorText)
{
    return WireMessage::build(zone.code, WireMessage::toWireLineBreaks(editorText));
}

QString TableProtocol::chatMessage(const QString &line)
{
    return WireMessage::build(WireCode::Chat, line);
}

QString TableProtocol::announcementMessage(const QString &text)
{
    return WireMessage::build(WireCode::Announcement, text);
}

void TableProtocol::receive(const WireMessage &message)
{
    if (MessageTable::kindOf(message.code) == MessageKind::DrawStep) {
        if (drawsTogether())
            m_draws->receive(message);
        return;
    }
    const MessageRoute route = ZoneTable::route(message.code);
    if (route.kind != MessageRoute::Kind::Ignored)
        m_peerSpoke = true;
    switch (route.kind) {
    case MessageRoute::Kind::Zone:
        emit zoneTextReceived(*route.zone, WireMessage::fromWireLineBreaks(message.payload));
        break;
    case MessageRoute::Kind::Chat:
        emit chatLineReceived(WireMessage::fromWireLineBreaks(message.payload));
        break;
    case MessageRoute::Kind::Status:
        if (message.payload.startsWith(StatusText::Disconnected))
            m_peerGoodbye = message.payload;
        emit statusChanged(message.payload);
        break;
    case MessageRoute::Kind::Announcement:
        emit announcementReceived(message.payload);
        break;
    case MessageRoute::Kind::Ignored:
        break;
    }
}

#include "moc_TableProtocol.cpp"
