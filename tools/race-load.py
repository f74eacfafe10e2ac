#!/usr/bin/env python3
"""Keeps zevQ64N on the simulated board busy on every link at once.

    tools/race-load.py PROGRAM --root DIR --seconds N

Starts the program on a fresh data root (its environment passed on: the
sanitizer's options and preload from tools/race-check.sh), then for N
seconds PC clients on TCP 5005 and 10002, UDP 10005 and 5008 and the RS-485
cable each loop over: register reads and writes, image writes and the apply
(register 11 mask 0x02), user modes saved (word 868) and recalled (word
866), reads of the image, the slots and the info block, slot writes, cloud
settings (0xC3). Beside them the simulated board gets keypad keys, USB stick
plugs and pulls, input changes and FPGA faults. Prints what was sent and
answered; exits 1 when the program ended on its own or never came up.

Run it in a network namespace of its own (tools/race-check.sh --live does):

    unshare -rn tools/race-load.py build/zevQ64N --root /tmp/zev-load --seconds 300
"""
import argparse
import os
import random
import select
import signal
import socket
import subprocess
import sys
import termios
import threading
import time
import tty

from pc_wire import BOX, request as body, wire

STOP = threading.Event()


def request(group, rest):
    return wire(body(BOX, group, rest))


def le32(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF])


def ram_write(address, data):
    return request(0x60, le32(address) + bytes([len(data) & 0xFF, len(data) >> 8, 0, 0]) + bytes(data))


def ram_read(address, length):
    return request(0x61, le32(address) + bytes([length & 0xFF, length >> 8, 0, 0]))


APPLY = request(0xA0, [11, 0x02, 0, 0x02])
# Cloud settings under an all-zero key: a server on the namespace's own
# loopback, so a connection attempt stays there.
CLOUD = request(0xC3, [11] + [0] * 49 + [0, 0, 9] + list(b"127.0.0.1") + [80, 0, 0, 0])


def operations(rng):
    """One round of a PC client's work, as (name, frame) pairs."""
    slot = rng.randrange(16)
    ops = [
        ("register read", request(0xA1, [6, rng.randrange(0x80), 0, 0])),
        ("image write", ram_write(2176, [rng.randrange(101), 0])),  # brightness
        ("image write", ram_write(2178, [rng.randrange(101), 0])),  # contrast
        ("apply", APPLY),
        ("image read", ram_read(rng.randrange(0, 0x1000 - 512, 2), 512)),
        ("slot read", ram_read(0x1000 + 0x1000 * slot, 1024)),
        ("info read", ram_read(0xA0000000, 256)),
    ]
    roll = rng.random()
    if roll < 0.25:
        ops += [("mode save", ram_write(868, [slot + 1, 0])), ("apply", APPLY)]
    elif roll < 0.5:
        ops += [("mode recall", ram_write(866, [slot + 1, 0])), ("apply", APPLY)]
    elif roll < 0.6:
        ops += [("slot write", ram_write(0x1000 + 0x1000 * slot + 2, bytes(rng.getrandbits(8) for _ in range(64))))]
    elif roll < 0.65:
        ops += [("cloud settings", CLOUD)]
    rng.shuffle(ops)
    return ops


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.sent = {}
        self.answered = {}

    def count(self, link, answered):
        with self.lock:
            self.sent[link] = self.sent.get(link, 0) + 1
            if answered:
                self.answered[link] = self.answered.get(link, 0) + 1


def read_reply(fd_read, timeout):
    """Reads until a frame end (0x5A) arrives; False on timeout or close."""
    end = time.monotonic() + timeout
    while not STOP.is_set():
        left = end - time.monotonic()
        if left <= 0:
            return False
        r, _, _ = select.select([fd_read], [], [], min(left, 0.5))
        if not r:
            continue
        data = fd_read()
        if not data:
            return False
        if b"\x5a" in data:
            return True
    return False


def tcp_client(port, stats, seed):
    rng = random.Random(seed)
    link = f"TCP {port}"
    sock = None
    while not STOP.is_set():
        try:
            if sock is None:
                sock = socket.create_connection(("127.0.0.1", port), timeout=10)
            for name, frame in operations(rng):
                if STOP.is_set():
                    break
                sock.sendall(frame)
                ok = read_reply(SockReader(sock), 20)
                stats.count(link, ok)
                if not ok:
                    raise OSError("no answer to " + name)
        except OSError:
            if sock:
                sock.close()
            sock = None
            STOP.wait(0.5)
    if sock:
        sock.close()


class SockReader:
    def __init__(self, sock):
        self.sock = sock

    def fileno(self):
        return self.sock.fileno()

    def __call__(self):
        try:
            return self.sock.recv(65536)
        except OSError:
            return b""


def udp_client(port, stats, seed):
    rng = random.Random(seed)
    link = f"UDP {port}"
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", 0))
    reader = SockReader(sock)
    while not STOP.is_set():
        for name, frame in operations(rng):
            if STOP.is_set():
                break
            if len(frame) > 1400:
                continue
            try:
                sock.sendto(frame, ("127.0.0.1", port))
            except OSError:
                STOP.wait(0.5)
                continue
            stats.count(link, read_reply(reader, 5))
    sock.close()


