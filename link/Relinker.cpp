#include "Relinker.h"

Relinker::Relinker(QObject *parent)
    : QObject(parent)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Relinker::onRetry);
    m_window.setSingleShot(true);
    m_window.setInterval(WindowMs);
    connect(&m_window, &QTimer::timeout, this, [this] {
        stop();
        emit gaveUp();
    });
}

void Relinker::start(const QString &host, int port)
{
    m_host = host;
    m_port = port;
    m_window.start();
    // The first try runs once the link that just ended has finished reporting its end.
    m_retry.start(0);
}

void Relinker::stop()
{
    m_retry.stop();
    m_window.stop();
}

void Relinker::setTimes(int retryMs, int windowMs)
{
    m_retryMs = retryMs;
    m_window.setInterval(windowMs);
}

void Relinker::onRetry()
{
    m_retry.start(m_retryMs);
    emit retry(m_host, m_port);
}

#include "moc_Relinker.cpp"
