#pragma once

#include "PlatformServices.h"

// The desktop services of a real run, built on Qt's dialogs. Every text is shown as plain
// text: what the opponent sends is never read as markup.
class QtPlatformServices : public PlatformServices
{
public:
    void messageBox(QWidget *parent, const QString &text, const QString &title) override;
    void announce(QWidget *parent, const QString &text, const QString &title) override;
    QString inputBox(QWidget *parent, const QString &prompt, const QString &title,
                     const QString &defaultAnswer) override;
    void beep() override;
    void endProgram() override;
};