def serial_client(root, stats, seed):
    rng = random.Random(seed)
    link = "RS-485"
    path = os.path.join(root, "sim", "pc-serial")
    fd = None
    while not STOP.is_set():
        try:
            if fd is None:
                fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
                tty.setraw(fd)
                termios.tcflush(fd, termios.TCIOFLUSH)

            class Reader:
                def fileno(self):
                    return fd

                def __call__(self):
                    return os.read(fd, 65536)

            for name, frame in operations(rng):
                if STOP.is_set():
                    break
                os.write(fd, frame)
                stats.count(link, read_reply(Reader(), 20))
        except OSError:
            if fd is not None:
                os.close(fd)
            fd = None
            STOP.wait(1)
    if fd is not None:
        os.close(fd)


KEYS = ["LEFT", "RIGHT", "OK", "MODE", "BACK", "WIN1", "WIN2", "WIN3", "EXT", "DVI", "HDMI1", "HDMI2", "HDMI3",
        "HDMI4", "FREEZE", "BLACK", "A", "B", "C"]
FAULTS = ["fpga vbo", "fpga ram", "fpga output", "fpga input", "cards 1 silent", "cards 2 badcheck",
          "cards 3 short", "cards 4 delay 50"]
INPUTS = ["HDMI1 1920x1080@60", "HDMI1 off", "HDMI2 1280x720@50", "HDMI2 off", "DVI 1024x768@60", "DVI off",
          "EXT 1920x1080@30", "EXT off", "HDMI3 3840x2160@30", "HDMI4 off"]


def board_driver(root, counts, seed):
    rng = random.Random(seed)
    sim = os.path.join(root, "sim")
    plugged = False
    faulted = False
    last_usb = last_fault = last_inputs = 0.0
    while not STOP.wait(rng.uniform(0.3, 1.5)):
        now = time.monotonic()
        try:
            with open(os.path.join(sim, "keypad"), "a") as f:
                f.write(" ".join(rng.choice(KEYS) for _ in range(rng.randint(1, 3))) + "\n")
            counts["keys"] += 1
            if now - last_usb > rng.uniform(5, 15):
                plugged = not plugged
                with open(os.path.join(sim, "usb"), "w") as f:
                    f.write("in\n" if plugged else "out\n")
                counts["usb"] += 1
                last_usb = now
            if now - last_inputs > rng.uniform(3, 8):
                with open(os.path.join(sim, "inputs"), "w") as f:
                    f.write("\n".join(rng.sample(INPUTS, 4)) + "\n")
                counts["inputs"] += 1
                last_inputs = now
            if now - last_fault > rng.uniform(10, 25):
                faulted = not faulted
                with open(os.path.join(sim, "faults"), "w") as f:
                    f.write(rng.choice(FAULTS) + "\n" if faulted else "")
                counts["faults"] += 1
                last_fault = now
        except OSError as e:
            print(f"race-load: board script: {e}", file=sys.stderr)


def wait_for_port(prog, port, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end and prog.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
            return True
        except OSError:
            time.sleep(0.5)
    return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("program")
    ap.add_argument("--root", required=True)
    ap.add_argument("--seconds", type=float, default=300)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    args = ap.parse_args()
    subprocess.run(["ip", "link", "set", "lo", "up"], check=False)
    os.makedirs(args.root, exist_ok=True)
    log = open(os.path.join(args.root, "program.log"), "wb")
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    prog = subprocess.Popen([args.program, "--board=sim", "--sim-root=" + args.root], env=env, stdout=log,
                            stderr=subprocess.STDOUT)
    print(f"race-load: seed {args.seed}, data root {args.root}, {args.seconds:.0f} s")
    started = time.monotonic()
    try:
        if not wait_for_port(prog, 5005, 180):
            print("race-load: the program did not come up")
            return 1
        print(f"race-load: serving after {time.monotonic() - started:.1f} s")
        stats = Stats()
        counts = {"keys": 0, "usb": 0, "inputs": 0, "faults": 0}
        rng = random.Random(args.seed)
        workers = [
            threading.Thread(target=tcp_client, args=(5005, stats, rng.random())),
            threading.Thread(target=tcp_client, args=(5005, stats, rng.random())),
            threading.Thread(target=tcp_client, args=(10002, stats, rng.random())),
            threading.Thread(target=udp_client, args=(10005, stats, rng.random())),
            threading.Thread(target=udp_client, args=(5008, stats, rng.random())),
            threading.Thread(target=serial_client, args=(args.root, stats, rng.random())),
            threading.Thread(target=board_driver, args=(args.root, counts, rng.random())),
        ]
        for w in workers:
            w.start()
        end = time.monotonic() + args.seconds
        ended = False
        while time.monotonic() < end:
            if prog.poll() is not None:
                ended = True
                break
            time.sleep(1)
        STOP.set()
        for w in workers:
            w.join(30)
        for link in sorted(stats.sent):
            print(f"race-load: {link}: {stats.sent[link]} requests, {stats.answered.get(link, 0)} answered")
        print("race-load: board: " + ", ".join(f"{k} {v}" for k, v in counts.items()))
        if ended:
            print(f"race-load: the program ended with {prog.returncode}")
            return 1
        return 0
    finally:
        STOP.set()
        if prog.poll() is None:
            prog.send_signal(signal.SIGTERM)
            try:
                prog.wait(30)
            except subprocess.TimeoutExpired:
                prog.kill()
                prog.wait()


if __name__ == "__main__":
    sys.exit(main())
