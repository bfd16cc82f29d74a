#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's write end, read by the handler; -1 while nobody watches.
volatile std::sig_atomic_t pipeWriteEnd = -1;

extern "C" void writeSignalToPipe(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal for the loop; this one may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(pipeWriteEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    pipeWriteEnd = m_writeEnd;
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::takeFromPipe);

    struct sigaction action = {};
    action.sa_handler = writeSignalToPipe;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the same signal a second time ends the program even if the loop is stuck.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (m_readEnd < 0)
        return;
    restoreDefaults();
    pipeWriteEnd = -1;
    delete m_notifier;
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

bool TerminationSignals::isWatching() const
{
    return m_notifier != nullptr;
}

void TerminationSignals::takeFromPipe()
{
    unsigned char byte = 0;
    if (::read(m_readEnd, &byte, 1) != 1)
        return;
    // From here on any of the three ends the program at once.
    restoreDefaults();
    m_notifier->setEnabled(false);
    emit received(byte);
}

void TerminationSignals::restoreDefaults()
{
    for (const int signalNumber : WatchedSignals)
        std::signal(signalNumber, SIG_DFL);
}

#include "moc_TerminationSignals.cpp"
