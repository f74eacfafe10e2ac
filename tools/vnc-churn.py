#!/usr/bin/env python3
"""Connects and drops VNC viewers in a loop against the panel's VNC screen.

Each viewer asks for a pixel format (one in five never does) and encodings
(some with the cursor shape), requests pictures, sends keys and touches now
and then, and leaves (sometimes with a reset). One viewer that asked for the
cursor shape stays throughout while the others come and go and their keys
change the page. Run it against a sanitizer build in a network namespace of
its own, e.g.

    unshare -rn sh -c 'ip link set lo up;
        build-asan/zevQ64N --board=sim --sim-root=/tmp/me-sim & sleep 8;
        tools/vnc-churn.py --viewers 500'

--colours prints, for each pixel format, the colour of a few pixels and the
most common colours, as 8-bit red, green, blue: every row must agree.
--snapshot FILE saves the picture as a PNG file.
Exits 1 when the screen stops answering.
"""
import argparse
import random
import select
import socket
import struct
import sys
import time
import zlib
from collections import Counter

from pc_wire import recvn

# bits per pixel, depth, big endian, true colour, maxima, shifts (r, g, b)
FORMATS = {
    "rgb32": (32, 24, 0, 1, 255, 255, 255, 16, 8, 0),
    "bgr32": (32, 24, 0, 1, 255, 255, 255, 0, 8, 16),
    "rgb24-in-32-high": (32, 24, 0, 1, 255, 255, 255, 24, 16, 8),
    "rgb32be": (32, 24, 1, 1, 255, 255, 255, 16, 8, 0),
    "bgr32be": (32, 24, 1, 1, 255, 255, 255, 0, 8, 16),
    "rgb565": (16, 16, 0, 1, 31, 63, 31, 11, 5, 0),
    "bgr565be": (16, 16, 1, 1, 31, 63, 31, 0, 5, 11),
    "rgb555": (16, 15, 0, 1, 31, 31, 31, 10, 5, 0),
    "bgr233": (8, 8, 0, 1, 7, 7, 3, 0, 3, 6),
}
# Raw, hextile, tight, ZRLE; with the cursor shape (rich, X) and its position.
ENCODINGS = [[0], [5, 0], [7, 16, 5, 0], [0, -239], [5, 0, -239, -240, -232], [16, -240]]
CURSOR = [0, -239, -240]
# F4, F5, F6 (left, right, OK), the keypad's letters for OK, back, mode, and a space.
KEYS = [0xFFC1, 0xFFC2, 0xFFC3, 0x71, 0x6F, 0x6D, 0x20]
SAMPLES = [(10, 10), (160, 20), (40, 120), (160, 200), (300, 230)]


