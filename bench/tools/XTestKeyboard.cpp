#include "XTestKeyboard.h"

#include <dlfcn.h>

XTestKeyboard::XTestKeyboard(Display *display)
    : m_display(display)
{
    void *library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return;
    using QueryExtension = Bool (*)(Display *, int *, int *, int *, int *);
    const auto query = reinterpret_cast<QueryExtension>(dlsym(library, "XTestQueryExtension"));
    const auto key = reinterpret_cast<FakeKey>(dlsym(library, "XTestFakeKeyEvent"));
    int event = 0, error = 0, major = 0, minor = 0;
    if (query && key && query(display, &event, &error, &major, &minor))
        m_key = key;
}

KeyCode XTestKeyboard::keyCode(const char *keysymName) const
{
    const KeySym keysym = XStringToKeysym(keysymName);
    return keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
}

void XTestKeyboard::type(KeyCode key)
{
    m_key(m_display, key, True, CurrentTime);
    m_key(m_display, key, False, CurrentTime);
    XFlush(m_display);
}
