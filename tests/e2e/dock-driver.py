"""Plays the operator in real OBS through the accessibility bus: opens and docks the Corvane
dock, signs in, picks the device, waits for its live score and adds a score text to the
scene. Given the overlay server's port, it then plays pages against that server: 41 page
sessions that come and go, one page sending a single 4 MiB message, a request that must still
be answered, and the operator turning "Serve overlay pages to browser sources" off. Prints
what it saw; exits non-zero, saying why, when a step finds nothing to act on.
Usage: dock-driver.py EMAIL PASSWORD DEVICE_LABEL [OVERLAY_PORT]"""
import functools
import os
import socket
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
from obs_atspi import children, find, obs_app, press, wait_for  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from obsws import WebSocket  # noqa: E402

wait_for = functools.partial(wait_for, who="dock-driver")

email, password, device = sys.argv[1:4]
overlay_port = int(sys.argv[4]) if len(sys.argv) > 4 else 0
app = wait_for("OBS on the accessibility bus", obs_app)
press(wait_for("the Docks menu's Corvane item", lambda: find(app, "menu item", "Corvane")))
dock = wait_for("the Corvane dock", lambda: find(app, "frame", "Corvane"))
# Qt 6.4 puts no title-bar buttons on the accessibility bus: there the dock stays floating.
qt = tuple(int(part) for part in os.environ.get("CORVANE_QT_VERSION", "6.8").split(".")[:2])
if qt >= (6, 5):
    press(wait_for("the dock's Float button", lambda: find(dock, "button", "Float"), where=dock))
else:
    print("dock-driver: Qt %d.%d shows no dock title buttons to assistive tools; the dock stays floating" % qt)

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


def overlay_snapshot(timeout):
    with urllib.request.urlopen("http://127.0.0.1:%d/live.json" % overlay_port, timeout=timeout) as answer:
        return answer.status


def overlay_pages():
    for _ in range(41):
        page = WebSocket(overlay_port, path="/live", protocol=None)
        page.receive()
        page.close()
    print("dock-driver: 41 overlay page sessions came and went")
    page = WebSocket(overlay_port, path="/live", protocol=None)
    page.receive()
    try:
        page.send(os.urandom(4 * 1024 * 1024), opcode=2)
    except OSError as error:
        print("dock-driver: the 4 MiB page was cut off while sending:", error)
    page.close()
    try:
        status = overlay_snapshot(5)
    except OSError as error:
        sys.exit("dock-driver: the overlay server no longer answers after a 4 MiB message: %s" % error)
    print("dock-driver: after a page's 4 MiB message /live.json still answers", status)
    live = WebSocket(overlay_port, path="/live", protocol=None)
    live.receive()
    print("dock-driver: a new page connects")
    switch = wait_for("the overlay switch", lambda: find(dock, "check box", "Serve overlay pages to browser sources"), where=dock)
    press(switch)
    end = time.monotonic() + 10
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", overlay_port), timeout=1).close()
            time.sleep(0.25)
        except OSError:
            print("dock-driver: turned the overlay server off; its port is closed")
            live.close()
            return
    sys.exit("dock-driver: the overlay server still listens after being turned off")


if overlay_port:
    overlay_pages()
