// GLib's headers use `signals` as a field name, which Qt's headers define: they come first.
#include <agent.h>

#include "ice/IceAgent.h"

#include <QtGlobal>

namespace {

constexpr guint IceComponent = 1;
int iceAgentsOpen = 0;

IceDescription::Kind iceKindOf(NiceCandidateType type)
{
    switch (type) {
    case NICE_CANDIDATE_TYPE_HOST:
        return IceDescription::Kind::Host;
    case NICE_CANDIDATE_TYPE_RELAYED:
        return IceDescription::Kind::Relay;
    default:
        return IceDescription::Kind::Outside;
    }
}

NiceCandidateType niceTypeOf(IceDescription::Kind kind)
{
    switch (kind) {
    case IceDescription::Kind::Host:
        return NICE_CANDIDATE_TYPE_HOST;
    case IceDescription::Kind::Relay:
        return NICE_CANDIDATE_TYPE_RELAYED;
    default:
        return NICE_CANDIDATE_TYPE_SERVER_REFLEXIVE;
    }
}

QHostAddress iceHostAddressOf(const NiceAddress &address)
{
    gchar text[NICE_ADDRESS_STRING_LEN];
    nice_address_to_string(&address, text);
    return QHostAddress(QString::fromLatin1(text));
}

// The description carries no priorities or foundations: they are made up again from the kind
// and the order, as RFC 8445 computes them from type and local preferences.
guint32 icePriorityOf(IceDescription::Kind kind, int index)
{
    const guint32 typePreference = kind == IceDescription::Kind::Host      ? 126
                                   : kind == IceDescription::Kind::Outside ? 100
                                                                           : 0;
    return typePreference << 24 | guint32(65535 - index) << 8 | 255;
}

void iceAgentClosed(GObject *agent, GAsyncResult *, gpointer)
{
    g_object_unref(agent);
    --iceAgentsOpen;
}

} // namespace

IceAgent::IceAgent(const Setup &setup, const QByteArray &ufrag, const QByteArray &password,
                   QObject *parent)
    : QObject(parent)
    , m_ufrag(ufrag)
    , m_password(password)
{
    m_agent = nice_agent_new_reliable(g_main_context_default(), NICE_COMPATIBILITY_RFC5245);
    ++iceAgentsOpen;
    // No port mapping of its own (the link asks the router already), no TCP candidates: the
    // reliable stream runs over UDP.
    g_object_set(m_agent, "controlling-mode", gboolean(setup.controlling), "upnp", FALSE, "ice-tcp",
                 FALSE, "force-relay", gboolean(!setup.relayServer.isNull()), nullptr);
    if (!setup.stunServer.isNull())
        g_object_set(m_agent, "stun-server", qPrintable(setup.stunServer.toString()),
                     "stun-server-port", guint(setup.stunPort), nullptr);
    for (const QString &address : setup.localAddresses) {
        NiceAddress local;
        nice_address_init(&local);
        if (nice_address_set_from_string(&local, qPrintable(address)))
            nice_agent_add_local_address(m_agent, &local);
    }
    g_signal_connect(m_agent, "candidate-gathering-done", G_CALLBACK(gatheringDone), this);
    g_signal_connect(m_agent, "component-state-changed", G_CALLBACK(stateChanged), this);
    g_signal_connect(m_agent, "reliable-transport-writable", G_CALLBACK(streamWritable), this);

    m_stream = nice_agent_add_stream(m_agent, 1);
    nice_agent_set_stream_name(m_agent, m_stream, "application");
    nice_agent_set_local_credentials(m_agent, m_stream, m_ufrag.constData(),
                                     m_password.constData());
    // The agent reads its sockets on the loop of the receiving callback, so it is set before
    // anything is sent, checks included.
    nice_agent_attach_recv(m_agent, m_stream, IceComponent, g_main_context_default(), received,
                           this);
    if (!setup.relayServer.isNull()) {
        // Over UDP, and over TCP for networks that let no UDP out.
        for (const NiceRelayType type : {NICE_RELAY_TYPE_TURN_UDP, NICE_RELAY_TYPE_TURN_TCP})
            nice_agent_set_relay_info(m_agent, m_stream, IceComponent,
                                      qPrintable(setup.relayServer.toString()), setup.relayPort,
                                      qPrintable(setup.relayUser), qPrintable(setup.relayPassword),
                                      type);
    }
}

IceAgent::~IceAgent()
{
    g_signal_handlers_disconnect_by_data(m_agent, this);
    nice_agent_attach_recv(m_agent, m_stream, IceComponent, g_main_context_default(), nullptr,
                           nullptr);
    // Removing the stream resets it, which tells the other copy at once, and frees a relay's
    // allocation; the agent goes once that is done.
    nice_agent_remove_stream(m_agent, m_stream);
    nice_agent_close_async(m_agent, iceAgentClosed, nullptr);
}

