#pragma once

#include <X11/Xlib.h>

// Presses keys on an X display through the XTEST extension, as a real keyboard would: the server
// delivers them to whichever window has the focus. libXtst (Debian package libxtst6, which
// xdotool brings) is loaded at run time, so building needs only the Xlib headers.
class XTestKeyboard
{
public:
    explicit XTestKeyboard(Display *display);

    bool available() const { return m_key != nullptr; }

    // The key code of an X key name such as "a" or "BackSpace"; 0 when the display has none.
    KeyCode keyCode(const char *keysymName) const;

    // Presses and releases the key and sends both to the server at once.
    void type(KeyCode key);

private:
    using FakeKey = int (*)(Display *, unsigned int, Bool, unsigned long);

    Display *m_display;
    FakeKey m_key = nullptr;
};
