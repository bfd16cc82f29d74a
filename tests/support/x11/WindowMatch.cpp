#include "WindowMatch.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace {

bool hasTitle(Display *display, Window window, const std::string &title)
{
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    const bool same = title == name;
    XFree(name);
    return same;
}

long ownerPid(Display *display, Window window)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char *data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &left, &data) == Success &&
        data && format == 32 && count == 1)
        pid = *reinterpret_cast<const long *>(data); // Xlib hands 32-bit items over as longs
    if (data)
        XFree(data);
    return pid;
}

} // namespace

bool WindowMatch::matches(Display *display, Window window) const
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    if (width > 0 && (attributes.width != width || attributes.height != height))
        return false;
    if (pid > 0 && ownerPid(display, window) != pid)
        return false;
    return title.empty() || hasTitle(display, window, title);
}

Window WindowMatch::findFrom(Display *display, Window top) const
{
    if (matches(display, top))
        return top;
    Window root = 0, parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, top, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i)
            found = findFrom(display, children[i]);
        if (children)
            XFree(children);
    }
    return found;
}
