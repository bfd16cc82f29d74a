#include "X11Window.h"

#include <poll.h>

#include <cstdlib>

namespace X11Window {

Window parseId(const char *text)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    return *text && !*end ? Window(value) : 0;
}

void askToClose(Display *display, Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

void waitForEvents(Display *display, std::chrono::steady_clock::time_point until)
{
    using namespace std::chrono;
    const auto left = until - steady_clock::now();
    if (XPending(display) || left <= left.zero())
        return;
    const auto whole = duration_cast<seconds>(left);
    const timespec timeout{time_t(whole.count()),
                           long(duration_cast<nanoseconds>(left - whole).count())};
    pollfd readable{ConnectionNumber(display), POLLIN, 0};
    ppoll(&readable, 1, &timeout, nullptr);
}

} // namespace X11Window
