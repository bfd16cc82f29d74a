#include "ScreenArea.h"

namespace {

// Reads a decimal number of at most six digits at `at` and moves past it; false when there is
// none. A seventh digit is left unread, so the text does not parse as a whole.
bool readNumber(const std::string &text, std::size_t &at, int &value)
{
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 6 && text[at] >= '0' && text[at] <= '9')
        value = value * 10 + (text[at++] - '0');
    return at > start;
}

bool readCharacter(const std::string &text, std::size_t &at, char expected)
{
    if (at >= text.size() || text[at] != expected)
        return false;
    ++at;
    return true;
}

} // namespace

std::optional<ScreenArea> ScreenArea::parse(const std::string &text)
{
    ScreenArea area;
    std::size_t at = 0;
    if (!readNumber(text, at, area.width) || !readCharacter(text, at, 'x') ||
        !readNumber(text, at, area.height) || !readCharacter(text, at, '+') ||
        !readNumber(text, at, area.left) || !readCharacter(text, at, '+') ||
        !readNumber(text, at, area.top) || at != text.size())
        return std::nullopt;
    if (area.width == 0 || area.height == 0)
        return std::nullopt;
    return area;
}

bool ScreenArea::overlaps(const ScreenArea &other) const
{
    return left < other.left + other.width && other.left < left + width &&
           top < other.top + other.height && other.top < top + height;
}
