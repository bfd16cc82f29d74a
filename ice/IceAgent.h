#pragma once

#include "ice/IceDescription.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

// The ICE library's agent, declared here without its headers: GLib's headers must come before
// Qt's, so only .cpp files include them.
struct _NiceAgent;

// One agent of the ICE library with its one stream of one component, on the program's main
// loop (Qt's loop is GLib's): it gathers candidates, runs the checks against the other copy's
// candidates, carries the reliable byte stream once a pair is found, and on destruction gives a
// relay allocation back before the library's agent goes.
class IceAgent : public QObject
{
    Q_OBJECT
public:
    struct Setup
    {
        bool controlling = false;
        // Where to ask for the outside address; none when null.
        QHostAddress stunServer;
        quint16 stunPort = 0;
        // The relay, over UDP and over TCP; none when null. With a relay, every check goes
        // through it (its other candidates are neither gathered nor tried).
        QHostAddress relayServer;
        quint16 relayPort = 0;
        QString relayUser;
        QString relayPassword;
        // Gather on these addresses alone; all of the machine's when empty.
        QStringList localAddresses;
    };
    // What the selected pair is made of.
    struct Pair
    {
        // Peer-reflexive candidates (learnt from the checks) count as Outside.
        IceDescription::Kind localKind = IceDescription::Kind::Host;
        IceDescription::Kind remoteKind = IceDescription::Kind::Host;
        QHostAddress remoteAddress;
        quint16 remotePort = 0;
    };

    // Signs its checks with `ufrag` and `password` (the ICE library's text form).
    IceAgent(const Setup &setup, const QByteArray &ufrag, const QByteArray &password,
             QObject *parent = nullptr);
    ~IceAgent() override;

    // False when not one candidate could be gathered.
    bool gather();
    bool hasGathered() const { return m_gathered; }
    // The UDP candidates gathered, in the library's order of preference.
    QList<IceDescription::Candidate> localCandidates() const;

    // Runs a round of checks against the other copy's `candidates`, which sign theirs with
    // `ufrag` and `password`. Again after a failed round, it starts a fresh round with the same
    // credentials, which keeps the routers' mappings open.
    void check(const QByteArray &ufrag, const QByteArray &password,
               const QList<IceDescription::Candidate> &candidates);
    Pair selectedPair() const;

    // The reliable stream, once connected: `send` takes what the stream can take now (0 when
    // it is full; `writable` tells when to go on), and what arrives goes to `receiver`, starting
    // with what came before it was set.
    qsizetype send(const char *data, qsizetype length);
    void startReceiving(std::function<void(const char *, qsizetype)> receiver);

    // Agents of the library not yet given back: closing one waits for the relay.
    static int agentsOpen();

signals:
    void gathered();
    // The first pair was selected: the stream can start.
    void connected();
    // The round of checks failed, or the stream broke.
    void failed();
    void writable();

private:
    static void gatheringDone(_NiceAgent *, unsigned stream, void *self);
    static void stateChanged(_NiceAgent *, unsigned stream, unsigned component, unsigned state,
                             void *self);
    static void streamWritable(_NiceAgent *, unsigned stream, unsigned component, void *self);
    static void received(_NiceAgent *, unsigned stream, unsigned component, unsigned length,
                         char *data, void *self);

    _NiceAgent *m_agent = nullptr;
    unsigned m_stream = 0;
    QByteArray m_ufrag;
    QByteArray m_password;
    bool m_gathered = false;
    bool m_connected = false;
    bool m_checked = false;
    std::function<void(const char *, qsizetype)> m_receiver;
    QByteArray m_early;
};
