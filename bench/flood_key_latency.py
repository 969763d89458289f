"""Typed key -> MIDI out of the program while a flood of 10,000 MIDI messages a second comes in:
a JACK client floods the program's port ムルテカ with note pairs and listens on its own input,
to which the program plays (--midi-out port:flood-bench:in); every 300 ms it types q with xdotool
and times the arrival of the typed note (A3, velocity 127). The JACK cycle (up to 5.3 ms at 256
frames, 48 kHz) is included. Start it first, then the program; it waits for the program's port
and gives the window 3 s to be focused.
Usage: flood_key_latency.py [keys, default 20] [--no-flood, the same without the flood]"""
import statistics
import subprocess
import sys
import threading
import time

import jack

client = jack.Client("flood-bench", no_start_server=True)
out = client.midi_outports.register("out")
inp = client.midi_inports.register("in")
typed_at = []
arrived = []
cycle = [0]
flooding = threading.Event()


@client.set_process_callback
def process(frames):
    out.clear_buffer()
    cycle[0] += 1
    # 26 pairs every cycle of 5.3 ms: about 10,000 messages a second.
    for i in range(26 if flooding.is_set() else 0):
        note = 36 + (cycle[0] * 26 + i) % 48
        out.write_midi_event(2 * i, bytes([0x90, note, 100]))
        out.write_midi_event(2 * i + 1, bytes([0x80, note, 0]))
    for _, data in inp.incoming_midi_events():
        if bytes(data) == b"\x90\x39\x7f" and len(arrived) < len(typed_at):
            arrived.append(time.monotonic())


with client:
    ports = []
    for _ in range(300):
        ports = [p for p in client.get_ports(is_midi=True, is_input=True)
                 if p.name.endswith(":ムルテカ")]
        if ports:
            break
        time.sleep(0.1)
    client.connect(out, ports[0])
    time.sleep(3)
    if "--no-flood" not in sys.argv:
        flooding.set()
    time.sleep(1)
    for _ in range(int(sys.argv[1]) if len(sys.argv) > 1 and sys.argv[1].isdigit() else 20):
        typed_at.append(time.monotonic())
        subprocess.run(["xdotool", "key", "q"], check=True)
        time.sleep(0.3)
    time.sleep(0.5)
delays = [1000 * (a - t) for t, a in zip(typed_at, arrived)]
print("typed q -> out of the program%s: %d of %d keys, median %.1f ms, max %.1f ms"
      % (" during the flood" if flooding.is_set() else " without a flood", len(delays), len(typed_at),
         statistics.median(delays), max(delays)))
