#!/usr/bin/python3
"""Reads a running Skarnet from the accessibility bus, as a screen reader does.

usage: atspi_tree.py splash   the splash is up: it is named and its credit line can be read
       atspi_tree.py board    the main window is up: lists every named control of the board,
                              checks the zone names, roles and texts, then opens the
                              connections and coin windows through their buttons' actions and
                              flips the coin
       atspi_tree.py internet SECONDS [copy|no-copy]
                              the main window is up: opens the connections window and waits up
                              to SECONDS for its internet line to stop saying that the router
                              is being asked, then prints that line alone on standard output;
                              with "copy", presses "Copy internet address" afterwards, and with
                              "no-copy" checks that it cannot be pressed
       atspi_tree.py read NAME... the main window is up: prints what each named control of the
                              board shows, one line each, line breaks written as \\n
       atspi_tree.py listen SECONDS [ROLE]
                              listens for SECONDS (or until half a second after a control of
                              that ROLE shows) as a screen reader does to what the program
                              tells it: prints "ready" once it can hear, then one line per event,
                              fields split by |, line breaks written as \\n:
                                text-changed:insert|NAME|ROLE|TEXT (and :delete)
                                showing|NAME|ROLE|TEXTS INSIDE     hidden|NAME|ROLE
                                focused|NAME|ROLE    name-changed|NAME|ROLE
                                window-activate|NAME|ROLE

Prints what it found; exits 1 with the reason on the first failed check.
"""
import sys
import time
from pathlib import Path

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

APPLICATION = "Skarnet"
# The controls each window must show by name and role, shared with the in-process test.
ACCESSIBLE_NAMES = Path(__file__).with_name("accessible_names.tsv")


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def wait_for(what, find, seconds=15.0):
    """Polls `find` until it returns something; the bus is asked afresh each time."""
    deadline = time.monotonic() + seconds
    while True:
        found = find()
        if found:
            return found
        if time.monotonic() > deadline:
            raise CheckFailed(f"{what} did not appear on the accessibility bus")
        time.sleep(0.2)


def application():
    desktop = Atspi.get_desktop(0)
    desktop.clear_cache()
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == APPLICATION:
            return app
    return None


def running_application():
    return wait_for(f'the application "{APPLICATION}"', application)


def board_of(app):
    return wait_for("the duel board", lambda: window_named(app, APPLICATION, "Your life points"))


def windows(app):
    app.clear_cache()
    return [w for w in (app.get_child_at_index(i) for i in range(app.get_child_count())) if w]


def window_named(app, name, holding):
    """The window called `name` that holds a control called `holding`."""
    for window in windows(app):
        if window.get_name() == name and find(window, holding):
            return window
    return None


def walk(node):
    yield node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child)


def find(root, name, role=None):
    for node in walk(root):
        if node.get_name() == name and (role is None or node.get_role_name() == role):
            return node
    return None


def shown_text(node):
    expect("Text" in node.get_interfaces(), f'"{node.get_name()}" offers no text')
    # The count and the text are two calls: a text that changes between them would be read
    # cut to the old length, so it is read again until the length held across the read.
    for _ in range(50):
        count = Atspi.Text.get_character_count(node)
        text = Atspi.Text.get_text(node, 0, count)
        if Atspi.Text.get_character_count(node) == count:
            return text
    return text


def control(root, name, role):
    node = find(root, name)
    expect(node is not None, f'no control named "{name}"')
    expect(node.get_role_name() == role,
           f'"{name}" is a {node.get_role_name()}, not a {role}')
    return node


def press(root, name):
    button = control(root, name, "push button")
    expect("Action" in button.get_interfaces() and Atspi.Action.get_n_actions(button) > 0,
           f'"{name}" cannot be pressed')
    Atspi.Action.do_action(button, 0)


def table_of_names(window):
    """(name, role) of each control of `window` (its object name) in the table of names."""
    with ACCESSIBLE_NAMES.open(encoding="utf-8") as table:
        rows = [line.rstrip("\n").split("\t") for line in table
                if line.strip() and not line.startswith("#")]
    return [(name, role) for (owner, _, name, role) in rows if owner == window]


def check_names(window, object_name):
    for name, role in table_of_names(object_name):
        control(window, name, role)


def named_controls(window):
    return [(n.get_role_name(), n.get_name()) for n in walk(window) if n is not window
            and n.get_name()]


