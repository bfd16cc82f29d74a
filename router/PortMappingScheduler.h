#pragma once

#include "PortMappingResult.h"

#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QThreadPool;
class AbstractRouter;

// Keeps a port open on the home router for as long as this copy listens, so that a player on
// another network can dial in. The router is asked on one worker thread, since finding it blocks
// for seconds; each answer comes back to the event loop as a new PortMappingResult, announced by
// `changed`. The lease is renewed at half its life and the mapping is removed by stop(); the
// same goes for a pinhole opened in the router's IPv6 firewall, whatever became of the port.
//
//   start -> Asking -> Opened (renewed every lease/2) | NoRouter | Refused | BehindAnotherNetwork
//   stop  -> the opened mapping (and pinhole) removed, waiting at most a second
class PortMappingScheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int LeaseSeconds = 3600;
    static constexpr int StopWaitMs = 1000;

    // Asks the real router, for leases of LeaseSeconds (or SKARNET_PORT_MAPPING_LEASE seconds,
    // where that is set).
    explicit PortMappingScheduler(QObject *parent = nullptr);
    // Asks `router` instead, with leases of `leaseSeconds`.
    PortMappingScheduler(std::shared_ptr<const AbstractRouter> router, int leaseSeconds,
                         QObject *parent = nullptr);
    // Removes the mapping as stop() does.
    ~PortMappingScheduler() override;

    // Asks the router to forward a port to `localPort`; later calls while a mapping is held or
    // asked for do nothing.
    void start(int localPort);
    // Removes an opened mapping and stops renewing it, waiting for the router at most
    // StopWaitMs: the program is ending, and a mapping left behind runs out with its lease.
    void stop();

    const PortMappingResult &current() const { return m_current; }

    // Shorter times, for tests: between renewals (instead of half the lease), and the most
    // stop() waits for the router.
    void setRenewalMs(int ms) { m_renewalInterval = std::chrono::milliseconds(ms); }
    void setStopWaitMs(int ms) { m_stopWaitMs = ms; }

signals:
    void changed(const PortMappingResult &mapping);

private:
    void ask(std::function<PortMappingResult()> request);
    void answered();
    void renew();

    std::shared_ptr<const AbstractRouter> m_router;
    const int m_leaseSeconds;
    std::chrono::milliseconds m_renewalInterval;
    int m_stopWaitMs = StopWaitMs;
    // Owned until stop(); then let go of if the router still has not answered, so that the
    // program's end does not wait for it.
    QThreadPool *m_worker;
    QFutureWatcher<PortMappingResult> m_answer;
    QTimer m_renewal;
    PortMappingResult m_current;
    bool m_stopped = false;
};
