#include "PathExchange.h"

#include "link/PeerSession.h"
#include "trust/InvitationReply.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpSocket>

namespace {

// How long a path that carried a link stays open after the link ended, so that the goodbye
// and the closing handshake above it get through.
constexpr int GoodbyeMs = 1500;

} // namespace

PathExchange::PathExchange(QObject *parent)
    : QObject(parent)
{
    m_regather.setSingleShot(true);
    m_regather.setInterval(RegatherMs);
    connect(&m_regather, &QTimer::timeout, this, [this] {
        if (m_offering)
            offerFreshPath();
    });
    m_joinWait.setSingleShot(true);
    m_joinWait.setInterval(JoinWaitMs);
    // The joining copy cannot tell whether its reply was pasted yet: it keeps trying, and says
    // what would help if the other copy found no path either.
    connect(&m_joinWait, &QTimer::timeout, this, [this] {
        if (m_joinPath)
            emit stillLooking(
                tr("No path to the other player yet. If they pasted your reply and read that no "
                   "path was found, one of you needs a relay (STUN and relay… in Connections), "
                   "or they can dial you if your router opens a port."));
    });
}

PathExchange::~PathExchange()
{
    closeAll(0);
}

void PathExchange::setSettings(const IceSettings &settings)
{
    if (m_settings == settings)
        return;
    m_settings = settings;
    // The invitation named the old servers' addresses; the next one names the new ones.
    if (m_offering)
        offerFreshPath();
}

void PathExchange::setOffering(bool offering)
{
    if (m_offering == offering)
        return;
    m_offering = offering;
    if (offering) {
        offerFreshPath();
        return;
    }
    m_regather.stop();
    m_offerTrouble.clear();
    retire(m_hostPath);
    m_hostPart.clear();
    emit invitationPartChanged();
}

void PathExchange::offerFreshPath()
{
    m_regather.stop();
    retire(m_hostPath);
    m_hostAnswered = false;
    m_hostPart.clear();
    auto *path = new IcePath(m_settings, IcePath::Role::Host, this);
    m_hostPath = path;
    connect(path, &IcePath::gathered, this, [this, path](const IceDescription &local) {
        if (path != m_hostPath)
            return;
        IceDescription offered = local;
        offered.directCannotServe = true;
        m_hostDescription = offered;
        m_hostPart = offered.encode();
        m_offerTrouble.clear();
        emit invitationPartChanged();
    });
    connect(path, &IcePath::linked, this,
            [this, path](QTcpSocket *socket, IcePath::Kind kind, const QString &address) {
                m_hostPath = nullptr;
                m_hostPart.clear();
                PeerSession::nameOtherPath(*socket, address);
                carryLink(path, kind, address);
                emit hostLinked(socket);
            });
    connect(path, &IcePath::failed, this, [this, path](const QString &reason) {
        if (path != m_hostPath)
            return;
        if (m_hostAnswered) {
            emit failed(reason);
            // The invitation's credentials are spent: the next one gets fresh ones.
            if (m_offering)
                offerFreshPath();
            return;
        }
        // Nobody answered this path: it could not be gathered, most likely for want of a
        // network address. Gathering again at once would spin while the machine is offline.
        m_hostPart.clear();
        const bool news = reason != m_offerTrouble;
        m_offerTrouble = reason;
        emit invitationPartChanged();
        if (news)
            emit failed(reason);
        m_regather.start();
    });
    emit invitationPartChanged();
    path->gather();
}

QString PathExchange::acceptReply(const QString &text)
{
    InvitationReply reply;
    switch (InvitationReply::read(text, &reply)) {
    case InvitationReply::Reading::Reply:
        break;
    case InvitationReply::Reading::CutShort:
        return tr("The reply is cut short: ask the other player to send the whole line again, "
                  "in one piece.");
    case InvitationReply::Reading::Damaged:
        return tr("The reply is damaged: check that the whole line was pasted, from "
                  "\"skarnet-reply:\" to its last character, or ask the other player to send it "
                  "again.");
    case InvitationReply::Reading::Invitation: {
        Invitation invitation;
        if (Invitation::read(text, &invitation) == Invitation::Reading::Invitation &&
            !m_ownFingerprint.isEmpty() && invitation.fingerprint == m_ownFingerprint)
            return tr("This is your own invitation: paste the reply the other player sent back "
                      "(it begins with \"skarnet-reply:\").");
        return tr("This is an invitation, not a reply: use Connect to dial it.");
    }
    case InvitationReply::Reading::NotAReply:
        return tr("This is not a reply: the line the other player sends back begins with "
                  "\"skarnet-reply:\".");
    }
    if (!m_hostPath || m_hostPart.isEmpty())
        return tr("No invitation is waiting for a reply: this copy's port can be dialled "
                  "directly, or its invitation was used. Send the other player a new "
                  "invitation.");
    if (reply.answers != m_hostDescription.ufrag)
        return tr("This reply answers another invitation: send the other player the invitation "
                  "shown now, and paste the reply they send back to it.");
    if (!m_ownFingerprint.isEmpty() && reply.fingerprint == m_ownFingerprint)
        return tr("This is your own reply: paste the line the other player sent back.");
    IceDescription remote;
    if (!IceDescription::decode(reply.description, &remote))
        return tr("The reply is damaged: ask the other player to send it again.");
    m_expectedJoiner = reply.fingerprint;
    m_hostAnswered = true;
    m_hostPath->start(remote);
    return {};
}

