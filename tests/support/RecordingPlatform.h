#pragma once

#include "platform/PlatformServices.h"

#include <QMap>
#include <QPair>
#include <QStringList>

#include <functional>

// Desktop services for tests: every box, prompt, beep and exit is recorded instead of shown.
class RecordingPlatform : public PlatformServices
{
public:
    using Box = QPair<QString, QString>; // text, title

    void messageBox(QWidget *, const QString &text, const QString &title) override
    {
        boxes.append({text, title});
        if (whileBoxIsOpen)
            whileBoxIsOpen();
    }
    // The box closes at once unless `holdAnnouncementBox` is set; then `closeAnnouncementBox`
    // closes it as the player would.
    void announce(QWidget *, const QString &text, const QString &title,
                  const std::function<void()> &dismissed) override
    {
        announcements.append({text, title});
        if (!holdAnnouncementBox) {
            if (dismissed)
                dismissed();
            return;
        }
        if (!closeAnnouncementBox) {
            closeAnnouncementBox = [this, dismissed] {
                closeAnnouncementBox = nullptr;
                if (dismissed)
                    dismissed();
            };
            ++announcementBoxes;
        }
    }
    QString inputBox(QWidget *, const QString &prompt, const QString &title,
                     const QString &defaultAnswer) override
    {
        prompts.append({prompt, title});
        defaults.append(defaultAnswer);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    // Answered from `yesNo` in order, then No.
    bool question(QWidget *, const QString &text, const QString &title) override
    {
        questions.append({text, title});
        return !yesNo.isEmpty() && yesNo.takeFirst();
    }
    QString remembered(const QString &key) const override { return settings.value(key); }
    void remember(const QString &key, const QString &value) override { settings[key] = value; }
    void beep() override { ++beeps; }
    // Draws come from `draws` in order, then 0.
    double randomUnit() override { return draws.isEmpty() ? 0.0 : draws.takeFirst(); }
    void endProgram() override { ++programEnds; }

    QList<Box> boxes;
    QList<Box> announcements;
    QList<Box> prompts;
    QList<Box> questions;
    QList<bool> yesNo;
    QMap<QString, QString> settings;
    QStringList defaults;
    QStringList answers;
    QList<double> draws;
    int beeps = 0;
    int programEnds = 0;
    std::function<void()> whileBoxIsOpen;
    bool holdAnnouncementBox = false;
    std::function<void()> closeAnnouncementBox;
    int announcementBoxes = 0;
};
