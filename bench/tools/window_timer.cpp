// Times how long a program takes to put its windows on an X display, from outside the program.
// It listens for the X server's own events on the root window (subscribed before anything is
// started or clicked, so no window can be missed) and reads one monotonic clock for both ends of
// each interval, which is more precise than polling for windows from a script.
//
//   window_timer [--timeout S] launch MATCH... -- PROGRAM [ARG...]
//       Starts PROGRAM and prints "pid PID window WINDOW ms MS drawn_ms MS": the times from just
//       before the start to the first top-level window matching MATCH being mapped (viewable),
//       and to the first drawing into it. Then it stays the program's parent until the program
//       ends, passes SIGTERM, SIGINT and SIGHUP on to it, and exits with its status, so a script
//       can kill or wait for either. The program's standard output goes to this tool's standard
//       error.
//   window_timer [--timeout S] click WINDOW X Y MATCH...
//       Clicks the left button at X,Y inside WINDOW and prints "window WINDOW ms MS drawn_ms MS":
//       the times from the click to the first top-level window matching MATCH being mapped, and
//       to the first drawing into it.
//   window_timer [--timeout S] key WINDOW KEYSYM MATCH...
//       Presses and releases KEYSYM (an X key name such as Return) while WINDOW has the keyboard
//       focus, and prints the same as click.
//   window_timer focus WINDOW
//       Gives WINDOW the keyboard focus, as a window manager does when a window is activated.
//   window_timer close WINDOW
//       Asks WINDOW to close, as a window manager's close button does (WM_DELETE_WINDOW).
//
// MATCH is one or both of "--size WIDTHxHEIGHT" and "--title TITLE". WINDOW is an X window id,
// decimal or 0x-hex, as printed here. S defaults to 20 seconds. drawn_ms is "-" when no drawing
// was seen within 5 seconds of the map. Exits 0 on success, 1 when no matching window was mapped
// in time (or the program ended first), 2 on bad use.
//
// Clicks and keys go through the XTEST extension, as a real pointer and keyboard would, and
// drawing is seen through the DAMAGE extension. Their libraries (Debian packages libxtst6, which
// xdotool brings, and libxdamage1) are loaded at run time, so building this tool needs only the
// Xlib headers. Without libXtst, the events are sent to the window directly; without libXdamage,
// drawn_ms is always "-".
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Match
{
    int width = -1;
    int height = -1;
    std::string title;
    bool any() const { return width > 0 || !title.empty(); }
};

// Windows can vanish between an event and a query about them; such errors are expected here.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

bool parseWindow(const char *text, Window &window)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (!*text || *end || value == 0)
        return false;
    window = Window(value);
    return true;
}

// Drawing into windows, seen through the DAMAGE extension: the first drawing into a window after
// it is mapped is the moment its content is on screen (Qt maps a window first and draws it when
// the server says it is exposed, so text and pictures appear only then). libXdamage is loaded at
// run time, like libXtst; without it, no drawing is reported.
class DrawingWatch
{
public:
    explicit DrawingWatch(Display *display)
        : m_display(display)
    {
        void *library = dlopen("libXdamage.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        using QueryExtension = Bool (*)(Display *, int *, int *);
        const auto query =
            reinterpret_cast<QueryExtension>(dlsym(library, "XDamageQueryExtension"));
        m_create = reinterpret_cast<Create>(dlsym(library, "XDamageCreate"));
        int error = 0;
        if (!query || !m_create || !query(display, &m_eventBase, &error))
            m_eventBase = -1;
    }

    bool available() const { return m_eventBase >= 0; }

    // One report when the window is first drawn into (the damage level "non-empty").
    void watch(Window window)
    {
        constexpr int reportNonEmpty = 3;
        if (available() && m_watched.insert(window).second)
            m_create(m_display, window, reportNonEmpty);
    }

    // The event reports drawing into `window`. A damage event starts like every X event: type,
    // serial, send_event, display, then the drawable.
    bool isDrawingInto(const XEvent &event, Window window) const
    {
        return available() && event.type == m_eventBase && event.xany.window == window;
    }

private:
    using Create = XID (*)(Display *, Drawable, int);
    Display *m_display;
    Create m_create = nullptr;
    int m_eventBase = -1;
    std::set<Window> m_watched;
};

class XConnection
{
public:
    XConnection()
        : m_display(XOpenDisplay(nullptr))
    {
        if (m_display) {
            m_root = DefaultRootWindow(m_display);
            // A started program must not inherit the connection.
            fcntl(ConnectionNumber(m_display), F_SETFD, FD_CLOEXEC);
            m_drawing = std::make_unique<DrawingWatch>(m_display);
        }
    }
    ~XConnection() { close(); }
    XConnection(const XConnection &) = delete;
    XConnection &operator=(const XConnection &) = delete;

    Display *get() const { return m_display; }
    void close()
    {
        m_drawing.reset();
        if (m_display)
            XCloseDisplay(std::exchange(m_display, nullptr));
    }

