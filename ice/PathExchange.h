#pragma once

#include "ice/IcePath.h"
#include "ice/IceSettings.h"
#include "trust/Invitation.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTcpSocket;

// The lines two players exchange when neither can dial the other's port, and the path over UDP
// they lead to (see IcePath). Window-free; TableProtocol puts the paths it finds under the link.
//
//   host:   setOffering(true) -> gathering -> invitationPartChanged: the invitation carries
//           invitationPart() -> the player pastes the reply (acceptReply) -> hostLinked
//   joiner: join(invitation) -> gathering -> replyChanged: its player sends replyLine() back ->
//           joinerLinked
//
// A path that cannot be found ends with `failed` and a sentence; the host then offers a fresh
// path, so a new invitation works at once. A path that could not even be gathered (no network
// address) is gathered again every RegatherMs, and its sentence is said once. Two copies whose
// invitations crossed (each pasted the other's) settle it the same way on both sides: the copy with
// the lower fingerprint stays host and the other joins (crossedSentence).
class PathExchange : public QObject
{
    Q_OBJECT
public:
    // How long the joining copy looks for a path before it says what may stand in the way.
    static constexpr int JoinWaitMs = 40000;
    // How long the host waits before gathering again when gathering failed.
    static constexpr int RegatherMs = 5000;

    explicit PathExchange(QObject *parent = nullptr);
    ~PathExchange() override;

    void setSettings(const IceSettings &settings);
    IceSettings settings() const { return m_settings; }
    // The first bytes of this copy's certificate fingerprint, as invitations carry it.
    void setOwnFingerprint(const QByteArray &fingerprint) { m_ownFingerprint = fingerprint; }

    // Whether invitations carry a path over UDP; turning it on gathers one.
    void setOffering(bool offering);
    bool offering() const { return m_offering; }
    // The encoded description for the invitation; empty while gathering or when not offering.
    QByteArray invitationPart() const { return m_hostPart; }
    // Why the invitation has no path while gathering keeps failing; empty otherwise.
    QString offerTrouble() const { return m_offerTrouble; }
    // Reads the reply the player pasted and starts the checks. Returns why nothing was done.
    QString acceptReply(const QString &text);

    // The sentence to show instead of joining `invitation`, when this copy's own invitation
    // crossed it and stands; empty when this copy should join.
    QString crossedSentence(const Invitation &invitation) const;
    // Joins the copy that made `invitation` over UDP. False (nothing started) when the
    // invitation carries no readable path.
    bool join(const Invitation &invitation);
    QString replyLine() const { return m_replyLine; }
    // The certificate fingerprint the last accepted reply named: only that copy may take the
    // seat over the path it leads to.
    QByteArray expectedJoiner() const { return m_expectedJoiner; }

    // The path that carries the link now, in words; empty with none.
    QString pathText() const { return m_pathText; }
    // The link over the path ended: the path is given up once the link's goodbye is out, and the
    // host offers a fresh one.
    void linkEnded();
    // Ends every path now; a relay's allocations are given back within `waitMs`.
    void closeAll(int waitMs);

signals:
    void invitationPartChanged();
    void replyChanged();
    void hostLinked(QTcpSocket *socket);
    void joinerLinked(QTcpSocket *socket, const Invitation &invitation);
    void failed(const QString &reason);
    // The joining copy has found no path for a while and keeps trying: why that may be.
    void stillLooking(const QString &text);
    void pathChanged();

private:
    void offerFreshPath();
    void carryLink(IcePath *path, IcePath::Kind kind, const QString &address);
    void retire(IcePath *path);
    QString relayName(IcePath::Kind kind, const QString &address) const;

    IceSettings m_settings;
    QByteArray m_ownFingerprint;
    bool m_offering = false;
    QPointer<IcePath> m_hostPath;
    bool m_hostAnswered = false;
    QByteArray m_hostPart;
    QString m_offerTrouble;
    QTimer m_regather;
    QByteArray m_expectedJoiner;
    IceDescription m_hostDescription;
    QPointer<IcePath> m_joinPath;
    QString m_replyLine;
    QTimer m_joinWait;
    // The path that carries the link.
    QPointer<IcePath> m_linkPath;
    QString m_pathText;
};
