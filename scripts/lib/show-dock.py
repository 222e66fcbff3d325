"""Drives the running OBS through the accessibility bus as an operator would: shows the
Corvane dock from the Docks menu and docks it into the main window (OBS adds a plugin's
dock floating and hidden). Exits non-zero, saying why, when a step finds nothing to act
on."""
import functools
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obs_atspi import find, obs_app, press, wait_for  # noqa: E402

wait_for = functools.partial(wait_for, seconds=15, who="show-dock")

app = wait_for("OBS on the accessibility bus", obs_app)
press(wait_for("the Docks menu's Corvane item", lambda: find(app, "menu item", "Corvane")))
dock = wait_for("the Corvane dock", lambda: find(app, "frame", "Corvane"))
press(wait_for("the dock's Float button", lambda: find(dock, "button", "Float")))
print("show-dock: the Corvane dock is shown and docked")
