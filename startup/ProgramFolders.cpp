#include "ProgramFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString FolderName = QStringLiteral("skarnet");

// Moves `from` to `to` (a rename, or a copy and removal across file systems, which keeps the
// file's permissions), unless `to` exists. Adds what happened to `report`.
void moveFile(const QString &from, const QString &to, QStringList &report)
{
    const QString shownFrom = QDir::toNativeSeparators(from);
    const QString shownTo = QDir::toNativeSeparators(to);
    if (QFileInfo::exists(to)) {
        report << QStringLiteral("kept %1: %2 already exists").arg(shownFrom, shownTo);
        return;
    }
    if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::rename(from, to)) {
        report << QStringLiteral("could not move %1 to %2; it stays where it is")
                      .arg(shownFrom, shownTo);
        return;
    }
    report << QStringLiteral("moved %1 to %2").arg(shownFrom, shownTo);
}

// Whether two paths name the same existing folder (as the former and the new data folder do on
// a file system that ignores case).
bool sameFolder(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

ProgramFolders::ProgramFolders(const QString &configRoot, const QString &dataRoot)
    : m_configRoot(configRoot)
    , m_dataRoot(dataRoot)
{
}

ProgramFolders ProgramFolders::forThisUser()
{
    return {QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)};
}

QString ProgramFolders::settingsFile() const
{
    return m_configRoot + QLatin1Char('/') + FolderName + QLatin1Char('/') + FolderName +
           QStringLiteral(".conf");
}

QString ProgramFolders::dataFolder() const
{
    return m_dataRoot + QLatin1Char('/') + FolderName;
}

QString ProgramFolders::formerSettingsFile() const
{
    return m_configRoot + QStringLiteral("/Unknown Organization/Skarnet.conf");
}

QString ProgramFolders::formerDataFolder() const
{
    return m_dataRoot + QStringLiteral("/Skarnet");
}

QStringList ProgramFolders::moveFormerFiles() const
{
    QStringList report;
    if (m_configRoot.isEmpty() || m_dataRoot.isEmpty())
        return report;

    const QString formerSettings = formerSettingsFile();
    if (QFileInfo(formerSettings).isFile()) {
        moveFile(formerSettings, settingsFile(), report);
        QDir().rmdir(QFileInfo(formerSettings).absolutePath());
    }

    const QString formerData = formerDataFolder();
    if (QFileInfo(formerData).isDir() && !sameFolder(formerData, dataFolder())) {
        const QDir folder(formerData);
        const QStringList names =
            folder.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names)
            moveFile(folder.filePath(name), dataFolder() + QLatin1Char('/') + name, report);
        QDir().rmdir(formerData);
    }
    return report;
}
