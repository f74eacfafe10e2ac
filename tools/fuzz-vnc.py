#!/usr/bin/env python3
"""Black-box fuzz of the VNC screen of zevQ64N on the simulated board.

Starts the program without a desktop on a fresh data root, so its panel is on
VNC, and keeps 50 viewers on raw sockets connected at once. Each greets the
server well or badly (another protocol version, a security type not offered,
a web or TLS greeting, noise, the greeting cut short), then sends random
client messages: pixel formats sound and odd, encodings of every kind,
update requests of no pixels, past the screen or anywhere, keys, pointer
events, cut text of any length, desktop sizes, message types not served,
noise, and messages cut short, after which it leaves or stalls. Some viewers
read what comes, some never do; some leave with a reset. A probe asks for the
whole picture every two seconds; as the screen serves 16 viewers and takes
about ten new ones a second (the VNC library waits 100 ms for a web greeting
with each), the probe often waits its turn. When the program ends the fuzzer
counts a crash, keeps its log and starts it again. Exits 1 on a crash, a
sanitizer report, or when for 60 s no viewer was greeted and the probe got
no picture.

It makes a network namespace of its own (tools/own_network.py), so it never
reaches a running box or another VNC server; where none can be had it uses
the machine's loopback while the program's ports are free there, and
otherwise stops with one line before it starts the program. Run it against
the sanitizer build:

    tools/fuzz-vnc.py build-asan/zevQ64N --minutes 10
"""
import argparse
import os
import random
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

from own_network import own_network
from pc_wire import recvn

PORT = 5900
WIDTH, HEIGHT = 320, 240
# Every encoding and pseudo-encoding a viewer may name, and some nobody knows.
ENCODINGS = [0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 20, 50, -239, -240, -232, -224, -223, -258, -260, -305,
             -307, -308, -309, -312, -313, -314, 0x574D5664, -0x10000, -0x1FFFF, -0x1FFFE, -0x1FFFD, -0x1FFFC,
             -0x3F5A1A32, 0x7FFFFFFF, -0x80000000] + list(range(-256, -246)) + list(range(-32, -22))
SOUND_FORMATS = [(32, 24, 0, 1, 255, 255, 255, 16, 8, 0), (32, 24, 1, 1, 255, 255, 255, 0, 8, 16),
                 (16, 16, 0, 1, 31, 63, 31, 11, 5, 0), (16, 15, 1, 1, 31, 31, 31, 10, 5, 0),
                 (8, 8, 0, 1, 7, 7, 3, 0, 3, 6), (8, 8, 0, 0, 0, 0, 0, 0, 0, 0)]
# The panel's keys (OK, back, left, right, F4 to F6) now and then, so the
# pages change under the requests; mostly keys it ignores.
PANEL_KEYS = [0x71, 0x6F, 0x6C, 0x72, 0xFFC1, 0xFFC2, 0xFFC3]
OTHER_TYPES = [1, 7, 8, 9, 10, 11, 12, 15, 150, 248, 249, 250, 252, 253, 254, 255]


def u8(rng):
    return rng.choice([0, 1, 2, 127, 128, 255, rng.randint(0, 255)])


def u16(rng, near):
    return rng.choice([0, 1, near - 1, near, near + 1, 0x7FFF, 0xFFFF, rng.randint(0, near),
                       rng.randint(0, 0xFFFF)]) & 0xFFFF


def pixel_format(rng, odd):
    if not odd:
        f = rng.choice(SOUND_FORMATS)
    else:
        f = (rng.choice([0, 1, 7, 8, 15, 16, 24, 32, 33, 64, 255]), u8(rng), u8(rng), u8(rng),
             u16(rng, 255), u16(rng, 63), u16(rng, 31), u8(rng) % rng.choice([8, 33, 256]),
             u8(rng) % rng.choice([8, 33, 256]), u8(rng) % rng.choice([8, 33, 256]))
    return b"\0\0\0\0" + struct.pack(">BBBBHHHBBB3x", *f)


def rectangle(rng):
    kind = rng.random()
    if kind < 0.4:
        return 0, 0, WIDTH, HEIGHT
    if kind < 0.6:  # no pixels
        return (u16(rng, WIDTH), u16(rng, HEIGHT), 0, u16(rng, HEIGHT)) if rng.random() < 0.5 else \
            (u16(rng, WIDTH), u16(rng, HEIGHT), u16(rng, WIDTH), 0)
    return u16(rng, WIDTH), u16(rng, HEIGHT), u16(rng, WIDTH), u16(rng, HEIGHT)


