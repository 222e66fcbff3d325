"""Opens OBS's Plugin Manager (Tools menu) through the accessibility bus, as a user would,
and finds the plugin listed there under its display name. Prints what the dialog lists;
exits non-zero, saying why, when a step finds nothing.
Usage: plugin-manager-driver.py DISPLAY_NAME"""
import sys
import time

import pyatspi


def children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return []


def find_all(node, role, depth=0):
    try:
        if node.getRoleName() == role:
            yield node
    except Exception:
        return
    if depth < 16:
        for child in children(node):
            yield from find_all(child, role, depth + 1)


def find(node, role, name):
    return next((n for n in find_all(node, role) if n.name == name), None)


def wait_for(what, lookup, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = lookup()
        if found is not None:
            return found
        time.sleep(0.25)
    sys.exit(f"plugin-manager: {what} not found")


def obs_app():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in children(desktop) if a is not None and a.name == "obs"), None)


wanted = sys.argv[1]
app = wait_for("OBS on the accessibility bus", obs_app)
item = wait_for("the Tools menu's Plugin Manager item", lambda: find(app, "menu item", "Plugin Manager"))
try:
    item.queryAction().doAction(0)
except Exception:
    # OBS runs the dialog modally inside the action, so the action's reply comes only once
    # the dialog is closed; the dialog itself is there to be read meanwhile.
    pass
dialog = wait_for("the Plugin Manager dialog", lambda: find(app, "dialog", "Plugin Manager"))
listed = wait_for("any plugin in the dialog", lambda: [n.name for n in find_all(dialog, "check box")] or None)
print("plugin-manager: listed " + ", ".join(listed))
if wanted not in listed:
    sys.exit(f"plugin-manager: {wanted!r} is not listed")
print(f"plugin-manager: {wanted!r} is listed")
