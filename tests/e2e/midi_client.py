"""A small JACK MIDI client for the tests: it sends what it is told on its output port and writes
what reaches its input port to a file, one line per message: the bytes in hex.
Usage: midi_client.py RECEIVED_FILE [--physical]; commands on stdin, one a line:
  connect        joins our output to the program's port ムルテカ (waits for it)
  send 90 39 64  sends one message
  flood N        sends N note-on/off pairs, about 10,000 messages a second
  sync           prints "ok" once everything told so far has been sent
  xruns          prints how many cycles the server has missed ("xruns N"): a missed cycle may
                 lose what was written in it
Ends (and its ports vanish) when stdin closes."""
import queue
import sys
import threading
import time

import jack

received = open(sys.argv[1], "w", buffering=1)
client = jack.Client("muruteka-test", no_start_server=True)
outport = client.midi_outports.register("out", is_physical="--physical" in sys.argv)
inport = client.midi_inports.register("in")
pending = queue.Queue()
sent = threading.Event()
xruns = 0


@client.set_process_callback
def process(frames):
    outport.clear_buffer()
    offset = 0
    while offset < frames - 1:
        try:
            message = pending.get_nowait()
        except queue.Empty:
            break
        if message is None:
            sent.set()
            continue
        # A pair goes out in one cycle: what a missed cycle loses, it loses whole.
        for part in message if isinstance(message, tuple) else (message,):
            outport.write_midi_event(offset, part)
            offset += 1
    for _, data in inport.incoming_midi_events():
        received.write(" ".join("%02x" % b for b in bytes(data)) + "\n")


@client.set_xrun_callback
def xrun(delay):
    global xruns
    xruns += 1


def program_port():
    for _ in range(100):
        ports = [p for p in client.get_ports(is_midi=True, is_input=True)
                 if p.name.endswith(":ムルテカ")]
        if ports:
            return ports[0]
        time.sleep(0.1)
    sys.exit("no port ムルテカ")


def sync():
    sent.clear()
    pending.put(None)
    sent.wait(10)


with client:
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "connect":
            client.connect(outport, program_port())
        elif words[0] == "send":
            pending.put(bytes(int(w, 16) for w in words[1:]))
        elif words[0] == "flood":
            # 256 frames at 48 kHz are 5.3 ms: 53 messages a cycle are 10,000 a second.
            for i in range(int(words[1])):
                note = 36 + i % 48
                pending.put((bytes([0x90, note, 100]), bytes([0x80, note, 0])))
                if i % 26 == 25:
                    sync()
        elif words[0] == "xruns":
            print("xruns %d" % xruns, flush=True)
        elif words[0] == "sync":
            sync()
            print("ok", flush=True)
