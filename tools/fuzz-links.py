#!/usr/bin/env python3
"""Black-box fuzz of the PC ports of zevQ64N on the simulated board.

Starts the program on a fresh data root, then sends random frames (well
formed with random groups and bodies, damaged, oversized, or plain noise) to
TCP 5005 and 10002, UDP 5008 and 10005 and the RS-485 cable, while a probe
asks a register of TCP 5005 every two seconds. Restarts the frames ask for
are allowed: a probe counts as lost only when the box has not answered for
60 s. Exits 1 when the program ended or a probe was lost.

It makes a network namespace of its own (tools/own_network.py), so it never
reaches a running box; where none can be had it uses the machine's loopback
while the program's ports are free there, and otherwise stops with one line
before it starts the program:

    tools/fuzz-links.py build/zevQ64N --minutes 10
"""
import argparse
import os
import random
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

from own_network import own_network
from pc_wire import BOX, FPGA, request, wire

# Every group the box answers; set-IP (0xA4 sub 1) is left out because a new
# port would move the probe's target.
GROUPS = [0x60, 0x61, 0x70, 0x71, 0x72, 0x81, 0x82, 0x83, 0x84, 0x87, 0x8E, 0x8F, 0xA0, 0xA1, 0xA2,
          0xA4, 0xB0, 0xC0, 0xC1, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC]


def random_frame(rng):
    kind = rng.random()
    if kind < 0.08:
        return bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 2000)))
    dest = rng.choice([BOX, BOX, BOX, 0xF101, FPGA, rng.randint(0, 0xFFFF)])
    group = rng.choice(GROUPS)
    rest = bytearray([rng.randint(0, 255)])
    if group == 0xA4 and rest[0] == 1:
        rest[0] = 3
    size = rng.choice([0, 1, 2, 4, 8, 16, 64, rng.randint(0, 600), rng.randint(0, 5000)])
    rest += bytes(rng.getrandbits(8) for _ in range(size))
    frame = wire(request(dest, group, rest, rng.randint(0, 3), rng.choice([0, 1, 2, 255, rng.randint(0, 255)])))
    if kind < 0.16:  # damaged: a byte changed, cut short or doubled
        f = bytearray(frame)
        choice = rng.randint(0, 2)
        if choice == 0:
            f[rng.randrange(len(f))] = rng.getrandbits(8)
        elif choice == 1:
            f = f[: rng.randrange(1, len(f))]
        else:
            f = f + f
        frame = bytes(f)
    return frame


class Probe:
    """Reads register 6 of the box over TCP 5005; reconnects as needed."""

    def __init__(self):
        self.sock = None
        self.tag = 0

    def ask(self, timeout):
        try:
            if self.sock is None:
                self.sock = socket.create_connection(("127.0.0.1", 5005), timeout=timeout)
            self.tag = (self.tag + 1) & 0x7F
            self.sock.settimeout(timeout)
            self.sock.sendall(wire(request(BOX, 0xA1, [6, self.tag, 0, 0])))
            end = time.monotonic() + timeout
            got = b""
            while time.monotonic() < end:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise OSError("closed")
                got += chunk
                if b"\x5a" in got:
                    return True
            return False
        except OSError:
            if self.sock:
                self.sock.close()
            self.sock = None
            return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program")
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    args = ap.parse_args()
    rng = random.Random(args.seed)
    own_network("fuzz-links")
    root = tempfile.mkdtemp(prefix="zev-fuzz-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    log = open(os.path.join(root, "program.log"), "wb")
    prog = subprocess.Popen([args.program, "--board=sim", "--sim-root=" + root], env=env, stdout=log,
                            stderr=subprocess.STDOUT)
    print(f"fuzz-links: seed {args.seed}, data root {root}, {args.minutes} minutes")
    try:
        return fuzz(args, rng, root, prog)
    finally:
        if prog.poll() is None:
            prog.send_signal(signal.SIGTERM)
            try:
                prog.wait(5)
            except subprocess.TimeoutExpired:
                prog.kill()


def fuzz(args, rng, root, prog):
    probe = Probe()
    start = time.monotonic()
    while not probe.ask(1):
        if prog.poll() is not None or time.monotonic() - start > 30:
            print("fuzz-links: the program did not come up")
            return 1
        time.sleep(0.2)

    tcp = {}
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    udp.setblocking(False)
    sent = lost = probes = 0
    last_answer = next_probe = time.monotonic()
    end = start + args.minutes * 60
    while time.monotonic() < end:
        if prog.poll() is not None:
            print(f"fuzz-links: the program ended with {prog.returncode} (log in {root})")
            return 1
        frame = random_frame(rng)
        target = rng.choice(["tcp5005", "tcp10002", "udp5008", "udp10005", "serial"])
        try:
            if target.startswith("tcp"):
                port = int(target[3:])
                s = tcp.get(port)
                if s is None:
                    s = socket.create_connection(("127.0.0.1", port), timeout=0.5)
                    s.setblocking(False)
                    tcp[port] = s
                s.send(frame)
                while select.select([s], [], [], 0)[0]:
                    if not s.recv(65536):
                        raise OSError("closed")
            elif target.startswith("udp"):
                udp.sendto(frame[:65000], ("127.0.0.1", int(target[3:])))
                while select.select([udp], [], [], 0)[0]:
                    udp.recv(65536)
            else:
                fd = os.open(os.path.join(root, "sim", "pc-serial"), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
                try:
                    os.write(fd, frame[:4096])
                finally:
                    os.close(fd)
            sent += 1
        except OSError:
            s = tcp.pop(int(target[3:]), None) if target.startswith("tcp") else None
            if s:
                s.close()
        now = time.monotonic()
        if now >= next_probe:
            probes += 1
            if probe.ask(2):
                last_answer = time.monotonic()
            elif time.monotonic() - last_answer > 60:
                lost += 1
                print(f"fuzz-links: no answer for 60 s at {now - start:.0f} s")
                last_answer = time.monotonic()
            next_probe = now + 2
    restarts = open(os.path.join(root, "program.log"), "rb").read().count(b"serves TCP")
    print(f"fuzz-links: {sent} frames, {probes} probes, {lost} lost, {restarts} starts")
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
