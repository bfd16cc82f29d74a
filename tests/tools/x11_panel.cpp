// Plays a desktop panel on a bare X server: a dock window along the bottom edge of the screen
// that reserves its height (a strut), and the work area a window manager then announces for
// the rest of the screen (_NET_WORKAREA on the root window), which is where programs learn
// the room they have. Prints "ready" once both are in place and stays until it is killed.
//
// usage: x11_panel HEIGHT
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void setCardinals(Display *display, Window window, const char *property, const long *values,
                  int count)
{
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(values), count);
}

} // namespace

int main(int argc, char **argv)
{
    const int height = argc == 2 ? std::atoi(argv[1]) : 0;
    if (height <= 0) {
        std::fprintf(stderr, "usage: x11_panel HEIGHT\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_panel: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int width = DisplayWidth(display, screen);
    const int screenHeight = DisplayHeight(display, screen);

    const Window panel =
        XCreateSimpleWindow(display, root, 0, screenHeight - height, unsigned(width),
                            unsigned(height), 0, 0, BlackPixel(display, screen));
    Atom dock = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(display, panel, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(&dock), 1);
    // left, right, top, bottom, then the start and end of each along its edge.
    const long strut[12] = {0, 0, 0, height, 0, 0, 0, 0, 0, 0, 0, width - 1};
    setCardinals(display, panel, "_NET_WM_STRUT_PARTIAL", strut, 12);
    setCardinals(display, panel, "_NET_WM_STRUT", strut, 4);
    XMapWindow(display, panel);

    const long workArea[4] = {0, 0, width, screenHeight - height};
    setCardinals(display, root, "_NET_WORKAREA", workArea, 4);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    pause();
    return 0;
}