def check_splash():
    app = running_application()
    splash = wait_for("the splash", lambda: window_named(app, APPLICATION, "Made by Quorvath"))
    expect("Click" in splash.get_description(), "the splash does not say how to go on")
    check_names(splash, "frmSPLASH")
    images = [n for n in walk(splash) if n.get_role_name() == "image"]
    expect(images and all(not n.get_name() for n in images),
           "the splash picture is not a silent decoration")
    print(f'splash: "{splash.get_name()}" ({splash.get_description()})')


# Where some controls lie on the board at its normal size (left, top, width, height).
BOARD_SIZE = (1018, 714)
PLACES = {"Send Message": (896, 688, 121, 20), "Connections Window": (8, 664, 113, 41),
          "Chat message": (896, 664, 121, 19)}


def check_places(board):
    """A screen reader finds each control where it is drawn, at whatever size the board is."""
    frame = board.get_extents(Atspi.CoordType.SCREEN)
    scale = frame.width / BOARD_SIZE[0]
    print(f"the board is {frame.width}x{frame.height} at {frame.x},{frame.y} (scale {scale:.3f})")
    for name, (left, top, width, height) in PLACES.items():
        node = find(board, name)
        expect(node is not None, f'no control named "{name}"')
        got = node.get_extents(Atspi.CoordType.SCREEN)
        want = (frame.x + left * scale, frame.y + top * scale, width * scale, height * scale)
        off = max(abs(a - b) for a, b in zip((got.x, got.y, got.width, got.height), want))
        expect(off <= 3, f'"{name}" is said to be at {got.x},{got.y} {got.width}x{got.height}, '
               f"but is drawn at {want}")


def check_board():
    app = running_application()
    print(f'application "{app.get_name()}" found on the accessibility bus')
    board = board_of(app)

    listed = named_controls(board)
    print(f"the board's {len(listed)} named controls:")
    for role, name in listed:
        print(f"  {role}: {name}")
    names = [name for _, name in listed]
    repeated = sorted({name for name in names if names.count(name) > 1})
    expect(not repeated, f"names used twice: {repeated}")
    check_places(board)

    # Each half has the same 14 frames; every frame's control is named after the frame.
    frames = [name[: -len(" frame")] for role, name in listed
              if role == "panel" and name.endswith(" frame")]
    yours = sorted(f[len("Your "):] for f in frames if f.startswith("Your "))
    theirs = sorted(f[len("Opponent's "):] for f in frames if f.startswith("Opponent's "))
    expect(len(yours) == 14 and yours == theirs, f"the halves' frames differ: {yours} / {theirs}")
    for zone in frames:
        expect(zone in names, f'no control named "{zone}" for the frame "{zone} frame"')

    check_names(board, "frmMain")
    expect(shown_text(control(board, "Opponent's life points", "label")) == "8000",
           "the opponent's life points do not read 8000")
    expect(shown_text(control(board, "Your life points", "text")) == "8000",
           "your life points do not read 8000")
    status = shown_text(control(board, "Status", "status bar"))
    expect(status, "the status line reads nothing")
    print(f'status line reads "{status}"')

    press(board, "Connections Window")
    connections = wait_for("the connections window",
                           lambda: window_named(app, "Connections", "Connect to IP"))
    check_names(connections, "frmConnections")
    print("connections window:")
    for role, name in named_controls(connections):
        print(f"  {role}: {name}")

    press(board, "Coin / Dice")
    coin = wait_for("the coin and dice window",
                    lambda: window_named(app, "Coin / Dice Roll", "Flip Coin"))
    check_names(coin, "frmOutcome")
    outcome = control(coin, "Outcome", "label")
    press(coin, "Flip Coin")
    result = wait_for("the coin's result",
                      lambda: shown_text(outcome) if shown_text(outcome) != "Outcome" else None)
    expect(result.startswith(("Heads", "Tails")), f'the outcome reads "{result}"')
    print(f'coin window: flipped, "Outcome" reads "{result}"')


INTERNET = "On the internet: "


def internet_line(app):
    """The internet line of the shown connections window, or None."""
    for window in windows(app):
        if window.get_name() == "Connections":
            line = find(window, "Internet address", "label")
            if line is not None:
                return line
    return None