    // Top-level windows are the root's children on a display without a window manager; with one,
    // they are its frames' children, which this does not follow. Each new one is watched for
    // drawing from its creation on, well before it can be drawn into.
    void watchTopLevelWindows() const
    {
        XSelectInput(m_display, m_root, SubstructureNotifyMask);
        XSync(m_display, False);
    }

    bool matches(Window window, const Match &match) const
    {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(m_display, window, &attributes) ||
            attributes.map_state != IsViewable)
            return false;
        if (match.width > 0 &&
            (attributes.width != match.width || attributes.height != match.height))
            return false;
        if (match.title.empty())
            return true;
        char *name = nullptr;
        if (!XFetchName(m_display, window, &name) || !name)
            return false;
        const bool same = match.title == name;
        XFree(name);
        return same;
    }

    // Waits for a top-level window matching `match` to be mapped; returns it and the moment its
    // map event arrived, or 0 when the deadline passed or `gaveUp` said to stop first.
    template <typename GiveUp>
    Window waitForMap(const Match &match, Clock::time_point deadline, Clock::time_point &mappedAt,
                      GiveUp gaveUp)
    {
        XEvent event{};
        while (nextEvent(deadline, gaveUp, event)) {
            if (event.type != MapNotify || event.xmap.event != m_root)
                continue;
            const Clock::time_point arrived = Clock::now();
            if (matches(event.xmap.window, match)) {
                // A window that existed before this connection was not watched from its creation.
                m_drawing->watch(event.xmap.window);
                mappedAt = arrived;
                return event.xmap.window;
            }
        }
        return 0;
    }

    // Waits for the first drawing into `window`; false when the deadline passed first or drawing
    // cannot be seen on this display.
    bool waitForDrawing(Window window, Clock::time_point deadline, Clock::time_point &drawnAt)
    {
        if (!m_drawing->available())
            return false;
        XEvent event{};
        while (nextEvent(
            deadline, [] { return false; }, event)) {
            if (m_drawing->isDrawingInto(event, window)) {
                drawnAt = Clock::now();
                return true;
            }
        }
        return false;
    }

private:
    // The next event that is not a window's creation (those are handled here); false when the
    // deadline passed or `gaveUp` said to stop.
    template <typename GiveUp>
    bool nextEvent(Clock::time_point deadline, GiveUp gaveUp, XEvent &event)
    {
        for (;;) {
            while (XPending(m_display)) {
                XNextEvent(m_display, &event);
                if (event.type == CreateNotify && event.xcreatewindow.parent == m_root) {
                    m_drawing->watch(event.xcreatewindow.window);
                    continue;
                }
                return true;
            }
            if (gaveUp())
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return false;
            pollfd readable{ConnectionNumber(m_display), POLLIN, 0};
            poll(&readable, 1, int(left < 50 ? left : 50));
        }
    }

    Display *m_display = nullptr;
    Window m_root = 0;
    std::unique_ptr<DrawingWatch> m_drawing;
};

// Pointer and keyboard input: through XTEST when the library is there, else sent to the window.
class Input
{
public:
    explicit Input(Display *display)
        : m_display(display)
    {
        void *library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        using QueryExtension = Bool (*)(Display *, int *, int *, int *, int *);
        const auto query = reinterpret_cast<QueryExtension>(dlsym(library, "XTestQueryExtension"));
        m_motion = reinterpret_cast<FakeMotion>(dlsym(library, "XTestFakeMotionEvent"));
        m_button = reinterpret_cast<FakeButton>(dlsym(library, "XTestFakeButtonEvent"));
        m_key = reinterpret_cast<FakeKey>(dlsym(library, "XTestFakeKeyEvent"));
        int event = 0, error = 0, major = 0, minor = 0;
        m_xtest = query && m_motion && m_button && m_key && !std::getenv("WINDOW_TIMER_NO_XTEST") &&
                  query(display, &event, &error, &major, &minor);
    }

    // Moves the pointer over the point first, so the window sees it enter before the click.
    void movePointer(Window window, int x, int y)
    {
        if (!m_xtest)
            return;
        int rootX = 0, rootY = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), x, y, &rootX, &rootY,
                              &child);
        m_motion(m_display, DefaultScreen(m_display), rootX, rootY, 0);
        XSync(m_display, False);
    }

    void click(Window window, int x, int y)
    {
        if (m_xtest) {
            m_button(m_display, Button1, True, 0);
            m_button(m_display, Button1, False, 0);
        } else {
            sendButton(window, x, y, ButtonPress, 0);
            sendButton(window, x, y, ButtonRelease, Button1Mask);
        }
        XFlush(m_display);
    }

    bool pressKey(Window window, const char *keysymName)
    {
        const KeySym keysym = XStringToKeysym(keysymName);
        const KeyCode keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
        if (!keycode)
            return false;
        if (m_xtest) {
            m_key(m_display, keycode, True, 0);
            m_key(m_display, keycode, False, 0);
        } else {
            sendKey(window, keycode, KeyPress);
            sendKey(window, keycode, KeyRelease);
        }
        XFlush(m_display);
        return true;
    }

