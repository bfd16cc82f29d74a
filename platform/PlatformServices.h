#pragma once

#include <QString>

#include <functional>

class QWidget;

// The desktop services the windows use besides their own controls. Windows take them
// through this interface so that tests can record them instead of blocking on a dialog.
class PlatformServices
{
public:
    virtual ~PlatformServices() = default;

    // A modal box with an OK button; returns when the player dismisses it.
    virtual void messageBox(QWidget *parent, const QString &text, const QString &title) = 0;
    // The box that announces what the opponent did: an OK button, blocking no window, and
    // returning at once, so that the caller, the messages arriving behind it and the player go
    // on while it is up. While it is open, announcing again changes its text rather than
    // opening another box. `dismissed` runs once the player has closed it.
    virtual void announce(QWidget *parent, const QString &text, const QString &title,
                          const std::function<void()> &dismissed) = 0;
    // A modal prompt with OK and Cancel; the entered text, or an empty text on Cancel.
    virtual QString inputBox(QWidget *parent, const QString &prompt, const QString &title,
                             const QString &defaultAnswer) = 0;
    // A modal box with Yes and No; true for Yes.
    virtual bool question(QWidget *parent, const QString &text, const QString &title) = 0;
    // What the player typed last time under `key` (kept between runs), or an empty text.
    virtual QString remembered(const QString &key) const = 0;
    virtual void remember(const QString &key, const QString &value) = 0;
    virtual void beep() = 0;
    // A draw from a uniform generator on [0, 1), unpredictable from outside.
    virtual double randomUnit() = 0;
    // Ends the program: every window closes and no further handler runs.
    virtual void endProgram() = 0;
};