def message(rng, hostile):
    """One client message; well formed with any values, or, as often as
    hostile says, malformed."""
    odd = rng.random() < hostile
    kind = rng.random()
    if kind < 0.08:
        return pixel_format(rng, odd)
    if kind < 0.18:
        count = rng.choice([0, 1, 3, 10, 40, rng.randint(0, 300)])
        encodings = [rng.choice(ENCODINGS) for _ in range(count)]
        claimed = rng.randint(0, 0xFFFF) if odd else count
        return struct.pack(">BxH", 2, claimed) + b"".join(struct.pack(">i", e) for e in encodings)
    if kind < 0.55:
        return struct.pack(">BBHHHH", 3, rng.choice([0, 1, 1, u8(rng)]), *rectangle(rng))
    if kind < 0.65:
        key = rng.choice(PANEL_KEYS) if rng.random() < 0.1 else rng.choice(
            [0, 0xFF0D, 0xFF1B, 0xFF51, 0xFFFF, 0xFFFFFFFF, rng.getrandbits(32)])
        return struct.pack(">BBxxI", 4, u8(rng), key)
    if kind < 0.75:
        return struct.pack(">BBHH", 5, u8(rng), u16(rng, WIDTH), u16(rng, HEIGHT))
    if kind < 0.82:
        text = rng.randbytes(rng.choice([0, 1, 10, 300, rng.randint(0, 5000)]))
        length = rng.choice([rng.getrandbits(32), 0x80000000]) if odd else rng.choice(
            [len(text), (-len(text)) & 0xFFFFFFFF])
        return struct.pack(">BxxxI", 6, length) + text
    if kind < 0.86:
        screens = rng.choice([0, 1, 2, 255])
        body = rng.randbytes(16 * (min(screens, rng.choice([1, 0])) if odd else screens))
        return struct.pack(">BxHHBx", 251, u16(rng, WIDTH), u16(rng, HEIGHT), screens) + body
    if not odd:
        return struct.pack(">BBHHHH", 3, 1, *rectangle(rng))
    if kind < 0.93:
        return bytes([rng.choice(OTHER_TYPES)]) + rng.randbytes(rng.randint(0, 40))
    return rng.randbytes(rng.randint(1, 2000))


