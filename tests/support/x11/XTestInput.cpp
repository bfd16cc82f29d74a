#include "XTestInput.h"

#include <dlfcn.h>

XTestInput::XTestInput(Display *display)
    : m_display(display)
{
    void *library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return;
    using QueryExtension = Bool (*)(Display *, int *, int *, int *, int *);
    const auto query = reinterpret_cast<QueryExtension>(dlsym(library, "XTestQueryExtension"));
    const auto key = reinterpret_cast<FakeKey>(dlsym(library, "XTestFakeKeyEvent"));
    m_button = reinterpret_cast<FakeButton>(dlsym(library, "XTestFakeButtonEvent"));
    m_motion = reinterpret_cast<FakeMotion>(dlsym(library, "XTestFakeMotionEvent"));
    int event = 0, error = 0, major = 0, minor = 0;
    if (query && key && m_button && m_motion && query(display, &event, &error, &major, &minor))
        m_key = key;
}

KeyCode XTestInput::keyCode(const char *keysymName) const
{
    const KeySym keysym = XStringToKeysym(keysymName);
    return keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
}

void XTestInput::type(KeyCode key)
{
    m_key(m_display, key, True, CurrentTime);
    m_key(m_display, key, False, CurrentTime);
    XFlush(m_display);
}

void XTestInput::movePointer(Window window, int x, int y)
{
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), x, y, &rootX, &rootY,
                          &child);
    m_motion(m_display, DefaultScreen(m_display), rootX, rootY, CurrentTime);
    XSync(m_display, False);
}

void XTestInput::click()
{
    m_button(m_display, Button1, True, CurrentTime);
    m_button(m_display, Button1, False, CurrentTime);
    XFlush(m_display);
}
