#pragma once

#include "DamageWatch.h"
#include "WindowMatch.h"

#include <X11/Xlib.h>

#include <chrono>
#include <functional>

// The X server's reports of top-level windows being mapped and first drawn into, watched from
// the moment this is made, so that no window shown afterwards can be missed. Top-level windows
// are the root's children on a display without a window manager; with one, they are its
// frames' children, which this does not follow. Each new one is watched for drawing from its
// creation on, well before it can be drawn into.
class TopLevelWatch
{
public:
    using Clock = std::chrono::steady_clock;

    explicit TopLevelWatch(Display *display);

    // Waits for a top-level window matching `match` to be mapped; returns it and the moment its
    // map event arrived, or 0 when the deadline passed or `gaveUp` said to stop first (it is
    // asked at least every 50 ms).
    Window waitForMap(const WindowMatch &match, Clock::time_point deadline,
                      Clock::time_point &mappedAt, const std::function<bool()> &gaveUp = {});

    // Waits for the first drawing into `window`; false when the deadline passed first or drawing
    // cannot be seen on this display (no DAMAGE).
    bool waitForDrawing(Window window, Clock::time_point deadline, Clock::time_point &drawnAt);

private:
    // The next event that is not a window's creation (those are handled here); false when the
    // deadline passed or `gaveUp` said to stop.
    bool nextEvent(Clock::time_point deadline, const std::function<bool()> &gaveUp, XEvent &event);

    Display *m_display;
    Window m_root;
    DamageWatch m_drawing;
};