class Viewer:
    """One viewer on a non-blocking socket: its greeting, then its messages."""

    def __init__(self, rng, stats):
        self.rng, self.stats = rng, stats
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setblocking(False)
        self.sock.connect_ex(("127.0.0.1", PORT))
        self.inbox = b""
        self.outbox = b""
        self.reads = rng.random() < 0.8
        self.hostile = rng.choice([0, 0.01, 0.1, 0.5])
        self.left = rng.choice([1, 10, 100, rng.randint(1, 2000)])
        self.resume = 0.0
        self.born = time.monotonic()
        self.need = 0
        self.step = self.greet()

    def take(self, n):
        got, self.inbox = self.inbox[:n], self.inbox[n:]
        return got

    def greet(self):
        """Yields the bytes it waits for, takes them, answers; ends when greeted."""
        rng = self.rng
        early = rng.random()
        if early < 0.03:
            self.send(b"GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n" + rng.randbytes(rng.randint(0, 300)))
        elif early < 0.05:
            self.send(b"\x16\x03\x01" + rng.randbytes(rng.randint(0, 300)))
        yield 12
        self.take(12)
        version = rng.choice([b"RFB 003.008\n"] * 6 + [b"RFB 003.003\n", b"RFB 003.007\n", b"RFB 003.889\n",
                                                       b"RFB 004.001\n", b"RFB 003.00", bytes(12)])
        self.send(version[:rng.randint(0, 11)] if rng.random() < 0.03 else version)
        if version in (b"RFB 003.007\n", b"RFB 003.008\n", b"RFB 004.001\n", b"RFB 003.889\n"):
            yield 1
            count = self.take(1)[0]
            yield count
            self.take(count)
            self.send(bytes([rng.choice([1] * 20 + [0, 2, 255, u8(rng)])]))
            if version != b"RFB 003.007\n":
                yield 4
                self.take(4)
        else:
            yield 4
            self.take(4)
        self.send(bytes([rng.choice([1, 1, 0, u8(rng)])]))
        yield 24
        name = struct.unpack(">I", self.take(24)[20:24])[0]
        if name > 4096:
            raise EOFError
        yield name
        self.inbox = b""

    def send(self, data):
        self.outbox += data

    def flush(self):
        while self.outbox:
            sent = self.sock.send(self.outbox[:65536])
            if sent <= 0:
                return
            self.outbox = self.outbox[sent:]

    def readable(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise EOFError
        if self.step is not None:
            self.inbox += data

    def act(self, now):
        """Moves on when it can; False once done with."""
        while self.step is not None and len(self.inbox) >= self.need:
            self.need = next(self.step, None)
            if self.need is None:
                self.step = None
                self.stats["last"] = now
        if self.step is not None:
            return now - self.born < 10
        if now < self.resume or self.outbox:
            return True
        if self.left <= 0:
            return False
        self.left -= 1
        m = message(self.rng, self.hostile)
        self.stats["messages"] += 1
        cut = self.rng.random() / self.hostile if self.hostile else 1
        if cut < 0.1:  # cut short, then gone
            self.send(m[:self.rng.randrange(len(m))])
            self.left = 0
        elif cut < 0.15:  # cut short, then silent past the server's patience
            self.send(m[:self.rng.randrange(len(m))])
            self.resume = now + 6
        else:
            self.send(m)
        return True

    def close(self):
        if self.rng.random() < 0.5:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock.close()


def probe(stats, stop):
    """A sound viewer asking for the whole picture in raw pixels every 2 s."""
    while not stop.wait(2):
        try:
            with socket.create_connection(("127.0.0.1", PORT), timeout=30) as s:
                recvn(s, 12)
                s.sendall(b"RFB 003.008\n")
                recvn(s, recvn(s, 1)[0])
                s.sendall(b"\x01")
                recvn(s, 4)
                s.sendall(b"\x01")
                init = recvn(s, 24)
                recvn(s, struct.unpack(">I", init[20:24])[0])
                s.sendall(struct.pack(">BxHi", 2, 1, 0) + struct.pack(">BBHHHH", 3, 0, 0, 0, WIDTH, HEIGHT))
                head = recvn(s, 4)
                if head[0] != 0:
                    raise EOFError
                for _ in range(struct.unpack(">H", head[2:])[0]):
                    _, _, w, h, e = struct.unpack(">HHHHi", recvn(s, 12))
                    recvn(s, w * h * 4 if e == 0 else 0)
            stats["pictures"] += 1
            stats["last"] = time.monotonic()
        except (OSError, EOFError):
            pass


class Program:
    def __init__(self, path, root):
        self.path, self.root, self.runs, self.proc = path, root, 0, None

    def start(self):
        self.runs += 1
        env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY")}
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        env.setdefault("LSAN_OPTIONS", "suppressions=" + supp)
        self.log = os.path.join(self.root, f"program-{self.runs}.log")
        with open(self.log, "wb") as log:
            self.proc = subprocess.Popen([self.path, "--board=sim", "--sim-root=" + os.path.join(self.root, "sim")],
                                         env=env, stdout=log, stderr=subprocess.STDOUT)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program")
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--viewers", type=int, default=50)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    args = ap.parse_args()
    rng = random.Random(args.seed)
    own_network("fuzz-vnc")
    root = tempfile.mkdtemp(prefix="zev-fuzz-vnc-")
    print(f"fuzz-vnc: seed {args.seed}, logs in {root}, {args.minutes} minutes, {args.viewers} viewers", flush=True)
    program = Program(args.program, root)
    program.start()
    # last: when a viewer was last greeted or the probe got a picture.
    stats = {"messages": 0, "pictures": 0, "last": time.monotonic(), "viewers": 0, "most": 0}
    stop = threading.Event()
    prober = threading.Thread(target=probe, args=(stats, stop), daemon=True)
    prober.start()
    crashes = stalls = 0
    try:
        crashes, stalls = fuzz(args, rng, program, stats)
    finally:
        stop.set()
        prober.join(40)
        status = program.stop()
    reports = sum(open(os.path.join(root, f"program-{n}.log"), "rb").read().count(b"Sanitizer")
                  for n in range(1, program.runs + 1))
    print(f"fuzz-vnc: {stats['messages']} messages from {stats['viewers']} viewers ({stats['most']} at once), "
          f"{stats['pictures']} probe "
          f"pictures, {crashes} crashes, {stalls} times nothing served for 60 s, {reports} sanitizer reports, "
          f"exit status {status} on SIGTERM")
    return 1 if crashes or stalls or reports or status not in (0, -signal.SIGTERM) else 0


def fuzz(args, rng, program, stats):
    viewers = []
    crashes = stalls = 0
    end = time.monotonic() + args.minutes * 60
    while time.monotonic() < end:
        if program.proc.poll() is not None:
            crashes += 1
            print(f"fuzz-vnc: the program ended with {program.proc.returncode}, log {program.log}", flush=True)
            for v in viewers:
                v.close()
            viewers = []
            program.start()
            time.sleep(2)
            stats["last"] = time.monotonic()
        now = time.monotonic()
        if now - stats["last"] > 60:
            stalls += 1
            print(f"fuzz-vnc: nothing served for 60 s at {args.minutes * 60 - (end - now):.0f} s", flush=True)
            stats["last"] = now
        while len(viewers) < args.viewers:
            viewers.append(Viewer(rng, stats))
            stats["viewers"] += 1
        readers = [v.sock for v in viewers if v.reads or v.step is not None]
        writers = [v.sock for v in viewers if v.outbox]
        ready_r, ready_w, _ = select.select(readers, writers, [], 0.05)
        kept = []
        for v in viewers:
            try:
                if v.sock in ready_r:
                    v.readable()
                if v.sock in ready_w:
                    v.flush()
                alive = v.act(now)
            except (OSError, EOFError, struct.error, IndexError):
                alive = False
            if alive:
                kept.append(v)
            else:
                v.close()
        viewers = kept
        stats["most"] = max(stats["most"], len(viewers))
    for v in viewers:
        v.close()
    return crashes, stalls


if __name__ == "__main__":
    sys.exit(main())
