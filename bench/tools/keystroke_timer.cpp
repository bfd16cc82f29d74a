// Times keystrokes from one X display to the drawing they cause on another, from outside the
// programs: the keys go in through XTEST as a person's typing would, and the drawing is seen
// through DAMAGE, one monotonic clock reading both ends.
//
//   keystroke_timer [--timeout-ms N] [--pause-ms N | --gap-ms N]
//                   TYPING_DISPLAY WATCHED_DISPLAY WINDOW AREA KEY...
//       Presses each KEY (an X key name: a, 5, space, BackSpace) on TYPING_DISPLAY, where the
//       window with the keyboard focus takes it, and watches WINDOW on WATCHED_DISPLAY for
//       drawing into AREA (WIDTHxHEIGHT+LEFT+TOP in the window's pixels). Prints one line per
//       key, "key INDEX KEYSYM MS": from the press to the first drawing into the area after it,
//       "-" when none came within the timeout (1000 ms unless given). Then one line
//       "keys COUNT drawings COUNT overtaken COUNT".
//       One at a time (the default, or --pause-ms): each key waits for its drawing, then for
//       the area to stay undrawn for the pause (100 ms unless given, plus up to half as much
//       again at random, so that the keys do not fall in step with a timer of the program).
//       As a burst (--gap-ms): the keys go GAP ms apart whatever is drawn, and each is matched
//       with the first drawing after it; "overtaken" counts the keys whose drawing came only
//       after the next key was pressed.
//   keystroke_timer summarize FILE...
//       Reads such reports and prints "keys N not_drawn N overtaken N median MS p99 MS max MS"
//       ("inf" where a figure falls on a key never drawn).
//
// WINDOW is an X window id, decimal or 0x-hex. Exits 0 once every key was pressed (drawn or
// not), 1 when a display, XTEST or DAMAGE is missing or a report cannot be read, 2 on bad use.
#include "DamageWatch.h"
#include "KeyLatency.h"
#include "LatencySummary.h"
#include "ScreenArea.h"
#include "X11Window.h"
#include "XTestInput.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int usage()
{
    std::fprintf(stderr,
                 "usage: keystroke_timer [--timeout-ms N] [--pause-ms N | --gap-ms N]\n"
                 "                       TYPING_DISPLAY WATCHED_DISPLAY WINDOW AREA KEY...\n"
                 "       keystroke_timer summarize FILE...\n"
                 "AREA: WIDTHxHEIGHT+LEFT+TOP inside WINDOW\n");
    return 2;
}

struct Options
{
    double timeoutMs = 1000;
    double pauseMs = 100;
    double gapMs = 0; // above zero: the keys go as one burst
};

bool readMilliseconds(const char *text, double &value)
{
    char *end = nullptr;
    value = std::strtod(text, &end);
    return *text && !*end && std::isfinite(value) && value > 0 && value <= 60000;
}

// The watched side: one window's area on the other display, and the moments drawing into it
// arrived, in milliseconds from `start`. Only that area counts: a window's other parts (a
// blinking caret, say) draw on their own schedule and would otherwise pass for the drawing.
struct Watched
{
    Display *display;
    const DamageWatch &watch;
    ScreenArea area;
    Clock::time_point start;
    std::vector<double> drawings;
    // Whether the drawing whose rectangles are still arriving has already been counted.
    bool drawingCounted = false;
};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Takes every event the watched display has sent so far; one drawing can come as several
// rectangles, and is counted once, when its first rectangle in the area arrives.
void readDrawings(Watched &watched)
{
    while (XPending(watched.display)) {
        XEvent event{};
        XNextEvent(watched.display, &event);
        const auto drawing = watched.watch.drawingIn(event);
        if (!drawing)
            continue;
        if (!watched.drawingCounted && watched.area.overlaps(drawing->area)) {
            watched.drawings.push_back(millisecondsSince(watched.start));
            watched.drawingCounted = true;
        }
        if (!drawing->moreFollow)
            watched.drawingCounted = false;
    }
}

// Waits until the watched display sends something or `untilMs` (from the start) has come.
void waitForEvents(Watched &watched, double untilMs)
{
    const auto until = std::chrono::duration<double, std::milli>(untilMs);
    X11Window::waitForEvents(watched.display,
                             watched.start + std::chrono::duration_cast<Clock::duration>(until));
}

// Reads drawings until the area has stayed undrawn for `quietMs`, or `limitMs` from now.
void waitForQuiet(Watched &watched, double quietMs, double limitMs)
{
    const double giveUpAt = millisecondsSince(watched.start) + limitMs;
    double quietUntil = millisecondsSince(watched.start) + quietMs;
    for (;;) {
        const double now = millisecondsSince(watched.start);
        if (now >= quietUntil || now >= giveUpAt)
            return;
        waitForEvents(watched, std::min(quietUntil, giveUpAt));
        const std::size_t before = watched.drawings.size();
        readDrawings(watched);
        if (watched.drawings.size() != before)
            quietUntil = millisecondsSince(watched.start) + quietMs;
    }
}

void printKey(std::size_t index, const char *keysym, std::optional<double> latency)
{
    if (latency)
        std::printf("key %zu %s %.3f\n", index + 1, keysym, *latency);
    else
        std::printf("key %zu %s -\n", index + 1, keysym);
    std::fflush(stdout);
}