def check_internet(seconds, copy):
    app = running_application()
    board = board_of(app)
    if internet_line(app) is None:
        press(board, "Connections Window")
    line = wait_for("the internet line of the connections window", lambda: internet_line(app))
    name = shown_text(line)
    print(f'the internet line first reads "{name}"', file=sys.stderr)
    # Its text is asked afresh each time, as the router's answer comes in.
    deadline = time.monotonic() + seconds
    while name.startswith(INTERNET + "asking") and time.monotonic() < deadline:
        time.sleep(0.2)
        name = shown_text(line)
    expect(name.startswith(INTERNET), f'the internet line reads "{name}"')
    expect(not name.startswith(INTERNET + "asking"),
           f'the internet line still reads "{name}" after {seconds:g} s')
    connections = next(w for w in windows(app) if w.get_name() == "Connections")
    button = control(connections, "Copy internet address", "push button")
    enabled = button.get_state_set().contains(Atspi.StateType.ENABLED)
    if copy == "copy":
        expect(enabled, f'"Copy internet address" is disabled beside "{name}"')
        press(connections, "Copy internet address")
    elif copy == "no-copy":
        expect(not enabled, f'"Copy internet address" is enabled beside "{name}"')
    print(name)


def read_board(names):
    app = running_application()
    board = board_of(app)
    for name in names:
        node = find(board, name)
        expect(node is not None, f'no control named "{name}"')
        print(shown_text(node).replace("\n", "\\n"))


# What a screen reader listens for when the program changes without being touched.
HEARD_EVENTS = ["object:text-changed", "object:state-changed:showing",
                "object:state-changed:focused", "object:property-change:accessible-name",
                "window:activate"]


def one_line(text):
    """`text` on one line; a text box gives its line breaks as paragraph separators."""
    return str(text).replace("\u2029", "\n").replace("\n", "\\n")


def texts_inside(node):
    return " / ".join(one_line(n.get_name()) for n in walk(node)
                      if n is not node and n.get_role_name() == "label" and n.get_name())


def heard_line(event):
    """The line for one event of the program, or None for one a screen reader passes over."""
    source = event.source
    if source is None or source.get_application() is None \
            or source.get_application().get_name() != APPLICATION:
        return None
    who = f"{one_line(source.get_name())}|{source.get_role_name()}"
    kind = event.type
    if kind.startswith("object:text-changed:"):
        return f"text-changed:{kind.rsplit(':', 1)[1]}|{who}|{one_line(event.any_data)}"
    if kind == "object:state-changed:showing":
        return f"showing|{who}|{texts_inside(source)}" if event.detail1 else f"hidden|{who}"
    if kind == "object:state-changed:focused":
        return f"focused|{who}" if event.detail1 else None
    if kind == "object:property-change:accessible-name":
        return f"name-changed|{who}"
    if kind == "window:activate":
        return f"window-activate|{who}"
    return None


def listen(seconds, until_role=None):
    def heard(event):
        try:
            line = heard_line(event)
        except GLib.Error as problem:  # the source went away before it could be asked
            line = f"gone|{event.type}|{problem.message}"
        if line:
            print(line, flush=True)
        # What comes just after it is heard too, such as a control taking the focus.
        if until_role and line and line.startswith("showing|") \
                and line.split("|")[2] == until_role:
            GLib.timeout_add(500, lambda: Atspi.event_quit() or False)

    listener = Atspi.EventListener.new(heard)
    for kind in HEARD_EVENTS:
        listener.register(kind)

    # The program asks the registry which events are listened for once it hears of a new
    # listener, and sends nothing before; a second is ample for that.
    def ready():
        print("ready", flush=True)
        return False

    GLib.timeout_add(1000, ready)
    GLib.timeout_add(int(1000 * (1 + seconds)), lambda: Atspi.event_quit() or False)
    Atspi.event_main()
    for kind in HEARD_EVENTS:
        listener.deregister(kind)


def main():
    args = sys.argv[1:]
    if args in (["splash"], ["board"]):
        check = {"splash": check_splash, "board": check_board}[args[0]]
    elif len(args) > 1 and args[0] == "read":
        def check():
            read_board(args[1:])
    elif len(args) in (2, 3) and args[0] == "listen":
        def check():
            listen(float(args[1]), *args[2:])
    elif len(args) in (2, 3) and args[0] == "internet" and args[2:] in ([], ["copy"], ["no-copy"]):
        def check():
            check_internet(float(args[1]), "".join(args[2:]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        check()
    except (CheckFailed, GLib.Error) as problem:
        print(f"FAIL: {problem}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