private:
    using FakeMotion = int (*)(Display *, int, int, int, unsigned long);
    using FakeButton = int (*)(Display *, unsigned int, Bool, unsigned long);
    using FakeKey = int (*)(Display *, unsigned int, Bool, unsigned long);

    void sendButton(Window window, int x, int y, int type, unsigned int state)
    {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = m_display;
        event.xbutton.window = window;
        event.xbutton.root = DefaultRootWindow(m_display);
        event.xbutton.time = CurrentTime;
        event.xbutton.x = x;
        event.xbutton.y = y;
        Window child = 0;
        XTranslateCoordinates(m_display, window, event.xbutton.root, x, y, &event.xbutton.x_root,
                              &event.xbutton.y_root, &child);
        event.xbutton.state = state;
        event.xbutton.button = Button1;
        event.xbutton.same_screen = True;
        XSendEvent(m_display, window, True,
                   type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }

    void sendKey(Window window, KeyCode keycode, int type)
    {
        XEvent event{};
        event.xkey.type = type;
        event.xkey.display = m_display;
        event.xkey.window = window;
        event.xkey.root = DefaultRootWindow(m_display);
        event.xkey.time = CurrentTime;
        event.xkey.keycode = keycode;
        event.xkey.same_screen = True;
        XSendEvent(m_display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   &event);
    }

    Display *m_display;
    bool m_xtest = false;
    FakeMotion m_motion = nullptr;
    FakeButton m_button = nullptr;
    FakeKey m_key = nullptr;
};

int usage()
{
    std::fprintf(stderr, "usage: window_timer [--timeout S] launch MATCH... -- PROGRAM [ARG...]\n"
                         "       window_timer [--timeout S] click WINDOW X Y MATCH...\n"
                         "       window_timer [--timeout S] key WINDOW KEYSYM MATCH...\n"
                         "       window_timer focus WINDOW\n"
                         "       window_timer close WINDOW\n"
                         "MATCH: --size WIDTHxHEIGHT and/or --title TITLE\n");
    return 2;
}

// Reads MATCH options from argv[index...] up to the end or a "--"; returns the index after them.
bool parseMatch(int argc, char **argv, int &index, Match &match)
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
void reportShown(XConnection &display, const std::string &prefix, Window window,
                 Clock::time_point from, Clock::time_point mappedAt, Clock::time_point deadline)
{
    Clock::time_point drawnAt;
    const auto drawingDeadline = std::min(deadline, mappedAt + std::chrono::seconds(5));
    const bool drawn = display.waitForDrawing(window, drawingDeadline, drawnAt);
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

int launch(XConnection &display, const Match &match, char **program, Clock::time_point deadline)
{
    using SignalAction = struct sigaction;
    SignalAction forward{};
    forward.sa_handler = passSignalOn;
    sigemptyset(&forward.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &forward, nullptr);

    display.watchTopLevelWindows();
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

    int status = 0;
    bool ended = false;
    Clock::time_point mappedAt;
    const Window window = display.waitForMap(match, deadline, mappedAt, [&] {
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
    reportShown(display, "pid " + std::to_string(pid) + " ", window, started, mappedAt, deadline);
    display.close();
    return exitStatusOf(pid);
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

    XConnection display;
    if (!display.get()) {
        std::fprintf(stderr, "window_timer: cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(ignoreXErrors);
    const auto never = [] {
        return false;
    };

    if (command == "launch") {
        Match match;
        if (!parseMatch(argc, argv, index, match) || index + 1 >= argc)
            return usage();
        return launch(display, match, argv + index + 1, deadline);
    }

    Window window = 0;
    if (index >= argc || !parseWindow(argv[index++], window))
        return usage();

    if (command == "focus" || command == "close") {
        if (index != argc)
            return usage();
        if (command == "focus") {
            XSetInputFocus(display.get(), window, RevertToParent, CurrentTime);
        } else {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display.get(), window, False, NoEventMask, &event);
        }
        XSync(display.get(), False);
        return 0;
    }

    Input input(display.get());
    Match match;
    Clock::time_point acted;
    if (command == "click") {
        if (index + 2 > argc)
            return usage();
        const int x = std::atoi(argv[index]);
        const int y = std::atoi(argv[index + 1]);
        index += 2;
        if (!parseMatch(argc, argv, index, match) || index != argc)
            return usage();
        display.watchTopLevelWindows();
        input.movePointer(window, x, y);
        acted = Clock::now();
        input.click(window, x, y);
    } else if (command == "key") {
        if (index >= argc)
            return usage();
        const char *key = argv[index++];
        if (!parseMatch(argc, argv, index, match) || index != argc)
            return usage();
        display.watchTopLevelWindows();
        acted = Clock::now();
        if (!input.pressKey(window, key)) {
            std::fprintf(stderr, "window_timer: no key %s on this display\n", key);
            return 2;
        }
    } else {
        return usage();
    }

    Clock::time_point mappedAt;
    const Window mapped = display.waitForMap(match, deadline, mappedAt, never);
    if (!mapped) {
        std::fprintf(stderr, "window_timer: no matching window was mapped in time\n");
        return 1;
    }
    reportShown(display, "", mapped, acted, mappedAt, deadline);
    return 0;
}
