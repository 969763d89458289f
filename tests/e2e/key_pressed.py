"""Exits 0 when the drawn key Q of the running program is pressed for screen readers as the
argument says ("yes" or "no"), read through the accessibility bus as a screen reader reads it.
Usage: key_pressed.py yes|no"""
import re
import subprocess
import sys
import time

import pyatspi


def find(node, predicate, depth=0):
    if predicate(node):
        return node
    for i in range(node.childCount if depth < 12 else 0):
        child = node.getChildAtIndex(i)
        found = find(child, predicate, depth + 1) if child is not None else None
        if found is not None:
            return found
    return None


bus = subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                      "/org/a11y/bus", "--method", "org.a11y.Bus.GetAddress"],
                     check=True, capture_output=True, text=True).stdout.split("'")[1]
keyboard = None
for _ in range(100):
    keyboard = find(pyatspi.Registry.getDesktop(0), lambda n: n.name == "キーボード")
    if keyboard is not None:
        break
    time.sleep(0.1)
if keyboard is None or keyboard.childCount != 36:
    sys.exit("no keyboard of 36 keys on the accessibility bus")
q = keyboard.getChildAtIndex(10)
# Asked of the program itself: libatspi's cache misses some state changes.
reply = subprocess.run(["gdbus", "call", "--address", bus, "--dest", q.app.bus_name, "--object-path",
                        q.path, "--method", "org.a11y.atspi.Accessible.GetState"],
                       check=True, capture_output=True, text=True).stdout
low, high = [int(n) for n in re.findall(r"(?<![a-z0-9])[0-9]+", reply)][:2]
pressed = bool((low | high << 32) >> int(pyatspi.STATE_PRESSED) & 1)
print("%s: pressed %s" % (q.name, pressed))
sys.exit(0 if pressed == (sys.argv[1] == "yes") else 1)
