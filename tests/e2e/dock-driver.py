"""Plays the operator in real OBS through the accessibility bus: opens and docks the Corvane
dock, signs in, picks the device, waits for its live score and adds a score text to the
scene. Prints what it saw; exits non-zero, saying why, when a step finds nothing to act on.
Usage: dock-driver.py EMAIL PASSWORD DEVICE_LABEL"""
import sys
import time

import pyatspi


def children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return []


def find(node, role, name=None, depth=0):
    if depth > 14:
        return None
    try:
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
    except Exception:
        return None
    for child in children(node):
        found = find(child, role, name, depth + 1)
        if found is not None:
            return found
    return None


def dump(node, depth=0):
    try:
        print("  " * depth + f"{node.getRoleName()}: {node.name!r}")
    except Exception:
        return
    if depth < 12:
        for child in children(node):
            dump(child, depth + 1)


def wait_for(what, lookup, seconds=20, where=None):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = lookup()
        if found:
            return found
        time.sleep(0.25)
    if where is not None:
        dump(where)
    sys.exit(f"dock-driver: {what} not found")


def press(node):
    node.queryAction().doAction(0)


def obs_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        if app is not None and app.name == "obs":
            return app
    return None


email, password, device = sys.argv[1:4]
app = wait_for("OBS on the accessibility bus", obs_app)
press(wait_for("the Docks menu's Corvane item", lambda: find(app, "menu item", "Corvane")))
dock = wait_for("the Corvane dock", lambda: find(app, "frame", "Corvane"))
press(wait_for("the dock's Float button", lambda: find(dock, "button", "Float")))

wait_for("the email field", lambda: find(dock, "text", "Email")).queryEditableText().setTextContents(email)
find(dock, "password text", "Password").queryEditableText().setTextContents(password)
press(wait_for("the Sign in button", lambda: find(dock, "push button", "Sign in") or find(dock, "button", "Sign in")))
print("dock-driver: signed in as", wait_for("the signed-in line", lambda: find(dock, "label", f"Signed in as <b>{email}</b>")
                                          or find(dock, "label", f"Signed in as {email}")).name)

# A combo box reads as its current text; it is the only one in the Scoreboard group.
scoreboard = wait_for("the Scoreboard group", lambda: find(dock, "panel", "Scoreboard"), where=dock)
picker = wait_for("the device picker", lambda: find(scoreboard, "combo box"), where=dock)
item = wait_for("the device in the picker", lambda: find(picker, "list item", device), where=picker)
try:
    press(item)
except Exception:
    parent = item.parent
    parent.querySelection().selectChild(item.getIndexInParent())
score = wait_for("a live score in the dock", lambda: next(
    (label for label in children(scoreboard) if label.getRoleName() == "label" and "\u2013" in label.name), None), 40, where=scoreboard)
print("dock-driver: the dock shows", score.name)

press(wait_for("Add live score text to this scene", lambda: find(dock, "push button", "Add live score text to this scene")
               or find(dock, "button", "Add live score text to this scene")))
properties = wait_for("the new source's properties", lambda: next(
    (w for w in children(app) if w.getRoleName() == "dialog" and "Corvane Score" in w.name), None))
print("dock-driver: opened", properties.name)
press(wait_for("the properties' OK button", lambda: find(properties, "push button", "OK") or find(properties, "button", "OK")))
print("dock-driver: added the score text")
