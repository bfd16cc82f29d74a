#include "PortMappingScheduler.h"

#include "UpnpNatPmpRouter.h"

#include <QDeadlineTimer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Never destroyed, as destroying a pool waits for its thread.
QList<QThreadPool *> &abandonedWorkers()
{
    static auto *workers = new QList<QThreadPool *>;
    return *workers;
}

// SKARNET_PORT_MAPPING_LEASE, in seconds, where set: the checks that watch a lease being
// renewed set a short one.
int leaseSecondsFromEnvironment()
{
    bool valid = false;
    const int seconds = qEnvironmentVariableIntValue("SKARNET_PORT_MAPPING_LEASE", &valid);
    return valid && seconds > 0 ? seconds : PortMappingScheduler::LeaseSeconds;
}

} // namespace

PortMappingScheduler::PortMappingScheduler(QObject *parent)
    : PortMappingScheduler(std::make_shared<UpnpNatPmpRouter>(), leaseSecondsFromEnvironment(),
                           parent)
{
}

PortMappingScheduler::PortMappingScheduler(std::shared_ptr<const AbstractRouter> router,
                                           int leaseSeconds, QObject *parent)
    : QObject(parent)
    , m_router(std::move(router))
    , m_leaseSeconds(leaseSeconds)
    // Renewed at half its life, so that a router slow to answer still has time.
    , m_renewalInterval(leaseSeconds * 1000LL / 2)
    , m_worker(new QThreadPool)
{
    m_worker->setMaxThreadCount(1);
    m_renewal.setSingleShot(true);
    connect(&m_renewal, &QTimer::timeout, this, &PortMappingScheduler::renew);
    connect(&m_answer, &QFutureWatcher<PortMappingResult>::finished, this,
            &PortMappingScheduler::answered);
}

PortMappingScheduler::~PortMappingScheduler()
{
    stop();
}

void PortMappingScheduler::start(int localPort)
{
    if (m_stopped || m_current.outcome == PortMappingResult::Outcome::Asking ||
        (m_current.holdsLease() && m_current.localPort == localPort))
        return;
    m_current = PortMappingResult();
    m_current.outcome = PortMappingResult::Outcome::Asking;
    m_current.localPort = localPort;
    emit changed(m_current);
    ask([router = m_router, localPort, lease = m_leaseSeconds] {
        return router->open(localPort, lease);
    });
}

void PortMappingScheduler::ask(std::function<PortMappingResult()> request)
{
    m_answer.setFuture(QtConcurrent::run(m_worker, std::move(request)));
}

void PortMappingScheduler::answered()
{
    if (m_stopped)
        return;
    m_current = m_answer.result();
    if (m_current.holdsLease())
        m_renewal.start(m_renewalInterval);
    emit changed(m_current);
}

void PortMappingScheduler::renew()
{
    if (m_stopped || !m_current.holdsLease())
        return;
    ask([router = m_router, mapping = m_current, lease = m_leaseSeconds] {
        return router->renew(mapping, lease);
    });
}

void PortMappingScheduler::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_renewal.stop();
    const QDeadlineTimer deadline(m_stopWaitMs);
    // An answer on its way may be a mapping just made: wait for it, as it must be removed too.
    if (m_worker->waitForDone(int(deadline.remainingTime()))) {
        const QFuture<PortMappingResult> last = m_answer.future();
        if (last.isValid() && last.isFinished() && last.resultCount() > 0)
            m_current = last.result();
        if (m_current.holdsLease()) {
            m_worker->start([router = m_router, mapping = m_current] { router->remove(mapping); });
            m_worker->waitForDone(int(deadline.remainingTime()));
        }
    }
    // A router that has not answered in time is not waited for: deleting the pool would wait, so
    // it is kept aside with its thread until the process ends, and the lease removes whatever
    // the router keeps.
    if (m_worker->activeThreadCount() == 0)
        delete m_worker;
    else
        abandonedWorkers().append(m_worker);
    m_worker = nullptr;
}

#include "moc_PortMappingScheduler.cpp"
