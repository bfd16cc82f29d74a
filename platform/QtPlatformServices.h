#pragma once

#include "PlatformServices.h"

#include <QMessageBox>
#include <QPointer>
#include <QRandomGenerator>
#include <QSettings>

#include <memory>

// The desktop services of a real run, built on Qt's dialogs. Every text is shown as plain
// text: what the opponent sends is never read as markup.
class QtPlatformServices : public PlatformServices
{
public:
    // Settings are kept in `settingsFile` (an INI file), or where QSettings keeps them for this
    // application when none is given.
    explicit QtPlatformServices(QString settingsFile = {});

    void messageBox(QWidget *parent, const QString &text, const QString &title) override;
    void announce(QWidget *parent, const QString &text, const QString &title,
                  const std::function<void()> &dismissed) override;
    QString inputBox(QWidget *parent, const QString &prompt, const QString &title,
                     const QString &defaultAnswer) override;
    bool question(QWidget *parent, const QString &text, const QString &title) override;
    // Kept with QSettings, in the player's configuration folder.
    QString remembered(const QString &key) const override;
    void remember(const QString &key, const QString &value) override;
    void beep() override;
    double randomUnit() override;
    void endProgram() override;

private:
    std::unique_ptr<QSettings> settings() const;

    const QString m_settingsFile;
    QPointer<QMessageBox> m_announcement;
    // Seeded once from the operating system's random source: draws in quick succession are
    // independent, and nobody can predict them from the time of the click.
    QRandomGenerator m_random = QRandomGenerator::securelySeeded();
};
