#!/usr/bin/python3
"""Reads the program's accessibility tree over AT-SPI, as a screen reader does, until every
list, button and field on all three pages has the name in the table (30 s at most)."""
import sys
import time

import pyatspi

SETTINGS = ["Action on Form Feed", "Print Speed", "Print Density", "Carriage Return (<CR> code)",
            "Print Width", "Paper Near End Sensor", "Parallel Port Paper End Signal",
            "Data Buffer Size (ESC/POS)", "International Character Set", "Character Code Page",
            "Zero Style", "Character Spacing", "Line Spacing", "Print Columns (ESC/POS Mode)",
            "Font A Size (ESC/POS Mode)", "Extra Spacing (ESC/POS Mode)"]
PANEL_LISTS = ["Connection", "Queue", "Device", "Speed", "Frame", "Flow control"]
BUTTONS = ["Test Print", "Download Settings", "Close", "Refresh queues", "Browse...",
           "Refresh serial ports"] + ["Help on " + s for s in SETTINGS]
EXPECTED = sorted([("combo box", n) for n in SETTINGS + PANEL_LISTS]
                  + [("push button", n) for n in BUTTONS]
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
        return sorted(c for app in pyatspi.Registry.getDesktop(0) if app.name == "krv520-config"
                      for w in app if w.name.startswith("Vela KRV520") for c in controls(w))
    except Exception:  # the tree changed while it was read
        return []


deadline = time.monotonic() + 30
while (found := seen()) != EXPECTED and time.monotonic() < deadline:
    time.sleep(0.2)
print("missing:", [c for c in EXPECTED if c not in found],
      "unexpected:", [c for c in found if c not in EXPECTED])
sys.exit(found != EXPECTED)
