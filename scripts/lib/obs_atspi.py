"""Finding, reading and pressing things in the running OBS through the accessibility bus,
for the scripts and tests that play the operator. A step that finds nothing in time ends
the program, saying what it looked for."""
import sys
import time

import pyatspi


def children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return []


def find_all(node, role, depth=0):
    """Every node of the role below `node` (itself included), depth first."""
    try:
        if node.getRoleName() == role:
            yield node
    except Exception:
        return
    if depth < 16:
        for child in children(node):
            yield from find_all(child, role, depth + 1)


def find(node, role, name=None):
    """The first node of the role below `node`, with that name when one is given."""
    return next((n for n in find_all(node, role) if name is None or n.name == name), None)


def dump(node, depth=0):
    try:
        print("  " * depth + f"{node.getRoleName()}: {node.name!r}")
    except Exception:
        return
    if depth < 12:
        for child in children(node):
            dump(child, depth + 1)


def wait_for(what, lookup, seconds=20, where=None, who="driver"):
    """What `lookup` returns once it is not None; else prints the tree below `where`, when
    given, and exits saying what was not found."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = lookup()
        if found is not None:
            return found
        time.sleep(0.25)
    if where is not None:
        dump(where)
    sys.exit(f"{who}: {what} not found")


def press(node):
    node.queryAction().doAction(0)


def obs_app():
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in children(desktop) if a is not None and a.name == "obs"), None)
