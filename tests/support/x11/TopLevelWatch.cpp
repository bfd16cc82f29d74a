#include "TopLevelWatch.h"

#include "X11Window.h"

#include <algorithm>

TopLevelWatch::TopLevelWatch(Display *display)
    : m_display(display)
    , m_root(DefaultRootWindow(display))
    , m_drawing(display)
{
    XSelectInput(m_display, m_root, SubstructureNotifyMask);
    XSync(m_display, False);
}

Window TopLevelWatch::waitForMap(const WindowMatch &match, Clock::time_point deadline,
                                 Clock::time_point &mappedAt, const std::function<bool()> &gaveUp)
{
    XEvent event{};
    while (nextEvent(deadline, gaveUp, event)) {
        if (event.type != MapNotify || event.xmap.event != m_root)
            continue;
        const Clock::time_point arrived = Clock::now();
        if (match.matches(m_display, event.xmap.window)) {
            // A window that existed before this watch was not watched from its creation.
            m_drawing.watch(event.xmap.window, DamageWatch::Level::FirstDrawing);
            mappedAt = arrived;
            return event.xmap.window;
        }
    }
    return 0;
}

bool TopLevelWatch::waitForDrawing(Window window, Clock::time_point deadline,
                                   Clock::time_point &drawnAt)
{
    XEvent event{};
    while (m_drawing.available() && nextEvent(deadline, {}, event)) {
        const auto drawing = m_drawing.drawingIn(event);
        if (drawing && drawing->window == window) {
            drawnAt = Clock::now();
            return true;
        }
    }
    return false;
}

bool TopLevelWatch::nextEvent(Clock::time_point deadline, const std::function<bool()> &gaveUp,
                              XEvent &event)
{
    for (;;) {
        while (XPending(m_display)) {
            XNextEvent(m_display, &event);
            if (event.type != CreateNotify || event.xcreatewindow.parent != m_root)
                return true;
            m_drawing.watch(event.xcreatewindow.window, DamageWatch::Level::FirstDrawing);
        }
        if ((gaveUp && gaveUp()) || Clock::now() >= deadline)
            return false;
        X11Window::waitForEvents(m_display,
                                 std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
    }
}
