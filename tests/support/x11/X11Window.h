#pragma once

#include <X11/Xlib.h>

#include <chrono>

// Requests to a window of another program, as a window manager makes them, and waiting for
// what the server reports.
namespace X11Window {

// A window id as X tools print it, decimal or 0x-hex; 0 for anything else.
Window parseId(const char *text);

// Asks the window to close, as a window manager's close button does (a WM_DELETE_WINDOW
// message): the program decides what closing means, and may ask its user first.
void askToClose(Display *display, Window window);

// Returns once the display has an event to read, or `until` has come.
void waitForEvents(Display *display, std::chrono::steady_clock::time_point until);

} // namespace X11Window
