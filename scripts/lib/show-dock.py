"""Drives the running OBS through the accessibility bus as an operator would: shows the
Corvane dock from the Docks menu and docks it into the main window (OBS adds a plugin's
dock floating and hidden). Exits non-zero, saying why, when a step finds nothing to act
on."""
import sys
import time

import pyatspi


def find(node, role, name, depth=0):
    if depth > 12:
        return None
    try:
        if node.getRoleName() == role and node.name == name:
            return node
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return None
    for child in children:
        found = find(child, role, name, depth + 1)
        if found is not None:
            return found
    return None


def obs_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "obs":
            return app
    return None


def wait_for(what, lookup, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = lookup()
        if found is not None:
            return found
        time.sleep(0.25)
    sys.exit(f"show-dock: {what} not found")


def press(node):
    node.queryAction().doAction(0)


app = wait_for("OBS on the accessibility bus", obs_app)
press(wait_for("the Docks menu's Corvane item", lambda: find(app, "menu item", "Corvane")))
dock = wait_for("the Corvane dock", lambda: find(app, "frame", "Corvane"))
press(wait_for("the dock's Float button", lambda: find(dock, "button", "Float")))
print("show-dock: the Corvane dock is shown and docked")
