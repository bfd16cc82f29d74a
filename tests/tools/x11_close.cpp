// Asks the shown top-level window with the given title to close, as a window manager's close button
// does (a WM_DELETE_WINDOW message), so that scripts can close a window on a bare X server.
#include "WindowMatch.h"
#include "X11Window.h"

#include <cstdio>

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
    const Window window = WindowMatch{argv[1]}.findFrom(display, DefaultRootWindow(display));
    if (!window) {
        std::fprintf(stderr, "no window titled '%s'\n", argv[1]);
        XCloseDisplay(display);
        return 1;
    }
    X11Window::askToClose(display, window);
    XCloseDisplay(display);
    return 0;
}
