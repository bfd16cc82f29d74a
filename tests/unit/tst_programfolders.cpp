// Where the settings and the data folder are, and how files left in the folders of earlier
// versions are brought over: once, file by file, never replacing a newer one.
#include "startup/ProgramFolders.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using Tree = QMap<QString, QByteArray>; // path under the home -> contents

namespace {

const QString OldSettings = QStringLiteral("config/Unknown Organization/Skarnet.conf");
const QString NewSettings = QStringLiteral("config/skarnet/skarnet.conf");
const QString OldRecovery = QStringLiteral("data/Skarnet/recovery-123.json");
const QString NewRecovery = QStringLiteral("data/skarnet/recovery-123.json");
const QString OldKey = QStringLiteral("data/Skarnet/identity.key");
const QString NewKey = QStringLiteral("data/skarnet/identity.key");
const QFileDevice::Permissions OthersAndGroup = QFile::ReadGroup | QFile::WriteGroup |
                                                QFile::ExeGroup | QFile::ReadOther |
                                                QFile::WriteOther | QFile::ExeOther;

void write(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

Tree read(const QString &root)
{
    Tree tree;
    QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tree.insert(QDir(root).relativeFilePath(path), file.readAll());
    }
    return tree;
}

} // namespace

class TestProgramFolders : public QObject
{
    Q_OBJECT

private slots:
    void namesTheFolders();
    void bringsFormerFilesOver_data();
    void bringsFormerFilesOver();
};

void TestProgramFolders::namesTheFolders()
{
    const ProgramFolders folders(QStringLiteral("/h/.config"), QStringLiteral("/h/.local/share"));
    QCOMPARE(folders.settingsFile(), QStringLiteral("/h/.config/skarnet/skarnet.conf"));
    QCOMPARE(folders.dataFolder(), QStringLiteral("/h/.local/share/skarnet"));
}

void TestProgramFolders::bringsFormerFilesOver_data()
{
    QTest::addColumn<Tree>("before");
    QTest::addColumn<Tree>("after");
    QTest::addColumn<int>("sentences");

    QTest::newRow("settings, recovery copy and identity move")
        << Tree{{OldSettings, "[chat]\nname=Yugi\n"}, {OldRecovery, "{}"}, {OldKey, "key"}}
        << Tree{{NewSettings, "[chat]\nname=Yugi\n"}, {NewRecovery, "{}"}, {NewKey, "key"}} << 3;
    QTest::newRow("nothing from before")
        << Tree{{NewSettings, "new"}} << Tree{{NewSettings, "new"}} << 0;
    QTest::newRow("a newer file stays, the rest moves") << Tree{{OldSettings, "old"},
                                                                {NewSettings, "new"},
                                                                {OldKey, "old key"},
                                                                {NewKey, "new key"},
                                                                {OldRecovery, "{}"}}
                                                        << Tree{{OldSettings, "old"},
                                                                {NewSettings, "new"},
                                                                {OldKey, "old key"},
                                                                {NewKey, "new key"},
                                                                {NewRecovery, "{}"}}
                                                        << 3;
}

void TestProgramFolders::bringsFormerFilesOver()
{
    QFETCH(Tree, before);
    QFETCH(Tree, after);
    QFETCH(int, sentences);
    QTemporaryDir home;
    for (auto file = before.cbegin(); file != before.cend(); ++file)
        write(home.filePath(file.key()), file.value());
    if (before.contains(OldKey))
        QFile::setPermissions(home.filePath(OldKey), QFile::ReadOwner | QFile::WriteOwner);

    const ProgramFolders folders(home.filePath(QStringLiteral("config")),
                                 home.filePath(QStringLiteral("data")));
    QCOMPARE(folders.moveFormerFiles().size(), sentences);
    QCOMPARE(read(home.path()), after);
    // Done once: a second start finds nothing more to move.
    const QStringList again = folders.moveFormerFiles();
    QCOMPARE(again.size(), after.contains(OldSettings) ? 2 : 0);
    if (before.contains(OldKey) && after.contains(NewKey) && !after.contains(OldKey))
        QVERIFY(!(QFile::permissions(home.filePath(NewKey)) & OthersAndGroup)); // still private
    // Emptied former folders go.
    QCOMPARE(QFileInfo::exists(home.filePath(QStringLiteral("data/Skarnet"))),
             after.contains(OldKey));
}

QTEST_GUILESS_MAIN(TestProgramFolders)
#include "tst_programfolders.moc"
