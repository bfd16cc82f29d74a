#include "QtPlatformServices.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QSettings>

#include <utility>

namespace {

QMessageBox *makeBox(QWidget *parent, const QString &text, const QString &title)
{
    auto *box = new QMessageBox(parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setWindowTitle(title);
    box->setStandardButtons(QMessageBox::Ok);
    box->setIcon(QMessageBox::NoIcon);
    return box;
}

} // namespace

QtPlatformServices::QtPlatformServices(QString settingsFile)
    : m_settingsFile(std::move(settingsFile))
{
}

void QtPlatformServices::messageBox(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox *box = makeBox(parent, text, title);
    box->exec();
    delete box;
}

// Not modal: the board goes on taking keys and clicks, and closing it ends the program even
// while a box is up.
void QtPlatformServices::announce(QWidget *parent, const QString &text, const QString &title,
                                  const std::function<void()> &dismissed)
{
    if (m_announcement) {
        m_announcement->setText(text);
        return;
    }
    QMessageBox *box = makeBox(parent, text, title);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box, [dismissed] {
        if (dismissed)
            dismissed();
    });
    m_announcement = box;
    box->show();
    box->raise();
    box->activateWindow();
}

QString QtPlatformServices::inputBox(QWidget *parent, const QString &prompt, const QString &title,
                                     const QString &defaultAnswer)
{
    bool accepted = false;
    const QString answer =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultAnswer, &accepted);
    return accepted ? answer : QString();
}

bool QtPlatformServices::question(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox *box = makeBox(parent, text, title);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::Yes);
    const bool yes = box->exec() == QMessageBox::Yes;
    delete box;
    return yes;
}

std::unique_ptr<QSettings> QtPlatformServices::settings() const
{
    if (m_settingsFile.isEmpty())
        return std::make_unique<QSettings>();
    return std::make_unique<QSettings>(m_settingsFile, QSettings::IniFormat);
}

QString QtPlatformServices::remembered(const QString &key) const
{
    return settings()->value(key).toString();
}

void QtPlatformServices::remember(const QString &key, const QString &value)
{
    settings()->setValue(key, value);
}

void QtPlatformServices::beep()
{
    QApplication::beep();
}

double QtPlatformServices::randomUnit()
{
    return m_random.generateDouble();
}

void QtPlatformServices::endProgram()
{
    // exit() leaves the event loop without asking the windows again whether they may close.
    QCoreApplication::exit(0);
}