int IceAgent::agentsOpen()
{
    return iceAgentsOpen;
}

bool IceAgent::gather()
{
    return nice_agent_gather_candidates(m_agent, m_stream);
}

QList<IceDescription::Candidate> IceAgent::localCandidates() const
{
    QList<IceDescription::Candidate> candidates;
    GSList *list = nice_agent_get_local_candidates(m_agent, m_stream, IceComponent);
    for (GSList *item = list; item; item = item->next) {
        const auto *candidate = static_cast<const NiceCandidate *>(item->data);
        if (candidate->transport == NICE_CANDIDATE_TRANSPORT_UDP)
            candidates.append({iceKindOf(candidate->type), iceHostAddressOf(candidate->addr),
                               quint16(nice_address_get_port(&candidate->addr))});
    }
    g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
    return candidates;
}

void IceAgent::check(const QByteArray &ufrag, const QByteArray &password,
                     const QList<IceDescription::Candidate> &candidates)
{
    if (m_checked) {
        // A restart makes up new credentials; the other copy knows only the first ones.
        nice_agent_restart_stream(m_agent, m_stream);
        nice_agent_set_local_credentials(m_agent, m_stream, m_ufrag.constData(),
                                         m_password.constData());
    }
    m_checked = true;
    nice_agent_set_remote_credentials(m_agent, m_stream, ufrag.constData(), password.constData());
    GSList *list = nullptr;
    int index = 0;
    for (const IceDescription::Candidate &remoteCandidate : candidates) {
        NiceCandidate *candidate = nice_candidate_new(niceTypeOf(remoteCandidate.kind));
        candidate->transport = NICE_CANDIDATE_TRANSPORT_UDP;
        candidate->stream_id = m_stream;
        candidate->component_id = IceComponent;
        candidate->priority = icePriorityOf(remoteCandidate.kind, index);
        qsnprintf(candidate->foundation, NICE_CANDIDATE_MAX_FOUNDATION, "%d", index + 1);
        if (nice_address_set_from_string(&candidate->addr,
                                         qPrintable(remoteCandidate.address.toString()))) {
            nice_address_set_port(&candidate->addr, remoteCandidate.port);
            list = g_slist_append(list, candidate);
            ++index;
        } else {
            nice_candidate_free(candidate);
        }
    }
    nice_agent_set_remote_candidates(m_agent, m_stream, IceComponent, list);
    g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
}

IceAgent::Pair IceAgent::selectedPair() const
{
    Pair pair;
    NiceCandidate *local = nullptr, *remote = nullptr;
    if (nice_agent_get_selected_pair(m_agent, m_stream, IceComponent, &local, &remote)) {
        pair.localKind = iceKindOf(local->type);
        pair.remoteKind = iceKindOf(remote->type);
        pair.remoteAddress = iceHostAddressOf(remote->addr);
        pair.remotePort = quint16(nice_address_get_port(&remote->addr));
    }
    return pair;
}

qsizetype IceAgent::send(const char *data, qsizetype length)
{
    const gint sent = nice_agent_send(m_agent, m_stream, IceComponent, guint(length), data);
    return qMax(sent, 0);
}

void IceAgent::startReceiving(std::function<void(const char *, qsizetype)> receiver)
{
    m_receiver = std::move(receiver);
    const QByteArray early = std::exchange(m_early, {});
    if (m_receiver && !early.isEmpty())
        m_receiver(early.constData(), early.size());
}

void IceAgent::gatheringDone(_NiceAgent *, unsigned, void *self)
{
    auto *agent = static_cast<IceAgent *>(self);
    agent->m_gathered = true;
    emit agent->gathered();
}

void IceAgent::stateChanged(_NiceAgent *, unsigned, unsigned, unsigned state, void *self)
{
    auto *agent = static_cast<IceAgent *>(self);
    switch (state) {
    case NICE_COMPONENT_STATE_CONNECTED:
    case NICE_COMPONENT_STATE_READY:
        if (!agent->m_connected) {
            agent->m_connected = true;
            emit agent->connected();
        }
        break;
    case NICE_COMPONENT_STATE_FAILED:
        emit agent->failed();
        break;
    default:
        break;
    }
}

void IceAgent::streamWritable(_NiceAgent *, unsigned, unsigned, void *self)
{
    emit static_cast<IceAgent *>(self)->writable();
}

void IceAgent::received(_NiceAgent *, unsigned, unsigned, unsigned length, char *data, void *self)
{
    auto *agent = static_cast<IceAgent *>(self);
    if (agent->m_receiver)
        agent->m_receiver(data, qsizetype(length));
    else
        agent->m_early.append(data, qsizetype(length));
}

#include "moc_IceAgent.cpp"
