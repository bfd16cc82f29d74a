#pragma once

#include <X11/Xlib.h>

#include <string>

// The window a tool is after: one shown on screen (viewable) with the title, the size and the
// owning process given; what is left unset is not compared.
struct WindowMatch
{
    std::string title;
    int width = 0;
    int height = 0;
    long pid = 0; // as the program announces it in _NET_WM_PID

    bool any() const { return !title.empty() || width > 0 || pid > 0; }

    bool matches(Display *display, Window window) const;
    // The first matching window at or below `top`, depth first; 0 when there is none.
    Window findFrom(Display *display, Window top) const;
};
