#include "ice/IcePath.h"

#include "ice/IceAgent.h"
#include "ice/IceSentences.h"
#include "ice/IceStreamPump.h"

#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>

namespace {

constexpr quint16 IceDefaultServerPort = 3478;
// After the link closed its end, what it wrote last still has this long to go out.
constexpr int IceClosingGraceMs = 2000;
// What marks the relay round's credentials as its own.
const QByteArray IceRelayRoundMark = QByteArrayLiteral("R");

// "host", "host:port", "[v6]:port" or a bare IPv6 address; an empty host when malformed.
std::pair<QString, quint16> iceServerOf(const QString &text, int defaultPort)
{
    const quint16 fallback = quint16(defaultPort > 0 ? defaultPort : IceDefaultServerPort);
    if (QHostAddress literal; literal.setAddress(text))
        return {literal.toString(), fallback};
    const QUrl url(QStringLiteral("//") + text);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return {url.host(), quint16(url.port(fallback))};
}

// The address worth asking a server on: IPv4 first, as home routers give IPv4 its outside
// address.
QHostAddress icePreferredAddress(const QList<QHostAddress> &addresses)
{
    for (const QHostAddress &address : addresses)
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    return addresses.isEmpty() ? QHostAddress() : addresses.first();
}

bool iceUsableHost(const QHostAddress &address)
{
    return !address.isLinkLocal() && !address.isMulticast() && !address.isNull();
}

// Reachable from anywhere without a router's help.
bool iceGlobalAddress(const QHostAddress &address)
{
    if (!address.isGlobal() || address.isUniqueLocalUnicast())
        return false;
    for (const char *range : {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16", "100.64.0.0/10"})
        if (address.isInSubnet(QHostAddress::parseSubnet(QLatin1String(range))))
            return false;
    return true;
}

QString iceAddressText(const QHostAddress &address, quint16 port)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(address.toString()).arg(port)
               : QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

// The first round tries the other copy's own and outside addresses. The relay round tries its
// relay's and its outside addresses (a relay lets in only what comes from an address it was
// asked to, and the other copy's checks come from its outside address), but never the private
// addresses of its home: a relay cannot reach those, and a relay that was asked to in vain
// (coturn's send fails) then lets none of the round's checks through.
QList<IceDescription::Candidate> iceCandidatesOf(const IceDescription &description, bool relayRound)
{
    const IceDescription::Kind leftOut =
        relayRound ? IceDescription::Kind::Host : IceDescription::Kind::Relay;
    QList<IceDescription::Candidate> candidates;
    for (const IceDescription::Candidate &candidate : description.candidates)
        if (candidate.kind != leftOut)
            candidates.append(candidate);
    return candidates;
}

} // namespace

IcePath::IcePath(const IceSettings &settings, Role role, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_role(role)
{
    const auto makeTimer = [this](int ms) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setInterval(ms);
        return timer;
    };
    m_directRoundTimer = makeTimer(m_settings.checkRoundMs);
    m_relayRoundTimer = makeTimer(m_settings.checkRoundMs);
    m_patience = makeTimer(m_settings.joinerPatienceMs);
    // A round that found no pair in time counts as failed, though its agent may still find one.
    connect(m_directRoundTimer, &QTimer::timeout, this, [this] { roundFailed(m_direct); });
    connect(m_relayRoundTimer, &QTimer::timeout, this, [this] { roundFailed(m_relayed); });
    connect(m_patience, &QTimer::timeout, this, [this] {
        fail(IceSentences::hostNeverAnswered(qMax(1, m_settings.joinerPatienceMs / 60000)));
    });
}

IcePath::~IcePath()
{
    releaseEverything();
}

int IcePath::agentsStillEnding()
{
    return IceAgent::agentsOpen();
}

QString IcePath::pathText(Kind kind, const QString &relayHost)
{
    switch (kind) {
    case Kind::Direct:
        return tr("direct");
    case Kind::ThroughRouters:
        return tr("direct through both routers");
    case Kind::Relay:
        break;
    }
    return tr("through relay %1 (slower)").arg(relayHost);
}

void IcePath::gather()
{
    if (m_stage != Stage::Idle)
        return;
    m_stage = Stage::Gathering;
    m_local = IceDescription::withFreshCredentials();
    m_local.relaySet = m_settings.hasRelay();
    lookUpServers();
}

IceDescription IcePath::local() const
{
    return m_local;
}

void IcePath::lookUpServers()
{
    // The library takes literal addresses: names are looked up first, all at once.
    const auto resolve = [this](const QString &text, int defaultPort,
                                std::function<void(const QHostAddress &, quint16)> take) {
        const auto [host, port] = iceServerOf(text, defaultPort);
        if (host.isEmpty())
            return;
        if (QHostAddress literal; literal.setAddress(host))
            return take(literal, port);
        ++m_lookupsPending;
        QHostInfo::lookupHost(host, this, [this, port, take](const QHostInfo &info) {
            if (m_stage != Stage::Gathering)
                return;
            take(icePreferredAddress(info.addresses()), port);
            if (--m_lookupsPending == 0)
                createAgents();
        });
    };
    m_stunAddresses.resize(m_settings.stunServers.size());
    m_stunPorts.resize(m_settings.stunServers.size());
    for (qsizetype i = 0; i < m_settings.stunServers.size(); ++i)
        resolve(m_settings.stunServers[i], 0, [this, i](const QHostAddress &address, quint16 port) {
            m_stunAddresses[i] = address;
            m_stunPorts[i] = port;
        });
    if (m_settings.hasRelay())
        resolve(m_settings.relayHost, m_settings.relayPort,
                [this](const QHostAddress &address, quint16 port) {
                    m_relayAddress = address;
                    m_relayPort = port;
                });
    // Even with nothing to look up, the agents start from the loop, so that `gathered` never
    // comes before gather() has returned.
    if (m_lookupsPending == 0)
        QTimer::singleShot(0, this, [this] {
            if (m_stage == Stage::Gathering)
                createAgents();
        });
}

void IcePath::createAgents()
{
    IceAgent::Setup direct;
    direct.controlling = m_role == Role::Host;
    direct.localAddresses = m_settings.localAddresses;
    for (qsizetype i = 0; i < m_stunAddresses.size() && direct.stunServer.isNull(); ++i) {
        direct.stunServer = m_stunAddresses[i];
        direct.stunPort = m_stunPorts[i];
    }
    // A relay answers the question for the outside address too. It is never asked by the
    // relay round's agent as well: asking one server both ways slows gathering to seconds.
    if (direct.stunServer.isNull() && !m_relayAddress.isNull()) {
        direct.stunServer = m_relayAddress;
        direct.stunPort = m_relayPort;
    }
    m_stunUsed = !direct.stunServer.isNull();

    IceAgent::Setup relayed;
    relayed.controlling = direct.controlling;
    relayed.localAddresses = m_settings.localAddresses;
    relayed.relayServer = m_relayAddress;
    relayed.relayPort = m_relayPort;
    relayed.relayUser = m_settings.relayUser;
    relayed.relayPassword = m_settings.relayPassword;

    m_direct = new IceAgent(direct, m_local.ufragText(), m_local.passwordText(), this);
    m_relayed = new IceAgent(relayed, m_local.ufragText() + IceRelayRoundMark,
                             m_local.passwordText() + IceRelayRoundMark, this);
    for (IceAgent *agent : {m_direct, m_relayed}) {
        connect(agent, &IceAgent::gathered, this, &IcePath::agentGathered);
        connect(agent, &IceAgent::connected, this, [this, agent] { link(agent); });
        connect(agent, &IceAgent::failed, this, [this, agent] {
            if (agent == m_carrier)
                carrierFailed();
            else
                roundFailed(agent);
        });
    }
    if (!m_direct->gather() || !m_relayed->gather())
        fail(IceSentences::noLocalAddress());
}

void IcePath::agentGathered()
{
    if (m_stage != Stage::Gathering || !m_direct->hasGathered() || !m_relayed->hasGathered())
        return;
    describe();
    m_stage = Stage::Gathered;
    emit gathered(m_local);
    if (m_stage == Stage::Gathered && m_startWhenGathered)
        beginChecks();
}

void IcePath::describe()
{
    // The outside addresses matter most, then a relay's, then the machine's own.
    QList<IceDescription::Candidate> outside, relays, hosts;
    const auto addOnce = [](QList<IceDescription::Candidate> &list,
                            const IceDescription::Candidate &candidate) {
        if (!list.contains(candidate))
            list.append(candidate);
    };
    for (const IceDescription::Candidate &candidate : m_direct->localCandidates()) {
        if (candidate.kind == IceDescription::Kind::Outside)
            addOnce(outside, candidate);
        else if (candidate.kind == IceDescription::Kind::Host && iceUsableHost(candidate.address))
            addOnce(hosts, candidate);
    }
    for (const IceDescription::Candidate &candidate : m_relayed->localCandidates())
        if (candidate.kind == IceDescription::Kind::Relay)
            addOnce(relays, candidate);
    m_local.candidates = outside.mid(0, 2) + relays.mid(0, 2) + hosts;
    m_local.candidates.resize(qMin(m_local.candidates.size(), IceDescription::MostCandidates));
    m_local.noOutsideAddress =
        outside.isEmpty() && std::none_of(hosts.cbegin(), hosts.cend(), [](const auto &host) {
            return iceGlobalAddress(host.address);
        });
    m_relayGaveNoAddress = m_settings.hasRelay() && relays.isEmpty();
}

void IcePath::start(const IceDescription &remote)
{
    if (m_stage == Stage::Idle || m_stage == Stage::Gathering) {
        m_remote = remote;
        m_startWhenGathered = true;
        if (m_stage == Stage::Idle)
            gather();
        return;
    }
    if (m_stage != Stage::Gathered)
        return;
    m_remote = remote;
    beginChecks();
}

void IcePath::beginChecks()
{
    m_stage = Stage::Checking;
    if (m_role == Role::Joiner) {
        // The host starts once its player pastes the reply: meanwhile both rounds keep their
        // checks going, so both routers keep a way in open for the other's.
        m_patience->start();
        if (relayRoundPossible()) {
            m_relayRunning = true;
            runRound(m_relayed);
        }
    }
    runRound(m_direct);
}

bool IcePath::relayRoundPossible() const
{
    return m_settings.hasRelay() || m_remote.relaySet ||
           std::any_of(m_remote.candidates.cbegin(), m_remote.candidates.cend(),
                       [](const auto &c) { return c.kind == IceDescription::Kind::Relay; });
}

void IcePath::runRound(IceAgent *agent)
{
    const bool relayRound = agent == m_relayed;
    const QList<IceDescription::Candidate> candidates = iceCandidatesOf(m_remote, relayRound);
    if (candidates.isEmpty()) {
        // Nothing to check: the round is over before it began.
        QTimer::singleShot(0, this, [this, relayRound] {
            if (m_stage != Stage::Checking)
                return;
            (relayRound ? m_relayOver : m_directOver) = true;
            roundFailed(nullptr);
        });
        return;
    }
    // The other copy's relay round signs with its credentials marked in the same way.
    const QByteArray mark = relayRound ? IceRelayRoundMark : QByteArray();
    agent->check(m_remote.ufragText() + mark, m_remote.passwordText() + mark, candidates);
    (relayRound ? m_relayRoundTimer : m_directRoundTimer)->start();
}

void IcePath::roundFailed(IceAgent *agent)
{
    if (m_stage != Stage::Checking)
        return;
    const bool relayRound = agent != nullptr && agent == m_relayed;
    if (agent) {
        (relayRound ? m_relayRoundTimer : m_directRoundTimer)->stop();
        // The joiner checks again until the host has had its chance.
        if (m_role == Role::Joiner && m_patience->isActive()) {
            QTimer::singleShot(0, this, [this, agent] {
                if (m_stage == Stage::Checking && (agent == m_direct || agent == m_relayed))
                    runRound(agent);
            });
            return;
        }
        (relayRound ? m_relayOver : m_directOver) = true;
    }
    if (m_directOver && !m_relayRunning && relayRoundPossible()) {
        // The host's first round is over and will not be tried again; its agent goes, so
        // that only the relay round's agent answers the other copy from now on.
        releaseAgent(m_direct);
        m_relayRunning = true;
        runRound(m_relayed);
        return;
    }
    if (!m_directOver || (m_relayRunning && !m_relayOver))
        return;
    IceSentences::Cause cause = IceSentences::Cause::PortPerDestination;
    if (m_local.noOutsideAddress)
        cause = m_stunUsed ? IceSentences::Cause::NoUdpHere : IceSentences::Cause::NoStunServer;
    else if (m_remote.noOutsideAddress)
        cause = IceSentences::Cause::NoUdpThere;
    if (!m_relayRunning)
        return fail(IceSentences::noPathThroughRouters(cause));
    fail(IceSentences::noPathThroughRelay(cause, m_settings.hasRelay(), m_settings.relayHost,
                                          m_relayGaveNoAddress));
}

void IcePath::link(IceAgent *agent)
{
    if (m_stage != Stage::Checking)
        return;
    m_carrier = agent;
    m_directRoundTimer->stop();
    m_relayRoundTimer->stop();
    m_patience->stop();
    releaseAgent(agent == m_direct ? m_relayed : m_direct);

    m_pump = new IceStreamPump(
        [agent](const char *data, qsizetype length) { return agent->send(data, length); }, this);
    QTcpSocket *socket = m_pump->takeSocket();
    if (!socket)
        return fail(IceSentences::lostOnceFound());
    connect(agent, &IceAgent::writable, m_pump, &IceStreamPump::resumeSending);
    connect(m_pump, &IceStreamPump::overflowed, this, [this] { fail(IceSentences::fellBehind()); });
    connect(m_pump, &IceStreamPump::linkClosed, this,
            [this] { QTimer::singleShot(IceClosingGraceMs, this, &IcePath::close); });
    IceStreamPump *pump = m_pump;
    agent->startReceiving(
        [pump](const char *data, qsizetype length) { pump->deliver(data, length); });

    const IceAgent::Pair pair = agent->selectedPair();
    Kind kind = Kind::ThroughRouters;
    if (agent == m_relayed || pair.localKind == IceDescription::Kind::Relay ||
        pair.remoteKind == IceDescription::Kind::Relay)
        kind = Kind::Relay;
    else if (pair.localKind == IceDescription::Kind::Host &&
             pair.remoteKind == IceDescription::Kind::Host)
        kind = Kind::Direct;
    m_stage = Stage::Linked;
    emit linked(socket, kind, iceAddressText(pair.remoteAddress, pair.remotePort));
}

void IcePath::carrierFailed()
{
    if (m_stage != Stage::Linked)
        return;
    // After the other copy closed its end, its agent's going looks like a failure here; the
    // session above has said goodbye by then. A path that never carried a byte was lost.
    if (m_pump->bytesCarried() == 0)
        return fail(IceSentences::lostOnceFound());
    close();
}

void IcePath::close()
{
    if (m_stage == Stage::Ended)
        return;
    m_stage = Stage::Ended;
    releaseEverything();
}

void IcePath::fail(const QString &reason)
{
    if (m_stage == Stage::Ended)
        return;
    m_stage = Stage::Ended;
    releaseEverything();
    emit failed(reason);
}

void IcePath::releaseAgent(IceAgent *&agent)
{
    if (!agent)
        return;
    // Its signal may be what called here: it goes from the loop.
    agent->disconnect(this);
    agent->startReceiving(nullptr);
    agent->deleteLater();
    agent = nullptr;
}

void IcePath::releaseEverything()
{
    m_directRoundTimer->stop();
    m_relayRoundTimer->stop();
    m_patience->stop();
    if (m_pump) {
        // The link's end reads the end of the stream.
        m_pump->shutDown();
        m_pump->deleteLater();
        m_pump = nullptr;
    }
    m_carrier = nullptr;
    releaseAgent(m_direct);
    releaseAgent(m_relayed);
}

#include "moc_IcePath.cpp"
