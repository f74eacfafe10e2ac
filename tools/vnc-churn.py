#!/usr/bin/env python3
"""Connects and drops VNC viewers in a loop against the panel's VNC screen.

Each viewer asks for a pixel format and encodings, requests pictures, sends
keys and pointer moves now and then, and leaves (sometimes with a reset).
Run it against a sanitizer build in a network namespace of its own, e.g.

    unshare -rn sh -c 'ip link set lo up;
        build-asan/zevQ64N --board=sim --sim-root=/tmp/me-sim & sleep 8;
        tools/vnc-churn.py --viewers 500'

--colours prints the colours of the first picture in each format instead.
--cursor and --no-format add viewers that the VNC plugin itself does not
survive (see the README). Exits 1 when the screen stops answering.
"""
import argparse
import random
import socket
import struct
import sys
import time
from collections import Counter

# bits per pixel, depth, big endian, true colour, maxima, shifts (r, g, b)
FORMATS = {
    "rgb32": (32, 24, 0, 1, 255, 255, 255, 16, 8, 0),
    "bgr32": (32, 24, 0, 1, 255, 255, 255, 0, 8, 16),
    "rgb32be": (32, 24, 1, 1, 255, 255, 255, 16, 8, 0),
    "rgb565": (16, 16, 0, 1, 31, 63, 31, 11, 5, 0),
    "bgr565": (16, 16, 0, 1, 31, 63, 31, 0, 5, 11),
    "bgr233": (8, 8, 0, 1, 7, 7, 3, 0, 3, 6),
}
KEYS = [0xFFC1, 0xFFC2, 0xFFC3, 0x51, 0x52, 0x53, 0x4F, 0x20]


def recvn(s, n):
    b = b""
    while len(b) < n:
        d = s.recv(n - len(b))
        if not d:
            raise EOFError
        b += d
    return b


class Viewer:
    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=5)
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
        recvn(self.s, 16)
        recvn(self.s, struct.unpack(">I", recvn(self.s, 4))[0])
        self.fmt = None

    def set_format(self, name):
        self.fmt = FORMATS[name]
        self.s.sendall(b"\0\0\0\0" + struct.pack(">BBBBHHHBBB3x", *self.fmt))

    def set_encodings(self, encodings):
        self.s.sendall(struct.pack(">BxH", 2, len(encodings)) + b"".join(struct.pack(">i", e) for e in encodings))

    def request(self, incremental):
        self.s.sendall(struct.pack(">BBHHHH", 3, incremental, 0, 0, self.w, self.h))

    def key(self, sym):
        self.s.sendall(struct.pack(">BBxxI", 4, 1, sym) + struct.pack(">BBxxI", 4, 0, sym))

    def pointer(self, x, y):
        self.s.sendall(struct.pack(">BBHH", 5, 0, x, y))

    def raw_picture(self):
        """The raw rectangles of the next picture (raw encoding only)."""
        while recvn(self.s, 1)[0] != 0:
            pass
        recvn(self.s, 1)
        rects = []
        for _ in range(struct.unpack(">H", recvn(self.s, 2))[0]):
            x, y, w, h, e = struct.unpack(">HHHHi", recvn(self.s, 12))
            rects.append((w * h, recvn(self.s, w * h * self.fmt[0] // 8)))
        return rects

    def colour(self, raw, i):
        bpp, _, big, _, rm, gm, bm, rs, gs, bs = self.fmt
        n = bpp // 8
        v = int.from_bytes(raw[i * n:(i + 1) * n], "big" if big else "little")
        return ((v >> rs) & rm) * 255 // rm, ((v >> gs) & gm) * 255 // gm, ((v >> bs) & bm) * 255 // bm

    def close(self, reset):
        if reset:
            self.s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.s.close()


def colours(port):
    for name in FORMATS:
        v = Viewer(port)
        v.set_format(name)
        v.set_encodings([0])
        v.request(0)
        _, raw = max(v.raw_picture())
        count = Counter(v.colour(raw, i) for i in range(0, len(raw) * 8 // v.fmt[0], 7))
        print(name, count.most_common(3))
        v.close(False)


def churn(args):
    encodings = [[0], [5, 0], [7, 16, 5, 0]] + ([[0, -239], [5, 0, -239, -223]] if args.cursor else [])
    for n in range(args.viewers):
        v = Viewer(args.port)
        if not args.no_format or random.random() < 0.9:
            v.set_format(random.choice(list(FORMATS)))
        v.set_encodings(random.choice(encodings))
        for _ in range(random.randint(0, 4)):
            v.request(random.randint(0, 1))
            if random.random() < 0.3:
                v.key(random.choice(KEYS))
            if random.random() < 0.3:
                v.pointer(random.randint(0, v.w), random.randint(0, v.h))
            if random.random() < 0.3:
                v.set_format(random.choice(list(FORMATS)))
        v.close(random.random() < 0.5)
        if n % 100 == 99:
            print(n + 1, "viewers", flush=True)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--port", type=int, default=5900)
    p.add_argument("--viewers", type=int, default=300)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--colours", action="store_true")
    p.add_argument("--cursor", action="store_true", help="viewers that ask for the cursor shape")
    p.add_argument("--no-format", action="store_true", help="viewers that never send a pixel format")
    args = p.parse_args()
    random.seed(args.seed)
    for _ in range(100):
        try:
            Viewer(args.port).close(False)
            break
        except OSError:
            time.sleep(0.2)
    try:
        colours(args.port) if args.colours else churn(args)
    except (OSError, EOFError) as e:
        print("the VNC screen stopped answering:", e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