class Viewer:
    def __init__(self, host, port):
        self.s = socket.create_connection((host, port), timeout=10)
        version = recvn(self.s, 12)
        self.s.sendall(version)
        if version >= b"RFB 003.007":
            recvn(self.s, recvn(self.s, 1)[0])
            self.s.sendall(b"\x01")
            if version >= b"RFB 003.008":
                recvn(self.s, 4)
        else:
            recvn(self.s, 4)
        self.s.sendall(b"\x01")
        self.w, self.h = struct.unpack(">HH", recvn(self.s, 4))
        self.fmt = struct.unpack(">BBBBHHHBBB3x", recvn(self.s, 16))
        recvn(self.s, struct.unpack(">I", recvn(self.s, 4))[0])

    def set_format(self, name):
        self.fmt = FORMATS[name]
        self.s.sendall(b"\0\0\0\0" + struct.pack(">BBBBHHHBBB3x", *self.fmt))

    def set_encodings(self, encodings):
        self.s.sendall(struct.pack(">BxH", 2, len(encodings)) + b"".join(struct.pack(">i", e) for e in encodings))

    def request(self, incremental):
        self.s.sendall(struct.pack(">BBHHHH", 3, incremental, 0, 0, self.w, self.h))

    def key(self, sym):
        self.s.sendall(struct.pack(">BBxxI", 4, 1, sym) + struct.pack(">BBxxI", 4, 0, sym))

    def touch(self, x, y):
        self.s.sendall(struct.pack(">BBHH", 5, 1, x, y) + struct.pack(">BBHH", 5, 0, x, y))

    def drain(self):
        """Reads whatever waits, without looking at it."""
        while select.select([self.s], [], [], 0)[0]:
            if not self.s.recv(65536):
                raise EOFError

    def picture(self):
        """The next picture's pixels as 8-bit (r, g, b), row by row (raw encoding only)."""
        n = self.fmt[0] // 8
        pixels = [(0, 0, 0)] * (self.w * self.h)
        while recvn(self.s, 1)[0] != 0:
            pass
        recvn(self.s, 1)
        for _ in range(struct.unpack(">H", recvn(self.s, 2))[0]):
            x, y, w, h, e = struct.unpack(">HHHHi", recvn(self.s, 12))
            if e == -239:
                recvn(self.s, w * h * n + (w + 7) // 8 * h)
            elif e == -240:
                recvn(self.s, 6 + 2 * ((w + 7) // 8 * h) if w * h else 0)
            elif e == 0:
                raw = recvn(self.s, w * h * n)
                for i in range(w * h):
                    pixels[(y + i // w) * self.w + x + i % w] = self.colour(raw[i * n:(i + 1) * n])
        return pixels

    def colour(self, b):
        _, _, big, _, rm, gm, bm, rs, gs, bs = self.fmt
        v = int.from_bytes(b, "big" if big else "little")
        return ((v >> rs) & rm) * 255 // rm, ((v >> gs) & gm) * 255 // gm, ((v >> bs) & bm) * 255 // bm

    def close(self, reset):
        if reset:
            self.s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.s.close()


def colours(args):
    for name in [None] + list(FORMATS):
        v = Viewer(args.host, args.port)
        if name:
            v.set_format(name)
        v.set_encodings([0])
        v.request(0)
        pixels = v.picture()
        samples = " ".join("%02x%02x%02x" % pixels[y * v.w + x] for x, y in SAMPLES if x < v.w and y < v.h)
        common = " ".join("%02x%02x%02x" % c for c, _ in Counter(pixels).most_common(3))
        print("%-17s at %s  most: %s" % (name or "(none asked)", samples, common))
        v.close(False)


def snapshot(args):
    v = Viewer(args.host, args.port)
    v.set_encodings([0])
    v.request(0)
    pixels = v.picture()
    rows = b"".join(b"\0" + bytes(c for p in pixels[y * v.w:(y + 1) * v.w] for c in p) for y in range(v.h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(args.snapshot, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", v.w, v.h, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    v.close(False)


def churn(args):
    keeper = Viewer(args.host, args.port)
    keeper.set_encodings(CURSOR)
    keeper.request(0)
    for n in range(args.viewers):
        v = Viewer(args.host, args.port)
        if random.random() < 0.8:
            v.set_format(random.choice(list(FORMATS)))
        v.set_encodings(random.choice(ENCODINGS))
        for _ in range(random.randint(0, 4)):
            v.request(random.randint(0, 1))
            if random.random() < 0.3:
                v.key(random.choice(KEYS))
            if random.random() < 0.2:
                v.touch(random.randint(0, v.w - 1), random.randint(0, v.h - 1))
            if random.random() < 0.2:
                v.set_format(random.choice(list(FORMATS)))
        v.close(random.random() < 0.5)
        keeper.drain()
        keeper.request(1)
        if n % 100 == 99:
            print(n + 1, "viewers", flush=True)
    keeper.close(False)
    # Still answering with a picture.
    v = Viewer(args.host, args.port)
    v.set_encodings([0])
    v.request(0)
    v.picture()
    v.close(False)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=5900)
    p.add_argument("--viewers", type=int, default=300)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--colours", action="store_true")
    p.add_argument("--snapshot", metavar="FILE")
    args = p.parse_args()
    random.seed(args.seed)
    for _ in range(100):
        try:
            Viewer(args.host, args.port).close(False)
            break
        except OSError:
            time.sleep(0.2)
    try:
        if args.colours:
            colours(args)
        elif args.snapshot:
            snapshot(args)
        else:
            churn(args)
    except (OSError, EOFError) as e:
        print("the VNC screen stopped answering:", e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
