"""Starts Debian's Orca as /usr/bin/orca does, with two differences a test needs: its debug
log is written line by line, and it does not refuse to start beside another user's Orca."""
import runpy
import sys

log = sys.argv[1]
sys.argv = ["orca"] + sys.argv[2:]
script = runpy.run_path("/usr/bin/orca", run_name="orca_launcher")
main = script["main"]
main.__globals__["otherOrcas"] = lambda: []
main.__globals__["setProcessName"] = lambda name: None
from orca import debug
debug.debugLevel = debug.LEVEL_ALL
debug.eventDebugLevel = debug.LEVEL_OFF
debug.debugFile = open(log, "w", buffering=1)
sys.exit(main())
