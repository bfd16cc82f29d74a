#pragma once

#include <optional>
#include <string>

// A rectangle in a window's own pixels, written as X geometry: WIDTHxHEIGHT+LEFT+TOP.
struct ScreenArea
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    // None for anything but a rectangle of at least one pixel at a place not left of or above
    // the window's corner.
    static std::optional<ScreenArea> parse(const std::string &text);

    // Whether the two rectangles share at least one pixel.
    bool overlaps(const ScreenArea &other) const;
};
