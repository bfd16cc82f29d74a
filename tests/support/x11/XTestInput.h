#pragma once

#include <X11/Xlib.h>

// Keys and clicks through the XTEST extension, as a person's would come: the server delivers a
// key to the window with the keyboard focus and a click to the window under the pointer.
// libXtst (Debian package libxtst6, which xdotool brings) is loaded at run time.
class XTestInput
{
public:
    explicit XTestInput(Display *display);

    bool available() const { return m_key != nullptr; }

    // The key code of an X key name such as "a", "Return" or "BackSpace"; 0 when the display
    // has none.
    KeyCode keyCode(const char *keysymName) const;

    // Presses and releases the key and sends both to the server at once.
    void type(KeyCode key);
    // Puts the pointer on the point inside `window`, so that the window sees it enter before a
    // click.
    void movePointer(Window window, int x, int y);
    // Presses and releases the left button where the pointer is.
    void click();

private:
    using FakeKey = int (*)(Display *, unsigned int, Bool, unsigned long);
    using FakeButton = int (*)(Display *, unsigned int, Bool, unsigned long);
    using FakeMotion = int (*)(Display *, int, int, int, unsigned long);

    Display *m_display;
    FakeKey m_key = nullptr;
    FakeButton m_button = nullptr;
    FakeMotion m_motion = nullptr;
};
