// Asks the shown top-level window with the given title to close, as a window manager's close button
// does (a WM_DELETE_WINDOW message), so that scripts can close a window on a bare X server.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>

namespace {

bool isShownWithTitle(Display *display, Window window, const char *title)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    const bool same = std::strcmp(name, title) == 0;
    XFree(name);
    return same;
}

Window findWindow(Display *display, Window parent, const char *title)
{
    if (isShownWithTitle(display, parent, title))
        return parent;
    Window root = 0, ancestor = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, parent, &root, &ancestor, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i)
            found = findWindow(display, children[i], title);
        if (children)
            XFree(children);
    }
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const Window window = findWindow(display, DefaultRootWindow(display), argv[1]);
    if (!window) {
        std::fprintf(stderr, "no window titled '%s'\n", argv[1]);
        XCloseDisplay(display);
        return 1;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return 0;
}
