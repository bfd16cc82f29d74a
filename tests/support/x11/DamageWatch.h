#pragma once

#include "ScreenArea.h"

#include <X11/Xlib.h>

#include <optional>
#include <set>

// Drawing into windows, seen through the X DAMAGE extension. libXdamage (Debian package
// libxdamage1) is loaded at run time; without it, or without the extension on the display,
// nothing is watched.
class DamageWatch
{
public:
    explicit DamageWatch(Display *display);

    bool available() const { return m_eventBase >= 0; }

    enum class Level
    {
        EachRectangle = 0, // one report for every rectangle drawn
        FirstDrawing = 3,  // one report, when the window is first drawn into
    };
    // Starts reporting drawing into `window`; a window already watched is left as it is.
    void watch(Window window, Level level);

    struct Drawing
    {
        Window window;
        ScreenArea area; // in the window's own pixels
        bool moreFollow; // more rectangles of the same drawing are reported right after
    };
    // What `event` reports, when it is a drawing into a watched window.
    std::optional<Drawing> drawingIn(const XEvent &event) const;

private:
    using Create = XID (*)(Display *, Drawable, int);

    Display *m_display;
    Create m_create = nullptr;
    int m_eventBase = -1;
    std::set<Window> m_watched;
};
