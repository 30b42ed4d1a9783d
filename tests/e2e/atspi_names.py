#!/usr/bin/python3
"""Reads the program's accessibility tree over AT-SPI, as a screen reader does,
until every list, button and field on all three pages has the name in the
table below (at most 30 s); otherwise prints what differs and exits 1."""
import sys
import time

import pyatspi

SETTINGS = [
    "Action on Form Feed", "Print Speed", "Print Density", "Carriage Return (<CR> code)",
    "Print Width", "Paper Near End Sensor", "Parallel Port Paper End Signal",
    "Data Buffer Size (ESC/POS)", "International Character Set", "Character Code Page",
    "Zero Style", "Character Spacing", "Line Spacing", "Print Columns (ESC/POS Mode)",
    "Font A Size (ESC/POS Mode)", "Extra Spacing (ESC/POS Mode)"]
EXPECTED = sorted(
    [("combo box", s) for s in SETTINGS] + [("push button", "Help on " + s) for s in SETTINGS]
    + [("push button", n) for n in ("Test Print", "Download Settings", "Close",
                                    "Refresh queues", "Browse...", "Refresh serial ports")]
    + [("combo box", n) for n in ("Connection", "Queue", "Device", "Speed", "Frame",
                                  "Flow control")]
    + [("text", "Host"), ("text", "Path"), ("spin button", "Port")])


def controls(node):
    for child in node:
        role = child.getRoleName()
        if role in ("combo box", "push button", "text", "spin button"):
            yield role, child.name
        if role not in ("combo box", "page tab list"):  # entries and scroll arrows are Qt's
            yield from controls(child)


def seen():
    try:
        for app in pyatspi.Registry.getDesktop(0):
            if app and app.name == "krv520-config":
                return sorted(c for w in app if w and w.name.startswith("Vela KRV520")
                              for c in controls(w))
    except Exception:  # the tree changed while it was read
        pass
    return []


deadline = time.monotonic() + 30
while (found := seen()) != EXPECTED and time.monotonic() < deadline:
    time.sleep(0.2)
print("missing:", [c for c in EXPECTED if c not in found],
      "unexpected:", [c for c in found if c not in EXPECTED])
sys.exit(found != EXPECTED)
