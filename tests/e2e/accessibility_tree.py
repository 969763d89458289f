"""Reads the running program through the accessibility bus as a screen reader does: the keyboard
with its 36 keys, Q pressed while q is held and not after, and the events that tell it. What
Orca says of them (names, descriptions, layout changes) is checked by orca_speech.py.
Usage: accessibility_tree.py (the program is running in this X server and on this bus)."""
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def pump(seconds):
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.01)


def find(node, predicate, depth=0):
    if predicate(node):
        return node
    if depth > 12:
        return None
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            found = find(child, predicate, depth + 1)
            if found is not None:
                return found
    return None


def states(node):
    """The node's states as the program reports them now: libatspi would answer from a cache
    that only some state changes update."""
    reply = subprocess.run(
        ["gdbus", "call", "--address", BUS, "--dest", node.app.bus_name, "--object-path",
         node.path, "--method", "org.a11y.atspi.Accessible.GetState"],
        check=True, capture_output=True, text=True).stdout
    low, high = [int(n) for n in re.findall(r"(?<![a-z0-9])[0-9]+", reply)][:2]
    mask = low | (high << 32)
    return {state for state in range(64) if mask >> state & 1}


BUS = subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                      "/org/a11y/bus", "--method", "org.a11y.Bus.GetAddress"],
                     check=True, capture_output=True, text=True).stdout.split("'")[1]
desktop = pyatspi.Registry.getDesktop(0)
app = None
for _ in range(100):
    app = find(desktop, lambda n: n.getRole() == pyatspi.ROLE_APPLICATION
               and n.name == "muruteka", 1)
    if app is not None:
        break
    time.sleep(0.1)
if app is None:
    fail("the program is not on the accessibility bus")

keyboard = find(app, lambda n: n.name == "キーボード")
if keyboard is None:
    fail("no object named キーボード")
if keyboard.childCount != 36:
    fail("the keyboard has %d children, not 36" % keyboard.childCount)
keys = [keyboard.getChildAtIndex(i) for i in range(36)]
expected = {0: "1 ソ#", 2: "3", 35: "M ド"}
for index, name in expected.items():
    if keys[index].name != name:
        fail("key %d is named %r, not %r" % (index + 1, keys[index].name, name))
q = keys[10]
if int(pyatspi.STATE_PRESSED) in states(q):
    fail("Q is pressed before anything is played")

events = []
pyatspi.Registry.registerEventListener(
    lambda e: events.append((e.type, e.source.name if e.source else None, e.detail1)),
    "object:state-changed:checked")
pump(0.5)

subprocess.run(["xdotool", "keydown", "q"], check=True)
pump(1.0)
held = states(q)
subprocess.run(["xdotool", "keyup", "q"], check=True)
pump(1.0)
released = states(q)
if int(pyatspi.STATE_PRESSED) not in held:
    fail("Q is not pressed while q is held: %r" % sorted(held))
if int(pyatspi.STATE_PRESSED) in released:
    fail("Q stays pressed after q is released")
toggles = [(name, detail) for kind, name, detail in events if kind.startswith("object:state")]
if toggles != [("Q ラ", 1), ("Q ラ", 0)]:
    fail("state-change events for Q: %r" % toggles)

print("accessibility tree: ok")
