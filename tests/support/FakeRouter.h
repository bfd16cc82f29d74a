#pragma once

#include "router/AbstractRouter.h"

#include <QThread>

#include <atomic>
#include <utility>

// A router that opens every port asked for as 198.51.100.7:40123 (or gives `answer`), taking
// `delayMs` to answer. It counts the requests; the counters are atomic because the requests come
// from the worker.
class FakeRouter : public AbstractRouter
{
public:
    explicit FakeRouter(int delayMs = 0, PortMappingResult answer = openedPort())
        : m_delayMs(delayMs)
        , m_answer(std::move(answer))
    {
    }
    static PortMappingResult openedPort()
    {
        PortMappingResult mapping;
        mapping.outcome = PortMappingResult::Outcome::Opened;
        mapping.externalPort = 40123;
        mapping.externalAddress = QStringLiteral("198.51.100.7");
        return mapping;
    }
    PortMappingResult open(int localPort, int) const override
    {
        QThread::msleep(ulong(m_delayMs));
        ++opens;
        PortMappingResult mapping = m_answer;
        mapping.localPort = localPort;
        return mapping;
    }
    PortMappingResult renew(const PortMappingResult &mapping, int) const override
    {
        ++renewals;
        return mapping;
    }
    void remove(const PortMappingResult &) const override { ++removals; }

    mutable std::atomic<int> opens = 0;
    mutable std::atomic<int> renewals = 0;
    mutable std::atomic<int> removals = 0;

private:
    const int m_delayMs;
    const PortMappingResult m_answer;
};
