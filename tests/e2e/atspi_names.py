#!/usr/bin/python3
"""Reads the program's accessibility tree over AT-SPI, as a screen reader does.

  atspi_names.py tree          every list, button and field on all three
                               pages has the name in the table below
  atspi_names.py window TOPIC  a help window named TOPIC, whose text is too
Waits at most 30 s for what it looks for; exits 1 with what it saw otherwise.
"""
import sys
import time

import pyatspi

SETTINGS = [
    "Action on Form Feed", "Print Speed", "Print Density", "Carriage Return (<CR> code)",
    "Print Width", "Paper Near End Sensor", "Parallel Port Paper End Signal",
    "Data Buffer Size (ESC/POS)", "International Character Set", "Character Code Page",
    "Zero Style", "Character Spacing", "Line Spacing", "Print Columns (ESC/POS Mode)",
    "Font A Size (ESC/POS Mode)", "Extra Spacing (ESC/POS Mode)",
]
# (role, name) of every control a screen reader user can act on.
EXPECTED = sorted(
    [("combo box", s) for s in SETTINGS]
    + [("push button", "Help on " + s) for s in SETTINGS]
    + [("push button", n) for n in ("Test Print", "Download Settings", "Close",
                                    "Refresh queues", "Browse...", "Refresh serial ports")]
    + [("combo box", n) for n in ("Connection", "Queue", "Device", "Speed", "Frame",
                                  "Flow control")]
    + [("text", "Host"), ("text", "Path"), ("spin button", "Port")]
)
CONTROLS = {"combo box", "push button", "text", "spin button", "check box", "radio button"}


def program():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "krv520-config":
            return app
    return None


def controls(node, found, depth=0):
    """(role, name) of the controls under node; a list's entries are its own."""
    for child in node:
        if child is None or depth > 40:
            continue
        role = child.getRoleName()
        if role in CONTROLS:
            found.append((role, child.name))
        # A list's entries and the tab strip's scroll arrows are Qt's own.
        if role not in ("combo box", "page tab list"):
            controls(child, found, depth + 1)
    return found


def tree_named():
    app = program()
    if app is None:
        return False, "no application krv520-config on the accessibility bus"
    windows = [w for w in app if w is not None and w.name == "Vela KRV520 Configuration Utility"]
    if not windows:
        return False, "no main window"
    seen = sorted(controls(windows[0], []))
    if seen == EXPECTED:
        return True, "%d controls named" % len(seen)
    missing = [c for c in EXPECTED if c not in seen]
    extra = [c for c in seen if c not in EXPECTED]
    return False, "missing %s; unexpected %s" % (missing, extra)


def help_window(topic):
    app = program()
    if app is None:
        return False, "no application"
    names = [w.name for w in app if w is not None]
    for window in app:
        if window is not None and window.name == topic:
            texts = [t for t in controls(window, []) if t[0] == "text"]
            if texts == [("text", topic)]:
                return True, "help window and its text named %r" % topic
            return False, "help window's text is %r" % texts
    return False, "windows named %r" % names


def main():
    check = tree_named if sys.argv[1] == "tree" else lambda: help_window(sys.argv[2])
    deadline = time.monotonic() + 30
    while True:
        try:
            ok, said = check()
        except Exception as error:  # the tree changes while it is read
            ok, said = False, repr(error)
        if ok or time.monotonic() > deadline:
            print(said)
            return 0 if ok else 1
        time.sleep(0.2)


sys.exit(main())
