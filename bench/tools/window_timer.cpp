// Times how long a program takes to put its windows on an X display, from outside the program.
// It listens for the X server's own events on the root window (subscribed before anything is
// started or clicked, so no window can be missed) and reads one monotonic clock for both ends of
// each interval, which is more precise than polling for windows from a script.
//
//   window_timer [--timeout S] launch MATCH... -- PROGRAM [ARG...]
//       Starts PROGRAM and prints "pid PID window WINDOW ms MS drawn_ms MS": the times from just
//       before the start to the first top-level window of PROGRAM matching MATCH being mapped
//       (viewable), and to the first drawing into it. Then it stays the program's parent until
//       the program ends, passes SIGTERM, SIGINT and SIGHUP on to it, and exits with its status,
//       so a script can kill or wait for either. The program's standard output goes to this
//       tool's standard error.
//   window_timer [--timeout S] click WINDOW X Y MATCH...
//       Clicks the left button at X,Y inside WINDOW and prints "window WINDOW ms MS drawn_ms MS":
//       the times from the click to the first top-level window matching MATCH being mapped, and
//       to the first drawing into it.
//   window_timer [--timeout S] key WINDOW KEYSYM MATCH...
//       Presses and releases KEYSYM (an X key name such as Return) while WINDOW has the keyboard
//       focus, and prints the same as click.
//   window_timer close WINDOW
//       Asks WINDOW to close, as a window manager's close button does (WM_DELETE_WINDOW).
//
// MATCH is one or both of "--size WIDTHxHEIGHT" and "--title TITLE". WINDOW is an X window id,
// decimal or 0x-hex, as printed here. S defaults to 20 seconds. drawn_ms is "-" when no drawing
// was seen within 5 seconds of the map (or the display has no DAMAGE). Clicks and keys go
// through XTEST. Exits 0 on success, 1 when no matching window was mapped in time (or the
// program ended first), 2 on bad use or without XTEST.
#include "TopLevelWatch.h"
#include "WindowMatch.h"
#include "X11Window.h"
#include "XTestInput.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = TopLevelWatch::Clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Windows can vanish between an event and a query about them; such errors are expected here.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

int usage()
{
    std::fprintf(stderr, "usage: window_timer [--timeout S] launch MATCH... -- PROGRAM [ARG...]\n"
                         "       window_timer [--timeout S] click WINDOW X Y MATCH...\n"
                         "       window_timer [--timeout S] key WINDOW KEYSYM MATCH...\n"
                         "       window_timer close WINDOW\n"
                         "MATCH: --size WIDTHxHEIGHT and/or --title TITLE\n");
    return 2;
}

// Reads MATCH options from argv[index...] up to the end or a "--"; moves index past them.
bool parseMatch(int argc, char **argv, int &index, WindowMatch &match)
{
    while (index < argc && std::strcmp(argv[index], "--") != 0) {
        const std::string option = argv[index];
        if (index + 1 >= argc)
            return false;
        const char *value = argv[index + 1];
        if (option == "--size") {
            if (std::sscanf(value, "%dx%d", &match.width, &match.height) != 2 || match.width <= 0 ||
                match.height <= 0)
                return false;
        } else if (option == "--title") {
            match.title = value;
        } else {
            return false;
        }
        index += 2;
    }
    return match.any();
}

// Prints "PREFIXwindow WINDOW ms MS drawn_ms MS" as one line, the second "-" when no drawing was
// seen in time.
void reportShown(TopLevelWatch &watch, const std::string &prefix, Window window,
                 Clock::time_point from, Clock::time_point mappedAt, Clock::time_point deadline)
{
    Clock::time_point drawnAt;
    const auto drawingDeadline = std::min(deadline, mappedAt + std::chrono::seconds(5));
    const bool drawn = watch.waitForDrawing(window, drawingDeadline, drawnAt);
    std::printf("%swindow 0x%lx ms %.3f drawn_ms ", prefix.c_str(), window,
                millisecondsBetween(from, mappedAt));
    if (drawn)
        std::printf("%.3f\n", millisecondsBetween(from, drawnAt));
    else
        std::printf("-\n");
    std::fflush(stdout);
}

volatile sig_atomic_t startedPid = 0;

