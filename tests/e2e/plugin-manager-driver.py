"""Opens OBS's Plugin Manager (Tools menu) through the accessibility bus, as a user would,
and finds the plugin listed there under its display name. Prints what the dialog lists;
exits non-zero, saying why, when a step finds nothing.
Usage: plugin-manager-driver.py DISPLAY_NAME"""
import functools
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from obs_atspi import find, find_all, obs_app, wait_for  # noqa: E402

wait_for = functools.partial(wait_for, who="plugin-manager")

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
