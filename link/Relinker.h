#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Finds the other copy again after a link between two copies ended without a goodbye: the
// network dropped, a machine slept, the dead-link limit ran out, or the link was reset.
//
// The side that dialled tries the same address again at once and then every RetryMs; the side
// that accepted makes sure it listens, on the same schedule (listening may fail while the port
// is still held). Both stop when the owner calls stop() (a new link, or the player ended the
// link) or, after WindowMs without success, with `gaveUp`.
class Relinker : public QObject
{
    Q_OBJECT
public:
    static constexpr int RetryMs = 3000;
    static constexpr int WindowMs = 120000;

    explicit Relinker(QObject *parent = nullptr);

    // Starts looking for the peer: `host` and `port` are what the dialling side dialled; an
    // empty host means this side waits to be dialled.
    void start(const QString &host, int port);
    void stop();
    bool isActive() const { return m_window.isActive(); }
    bool dials() const { return !m_host.isEmpty(); }
    // Shorter times, for tests that cannot wait the real ones out.
    void setTimes(int retryMs, int windowMs);

signals:
    // Time for another try: dial host:port again, or listen if not listening (empty host).
    void retry(const QString &host, int port);
    void gaveUp();

private:
    void onRetry();

    QString m_host;
    int m_port = 0;
    int m_retryMs = RetryMs;
    QTimer m_retry;
    QTimer m_window;
};