void passSignalOn(int signal)
{
    if (startedPid > 0)
        kill(pid_t(startedPid), signal);
    else
        _exit(128 + signal);
}

int exitStatusOf(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int launch(Display *display, WindowMatch match, char **program, Clock::time_point deadline)
{
    using SignalAction = struct sigaction;
    SignalAction forward{};
    forward.sa_handler = passSignalOn;
    sigemptyset(&forward.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &forward, nullptr);

    TopLevelWatch watch(display);
    const Clock::time_point started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("window_timer: fork");
        return 2;
    }
    if (pid == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            ::signal(signal, SIG_DFL);
        execvp(program[0], program);
        std::fprintf(stderr, "window_timer: cannot start %s: %s\n", program[0],
                     std::strerror(errno));
        _exit(127);
    }
    startedPid = pid;
    match.pid = pid;

    int status = 0;
    bool ended = false;
    Clock::time_point mappedAt;
    const Window window = watch.waitForMap(match, deadline, mappedAt, [&] {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        return ended;
    });
    if (!window) {
        std::fprintf(stderr, "window_timer: %s\n",
                     ended ? "the program ended before its window was mapped"
                           : "no matching window was mapped in time");
        if (!ended) {
            kill(pid, SIGTERM);
            exitStatusOf(pid);
        }
        return 1;
    }
    reportShown(watch, "pid " + std::to_string(pid) + " ", window, started, mappedAt, deadline);
    XCloseDisplay(display);
    return exitStatusOf(pid);
}

// Clicks or presses a key on `window` (argv[index...]: "X Y MATCH..." or "KEYSYM MATCH...") and
// times the window that follows.
int act(Display *display, const std::string &command, Window window, int argc, char **argv,
        int index, Clock::time_point deadline)
{
    XTestInput input(display);
    if (!input.available()) {
        std::fprintf(stderr, "window_timer: no XTEST on this display (is libxtst6 installed?)\n");
        return 2;
    }
    const bool click = command == "click";
    if (click ? index + 2 > argc : index >= argc)
        return usage();
    const int x = click ? std::atoi(argv[index++]) : 0;
    const int y = click ? std::atoi(argv[index++]) : 0;
    const char *keyName = click ? "" : argv[index++];
    const KeyCode key = click ? 0 : input.keyCode(keyName);
    WindowMatch match;
    if (!parseMatch(argc, argv, index, match) || index != argc)
        return usage();
    if (!click && !key) {
        std::fprintf(stderr, "window_timer: no key %s on this display\n", keyName);
        return 2;
    }

    TopLevelWatch watch(display);
    if (click)
        input.movePointer(window, x, y);
    const Clock::time_point acted = Clock::now();
    if (click)
        input.click();
    else
        input.type(key);
    Clock::time_point mappedAt;
    const Window mapped = watch.waitForMap(match, deadline, mappedAt);
    if (!mapped) {
        std::fprintf(stderr, "window_timer: no matching window was mapped in time\n");
        return 1;
    }
    reportShown(watch, "", mapped, acted, mappedAt, deadline);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int index = 1;
    double timeoutSeconds = 20;
    if (index + 1 < argc && std::strcmp(argv[index], "--timeout") == 0) {
        timeoutSeconds = std::atof(argv[index + 1]);
        index += 2;
        if (timeoutSeconds <= 0)
            return usage();
    }
    if (index >= argc)
        return usage();
    const std::string command = argv[index++];
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(long(timeoutSeconds * 1000));

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window_timer: cannot open the X display\n");
        return 2;
    }
    // A started program must not inherit the connection.
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    XSetErrorHandler(ignoreXErrors);

    if (command == "launch") {
        WindowMatch match;
        if (!parseMatch(argc, argv, index, match) || index + 1 >= argc)
            return usage();
        return launch(display, match, argv + index + 1, deadline);
    }
    const Window window = index < argc ? X11Window::parseId(argv[index++]) : 0;
    if (!window)
        return usage();
    if (command == "close") {
        if (index != argc)
            return usage();
        X11Window::askToClose(display, window);
        return 0;
    }
    if (command == "click" || command == "key")
        return act(display, command, window, argc, argv, index, deadline);
    return usage();
}
