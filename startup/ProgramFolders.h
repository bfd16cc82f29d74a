#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its settings file and its data folder (the identity, the recovery
// copies), under the player's configuration and data folders: `skarnet/skarnet.conf` and
// `skarnet/`, as ~/.config/skarnet/skarnet.conf and ~/.local/share/skarnet/ by default.
//
// Earlier versions kept them, unasked, in "Unknown Organization/Skarnet.conf" and "Skarnet/";
// moveFormerFiles() brings those over once, file by file, never replacing one that is already
// in the new place, so nothing is lost whichever version ran last.
class ProgramFolders
{
public:
    // The folders under the given configuration and data roots.
    ProgramFolders(const QString &configRoot, const QString &dataRoot);
    // Under the player's folders ($XDG_CONFIG_HOME and $XDG_DATA_HOME, or their defaults).
    static ProgramFolders forThisUser();

    QString settingsFile() const;
    QString dataFolder() const;

    // Moves the former settings file and the files of the former data folder into place,
    // where nothing of the same name is there yet, and removes the former folders once empty.
    // Returns one sentence for each move and for each file that had to stay.
    QStringList moveFormerFiles() const;

private:
    QString formerSettingsFile() const;
    QString formerDataFolder() const;

    QString m_configRoot;
    QString m_dataRoot;
};
