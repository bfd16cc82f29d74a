#include "BoardRecovery.h"

#include "board/BoardSnapshot.h"
#include "board/RecoveryFile.h"
#include "boardwindow/BoardControls.h"
#include "platform/PlatformServices.h"

#include <QDir>
#include <QWidget>

BoardRecovery::BoardRecovery(const QString &folder, int port, BoardControls &controls,
                             PlatformServices &platform, QWidget *window)
    : QObject(window)
    , m_controls(controls)
    , m_platform(platform)
    , m_window(window)
    , m_file(new RecoveryFile(
          folder, port, [&controls] { return controls.snapshot(); }, this))
{
    connect(m_file, &RecoveryFile::cannotKeep, this, [this](const QString &reason) {
        emit cannotKeep(tr("Cannot keep a recovery copy: %1").arg(reason));
    });
}

void BoardRecovery::offer()
{
    if (!m_file->claim())
        return;
    const RecoveryFile::Found found = m_file->find();
    switch (found.kind) {
    case RecoveryFile::Found::Kind::Nothing:
        return;
    case RecoveryFile::Found::Kind::Unreadable: {
        QString text = tr("Skarnet could not read the recovery copy of your last game (%1), so it "
                          "starts with an empty board.")
                           .arg(found.problem);
        if (!found.setAsidePath.isEmpty())
            text +=
                tr(" The file was kept as %1.").arg(QDir::toNativeSeparators(found.setAsidePath));
        m_platform.messageBox(m_window, text, m_window->windowTitle());
        return;
    }
    case RecoveryFile::Found::Kind::Snapshot:
        break;
    }
    const QString time = found.snapshot.savedAt.toLocalTime().toString(QStringLiteral("HH:mm"));
    if (!m_platform.question(m_window,
                             tr("Skarnet did not close properly last time. Restore your half of "
                                "the board and the chat from %1?")
                                 .arg(time),
                             m_window->windowTitle())) {
        m_file->remove();
        return;
    }
    // The local half goes in as if typed, so that the whole-half resend of a link carries it to
    // the opponent; the opponent half and the chat are shown as they were.
    m_controls.restore(found.snapshot);
    m_controls.appendToChat(tr("(Board and chat restored from %1)").arg(time));
}

void BoardRecovery::changed()
{
    m_file->changed();
}

void BoardRecovery::finish()
{
    m_file->finish();
}

#include "moc_BoardRecovery.cpp"