// Each key on its own: pressed once the area has been quiet, timed to its first drawing.
int timeKeysOneByOne(XTestInput &keyboard, Watched &watched, const Options &options,
                     const std::vector<KeyCode> &keys, char **names)
{
    std::minstd_rand random(20240611);
    std::uniform_real_distribution<double> extraPause(0, options.pauseMs / 2);
    std::size_t drawings = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        readDrawings(watched);
        watched.drawings.clear();
        const double pressedAt = millisecondsSince(watched.start);
        keyboard.type(keys[i]);
        const double deadline = pressedAt + options.timeoutMs;
        while (watched.drawings.empty() && millisecondsSince(watched.start) < deadline) {
            waitForEvents(watched, deadline);
            readDrawings(watched);
        }
        std::optional<double> latency;
        if (!watched.drawings.empty())
            latency = watched.drawings.front() - pressedAt;
        printKey(i, names[i], latency);
        waitForQuiet(watched, options.pauseMs + extraPause(random), 10 * options.timeoutMs);
        drawings += watched.drawings.size();
    }
    std::printf("keys %zu drawings %zu overtaken 0\n", keys.size(), drawings);
    return 0;
}

// The keys as one burst, GAP apart; afterwards each is matched with the first drawing after it.
int timeBurst(XTestInput &keyboard, Watched &watched, const Options &options,
              const std::vector<KeyCode> &keys, char **names)
{
    readDrawings(watched);
    watched.drawings.clear();
    const double firstAt = millisecondsSince(watched.start);
    std::vector<double> pressedAt;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const double due = firstAt + double(i) * options.gapMs;
        while (millisecondsSince(watched.start) < due) {
            waitForEvents(watched, due);
            readDrawings(watched);
        }
        pressedAt.push_back(millisecondsSince(watched.start));
        keyboard.type(keys[i]);
    }
    // The last key's drawing, then quiet; or the timeout.
    const double deadline = pressedAt.back() + options.timeoutMs;
    while (millisecondsSince(watched.start) < deadline &&
           (watched.drawings.empty() || watched.drawings.back() <= pressedAt.back())) {
        waitForEvents(watched, deadline);
        readDrawings(watched);
    }
    waitForQuiet(watched, options.pauseMs, options.timeoutMs);

    const KeyLatency::Matched matched =
        KeyLatency::match(pressedAt, watched.drawings, options.timeoutMs);
    for (std::size_t i = 0; i < keys.size(); ++i)
        printKey(i, names[i], matched.latencies[i]);
    std::printf("keys %zu drawings %zu overtaken %d\n", keys.size(), watched.drawings.size(),
                matched.overtaken);
    return 0;
}

int summarize(int count, char **files)
{
    LatencySummary summary;
    for (int i = 0; i < count; ++i) {
        std::ifstream report(files[i]);
        if (!report) {
            std::fprintf(stderr, "keystroke_timer: cannot read %s\n", files[i]);
            return 1;
        }
        std::string line;
        while (std::getline(report, line)) {
            if (!summary.addReportLine(line)) {
                std::fprintf(stderr, "keystroke_timer: not a report line in %s: %s\n", files[i],
                             line.c_str());
                return 1;
            }
        }
    }
    std::printf("keys %d not_drawn %d overtaken %d median %.3f p99 %.3f max %.3f\n", summary.keys(),
                summary.notDrawn(), summary.overtaken(), summary.median(), summary.percentile(0.99),
                summary.maximum());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "summarize") == 0)
        return argc >= 3 ? summarize(argc - 2, argv + 2) : usage();

    Options options;
    int index = 1;
    while (index + 1 < argc && std::strncmp(argv[index], "--", 2) == 0) {
        const std::string option = argv[index];
        double value = 0;
        if (!readMilliseconds(argv[index + 1], value))
            return usage();
        if (option == "--timeout-ms")
            options.timeoutMs = value;
        else if (option == "--pause-ms")
            options.pauseMs = value;
        else if (option == "--gap-ms")
            options.gapMs = value;
        else
            return usage();
        index += 2;
    }
    if (argc - index < 5)
        return usage();
    const char *typingName = argv[index];
    const char *watchedName = argv[index + 1];
    const Window window = X11Window::parseId(argv[index + 2]);
    const std::optional<ScreenArea> area = ScreenArea::parse(argv[index + 3]);
    if (window == 0 || !area)
        return usage();
    char **keyNames = argv + index + 4;
    const int keyCount = argc - index - 4;

    Display *typing = XOpenDisplay(typingName);
    Display *watchedDisplay = XOpenDisplay(watchedName);
    if (!typing || !watchedDisplay) {
        std::fprintf(stderr, "keystroke_timer: cannot open display %s\n",
                     typing ? watchedName : typingName);
        return 1;
    }
    XTestInput keyboard(typing);
    if (!keyboard.available()) {
        std::fprintf(stderr, "keystroke_timer: no XTEST on %s (is libxtst6 installed?)\n",
                     typingName);
        return 1;
    }
    std::vector<KeyCode> keys;
    for (int i = 0; i < keyCount; ++i) {
        keys.push_back(keyboard.keyCode(keyNames[i]));
        if (!keys.back()) {
            std::fprintf(stderr, "keystroke_timer: no key %s on %s\n", keyNames[i], typingName);
            return 2;
        }
    }
    DamageWatch watch(watchedDisplay);
    watch.watch(window, DamageWatch::Level::EachRectangle);
    if (!watch.available()) {
        std::fprintf(stderr, "keystroke_timer: no DAMAGE on %s (is libxdamage1 installed?)\n",
                     watchedName);
        return 1;
    }

    Watched watched{watchedDisplay, watch, *area, Clock::now(), {}, false};
    const int status = options.gapMs > 0
                           ? timeBurst(keyboard, watched, options, keys, keyNames)
                           : timeKeysOneByOne(keyboard, watched, options, keys, keyNames);
    XCloseDisplay(typing);
    XCloseDisplay(watchedDisplay);
    return status;
}
