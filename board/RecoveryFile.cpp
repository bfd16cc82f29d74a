#include "RecoveryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

namespace {

// A recovery copy of a whole board with a long chat is at most a few megabytes; anything much
// larger is not one.
constexpr qint64 LargestFile = 256LL * 1024 * 1024;

} // namespace

RecoveryFile::RecoveryFile(const QString &folder, int port, std::function<BoardSnapshot()> take,
                           QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_path(QDir(folder).filePath(QStringLiteral("recovery-%1.json").arg(port)))
    , m_take(std::move(take))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(WriteDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &RecoveryFile::writeNow);
}

RecoveryFile::~RecoveryFile() = default;

bool RecoveryFile::claim()
{
    if (m_claimed)
        return true;
    if (!QDir().mkpath(m_folder)) {
        fail(QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(m_folder)));
        return false;
    }
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
    // A live copy keeps its lock however long it runs; only the lock of a gone one is stale.
    m_lock->setStaleLockTime(0);
    // A lock left by a copy that crashed names a process that is gone, and is taken over.
    if (m_lock->tryLock(0)) {
        m_claimed = true;
        return true;
    }
    if (m_lock->error() != QLockFile::LockFailedError)
        fail(QStringLiteral("cannot write in the folder %1")
                 .arg(QDir::toNativeSeparators(m_folder)));
    m_lock.reset();
    m_finished = true;
    return false;
}

RecoveryFile::Found RecoveryFile::find()
{
    Found found;
    if (!m_claimed || !QFileInfo::exists(m_path))
        return found;
    QFile file(m_path);
    QString problem;
    std::optional<BoardSnapshot> snapshot;
    if (!file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    else if (file.size() > LargestFile)
        problem = QStringLiteral("it is far too large");
    else
        snapshot = BoardSnapshot::fromJson(file.readAll(), &problem);
    file.close();
    if (snapshot) {
        found.kind = Found::Kind::Snapshot;
        found.snapshot = *snapshot;
        return found;
    }
    found.kind = Found::Kind::Unreadable;
    found.problem = problem;
    // Kept beside the others under a name no later run reads, and never overwritten.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = m_path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    if (QFile::rename(m_path, aside))
        found.setAsidePath = aside;
    else
        QFile::remove(m_path);
    return found;
}

void RecoveryFile::changed()
{
    if (m_claimed && !m_finished && !m_delay.isActive())
        m_delay.start();
}

void RecoveryFile::writeNow()
{
    m_delay.stop();
    if (!m_claimed || m_finished)
        return;
    BoardSnapshot snapshot = m_take();
    snapshot.savedAt = QDateTime::currentDateTime();
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        fail(file.errorString());
        return;
    }
    file.write(snapshot.toJson());
    if (!file.commit())
        fail(file.errorString());
}

void RecoveryFile::remove()
{
    m_delay.stop();
    if (m_claimed)
        QFile::remove(m_path);
}

void RecoveryFile::finish()
{
    if (m_finished)
        return;
    remove();
    m_finished = true;
    m_lock.reset();
}

void RecoveryFile::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    emit cannotKeep(reason);
}

#include "moc_RecoveryFile.cpp"
