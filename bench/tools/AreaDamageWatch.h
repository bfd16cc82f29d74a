#pragma once

#include "ScreenArea.h"

#include <X11/Xlib.h>

// Drawing into one area of a window, seen through the X DAMAGE extension: the server reports
// every rectangle drawn into the window, and only those that overlap the area count. A window's
// other parts (a blinking caret, say) draw on their own schedule and would otherwise be taken
// for the drawing awaited. libXdamage (Debian package libxdamage1) is loaded at run time.
class AreaDamageWatch
{
public:
    AreaDamageWatch(Display *display, Window window, const ScreenArea &area);

    bool available() const { return m_eventBase >= 0; }

    // What an event says about the watched window.
    enum class Report
    {
        Other,   // not a drawing into the window
        Outside, // a drawing elsewhere in the window
        IntoArea // a drawing that overlaps the area
    };
    Report classify(const XEvent &event) const;

    // Whether the server has more rectangles of the same drawing to report right after this
    // event (only meaningful for drawings).
    static bool moreFollow(const XEvent &event);

private:
    Window m_window;
    ScreenArea m_area;
    int m_eventBase = -1;
};