QString PathExchange::crossedSentence(const Invitation &invitation) const
{
    if (invitation.ice.isEmpty() || m_hostPart.isEmpty() || m_ownFingerprint.isEmpty() ||
        invitation.fingerprint == m_ownFingerprint)
        return {};
    if (m_ownFingerprint < invitation.fingerprint)
        return tr("Your invitations crossed, and yours stands: ask the other player to paste "
                  "your invitation and send back their reply, then paste it in Connections.");
    return {};
}

bool PathExchange::join(const Invitation &invitation)
{
    IceDescription remote;
    if (invitation.ice.isEmpty() || !IceDescription::decode(invitation.ice, &remote))
        return false;
    retire(m_joinPath);
    m_replyLine.clear();
    auto *path = new IcePath(m_settings, IcePath::Role::Joiner, this);
    m_joinPath = path;
    connect(path, &IcePath::gathered, this, [this, path, remote](const IceDescription &local) {
        if (path != m_joinPath)
            return;
        InvitationReply reply;
        reply.fingerprint = m_ownFingerprint;
        reply.answers = remote.ufrag;
        reply.description = local.encode();
        m_replyLine = reply.line();
        emit replyChanged();
        m_joinWait.start();
        path->start(remote);
    });
    connect(
        path, &IcePath::linked, this,
        [this, path, invitation](QTcpSocket *socket, IcePath::Kind kind, const QString &address) {
            m_joinPath = nullptr;
            m_joinWait.stop();
            m_replyLine.clear();
            emit replyChanged();
            PeerSession::nameOtherPath(*socket, address);
            carryLink(path, kind, address);
            emit joinerLinked(socket, invitation);
        });
    connect(path, &IcePath::failed, this, [this, path](const QString &reason) {
        if (path != m_joinPath)
            return;
        m_joinWait.stop();
        retire(path);
        m_replyLine.clear();
        emit replyChanged();
        emit failed(reason);
    });
    path->gather();
    return true;
}

void PathExchange::carryLink(IcePath *path, IcePath::Kind kind, const QString &address)
{
    retire(m_linkPath);
    m_linkPath = path;
    m_pathText = IcePath::pathText(kind, relayName(kind, address));
    emit pathChanged();
}

// The relay is named as the player set it when it is this copy's, else by its address.
QString PathExchange::relayName(IcePath::Kind kind, const QString &address) const
{
    if (kind != IcePath::Kind::Relay)
        return {};
    if (m_settings.hasRelay())
        return m_settings.relayHost;
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    QString host = colon > 0 ? address.left(colon) : address;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    return host;
}

void PathExchange::linkEnded()
{
    if (IcePath *path = m_linkPath) {
        m_linkPath = nullptr;
        m_pathText.clear();
        emit pathChanged();
        QTimer::singleShot(GoodbyeMs, path, [this, path] { retire(path); });
    }
    if (m_offering && !m_hostPath)
        offerFreshPath();
}

void PathExchange::retire(IcePath *path)
{
    if (!path)
        return;
    path->disconnect(this);
    path->close();
    path->deleteLater();
}

void PathExchange::closeAll(int waitMs)
{
    for (IcePath *path : {m_hostPath.data(), m_joinPath.data(), m_linkPath.data()}) {
        if (path) {
            path->disconnect(this);
            delete path;
        }
    }
    if (waitMs <= 0)
        return;
    // A relay is told to let its allocations go; its answer comes through the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (IcePath::agentsStillEnding() == 0)
        return;
    QEventLoop loop;
    QTimer look;
    look.setInterval(20);
    connect(&look, &QTimer::timeout, &loop, [&loop] {
        if (IcePath::agentsStillEnding() == 0)
            loop.quit();
    });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    look.start();
    loop.exec();
}

#include "moc_PathExchange.cpp"
