#!/usr/bin/env python3
"""Keeps zevQ64N on the simulated board busy on every link at once.

    tools/race-load.py PROGRAM --root DIR --seconds N

Starts the program on a fresh data root (its environment passed on: the
sanitizer's options and preload from tools/race-check.sh), then for N
seconds PC clients on TCP 5005 and 10002, UDP 10005 and 5008 and the RS-485
cable each loop over:
  - the image: register reads, writes of every part of it (brightness and
    contrast, the LED size and origin, windows, crops, single parameters, a
    block anywhere) and the apply (register 11 mask 0x02); the screen
    register of the FPGA, whose blackout bit the image follows;
  - the box's register 0, the source-check request word;
  - FPGA command pages (clock, on/off times, brightness by hand and by
    table, stored, erased or not) written and run with register 2 bit 2,
    while the FPGA faults below start the FPGA again and again;
  - user modes saved (word 868) and recalled (word 866), slot reads and
    writes, reads of the image and the info block;
  - EDID RAM tables written and read back (0xC1);
  - the network values: address, mask and gateway (the port kept), the MAC,
    searches, the device information, the barcode written and read, the
    network-reset register;
  - cloud settings (0xC3) pointing at a cloud server of this script's own,
    which asks the box for its device information and property;
  - file transfers (files read, then written back as read) and module
    transfers (the barcode sent, the module files read).
Beside them two more links set the network address (TCP 5005) and reset
the network (TCP 10002, register 16 mask 0x20) at the same time, and the
simulated board gets keypad keys, USB stick plugs and pulls, input changes
and faults, each set once the FPGA has been up for 20 s and held 20 to 40 s:
most of them drop the FPGA or make its starts fail ("fpga input", "fpga
ram", "fpga vbo"), so that it starts again and again.

Before all that, with no other traffic, it waits (up to 240 s) for the FPGA
to come up and has the apply, the LED set-up and the FPGA register lock meet
once: an LED width and the apply, a brightness command page 1.5 s later, the
screen register's blackout bit. The N seconds of load follow. Prints what
was sent and answered; exits 1 when the program ended on its own or never
came up.

It makes a network namespace of its own (tools/own_network.py), so it
never reaches a running box; where none can be had it stops while the
program's ports are taken:

    tools/race-load.py build/zevQ64N --root /tmp/zev-load --seconds 300
"""
import argparse
import collections
import hashlib
import json
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

from own_network import own_network
from pc_wire import BOX, FPGA, request as body, wire

STOP = threading.Event()
CLOUD_PORT = 7000

# Image offsets of the words and records the load writes.
SPLICE, LED_W, CROPS, CROP_SIZE, LAYERS, LAYER_SIZE = 1376, 1378, 1472, 10, 2272, 26
PANEL_END = 1424
MODE_START, IMAGE_SIZE = 896, 4096
# Splice mode, LED width and height the clients write, shared between them;
# the first is the one the start's meeting of the locks sets.
PANEL = [0, 640, 480]
PANEL_LOCK = threading.Lock()
PANEL_CHANGED = [time.monotonic()]


def request(group, rest, dest=BOX):
    return wire(body(dest, group, rest))


def le16(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF])


def le32(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF])


def ram_write(address, data, dest=BOX):
    return request(0x60, le32(address) + le16(len(data)) + bytes(2) + bytes(data), dest)


def ram_read(address, length):
    return request(0x61, le32(address) + le16(length) + bytes(2))


def unwire(frame):
    """The body of a reply frame (check byte dropped), or None."""
    start = frame.rfind(b"\xa5\xa5\xa5")
    end = frame.find(b"\x5a", start + 3)
    if start < 0 or end < 0:
        return None
    out, i, raw = bytearray(), 0, frame[start + 3 : end]
    while i < len(raw):
        b = raw[i]
        if b in (0xA6, 0x5B) and i + 1 < len(raw):
            out.append({(0xA6, 2): 0xA5, (0xA6, 1): 0xA6, (0x5B, 2): 0x5A, (0x5B, 1): 0x5B}.get((b, raw[i + 1]), 0))
            i += 2
            continue
        out.append(b)
        i += 1
    return bytes(out[:-1]) if len(out) > 10 else None


APPLY = request(0xA0, [11, 0x02, 0, 0x02])


def cloud_settings(port):
    """Cloud settings under an all-zero key: a server on the namespace's loopback."""
    server = b"127.0.0.1"
    return request(0xC3, bytes([11] + [0] * 49 + [0, 0, len(server)]) + server + le16(port) + bytes(2))


class Ops:
    """One PC client's work: each op sends one or more requests through ask."""

    def __init__(self, rng, ask):
        self.rng = rng
        self.ask = ask  # ask(name, frame) -> reply body, or None

    # The image, its parts and the apply.
    def brightness(self):
        self.ask("image write", ram_write(2176 + 2 * self.rng.randrange(2), [self.rng.randrange(101), 0]))

    # A new LED size sets the LED output up again and restarts the FPGA: it
    # changes at most once in 90 s, the other writes move the origin only,
    # so that the FPGA also comes up between.
    def led_size(self):
        r = self.rng
        with PANEL_LOCK:
            if time.monotonic() - PANEL_CHANGED[0] > 90:
                PANEL_CHANGED[0] = time.monotonic()
                PANEL[:] = [r.choice([0, 0, 1]), r.choice([64, 128, 640, 1024, 1920, 3840]),
                            r.choice([64, 128, 480, 768, 1080, 2160])]
            splice, w, h = PANEL
        self.ask("LED size", ram_write(SPLICE, le16(splice) + le16(w) + le16(h) + le16(r.randrange(0, 64)) +
                                       le16(r.randrange(0, 64))))

    def window(self):
        r = self.rng
        rec = bytearray(LAYER_SIZE)
        rec[0] = r.randrange(2)
        rec[8] = r.randrange(6)
        rec[10:18] = le16(r.randrange(0, 512)) + le16(r.randrange(0, 512)) + le16(r.randrange(64, 1920)) + \
            le16(r.randrange(64, 1080))
        rec[18] = r.randrange(2)
        self.ask("window", ram_write(LAYERS + LAYER_SIZE * r.randrange(16), rec))

    def crop(self):
        r = self.rng
        self.ask("crop", ram_write(CROPS + CROP_SIZE * r.randrange(40), bytes(r.randrange(8) for _ in range(CROP_SIZE))))

    # A block anywhere but on the panel words (splice mode to the first
    # output's size), which the LED size writes change.
    def image_block(self):
        r = self.rng
        n = r.choice([16, 64, 256])
        at = r.randrange(MODE_START, IMAGE_SIZE - 256, 2)
        if at < PANEL_END and at + n > SPLICE:
            at = PANEL_END
        self.ask("image block", ram_write(at, bytes(r.getrandbits(8) for _ in range(n))))

    def single(self):
        r = self.rng
        item = r.choice([(6, r.randrange(101)), (21, r.randrange(6)), (29, r.randrange(6)), (60, r.randrange(2)),
                         (93, r.randrange(2)), (11, r.randrange(101))])
        self.ask("single parameter", request(0xB0, bytes([0x31, 0, item[0]]) + le16(item[1])))

    def screen(self):
        self.ask("screen register", request(0xA0, [0, 0x04, 0, self.rng.choice([0, 0x04])], dest=FPGA))

    def source_request(self):
        r = self.rng
        bit = 1 << r.randrange(7)
        mask = r.choice([bit, 0xFF])
        self.ask("register 0", request(0xA0, [0, mask, 0, bit]))

    # A command page into FPGA RAM type 5, then run by register 2 bit 2.
    def command_page(self):
        r = self.rng
        store = r.choice([0xAA, 0x55, 0])
        kind = r.randrange(4)
        if kind == 0:
            data = bytes([0x26, 0x20, 0x12, 0x31, 0x23, 0x59, 0x58])
            page = bytes([0xAA, 1, 0, 0, 0, 0]) + le16(len(data)) + data
        elif kind == 1:
            bcd = lambda v: (v // 10) << 4 | v % 10
            times = bytes(bcd(r.randrange(60 if i % 2 else 24)) for i in range(16))
            page = bytes([0xAA, 2, store, 0, 0, 0]) + le16(17) + bytes([r.randrange(6)]) + times
        elif kind == 2:
            page = bytes([0xAA, 3, store, 0, 0, 0]) + le16(2) + bytes([0, r.randrange(17)])
        else:
            page = bytes([0xAA, 3, store, 0, 0, 0]) + le16(49) + bytes([1] + [r.randrange(256) for _ in range(48)])
        self.ask("command page", ram_write(0x05000000, page, FPGA))
        self.ask("command page", request(0xA0, [2, 0x04, 0, 0x04], dest=FPGA))

    def apply(self):
        self.ask("apply", APPLY)

    def read_image(self):
        self.ask("image read", ram_read(self.rng.randrange(0, IMAGE_SIZE - 512, 2), 512))
        self.ask("info read", ram_read(0xA0000000, 256))

    # User modes and their slots.
    def modes(self):
        r = self.rng
        slot = r.randrange(16)
        roll = r.random()
        if roll < 0.35:
            self.ask("mode save", ram_write(868, [slot + 1, 0]))
        elif roll < 0.7:
            self.ask("mode recall", ram_write(866, [slot + 1, 0]))
        else:
            self.ask("slot write", ram_write(0x1000 + 0x1000 * slot + 2, bytes(r.getrandbits(8) for _ in range(64))))
        self.ask("slot read", ram_read(0x1000 + 0x1000 * slot, 1024))

    # EDID RAM tables: a record (timing words at 2, the block at 32) and its read.
    def edid(self):
        r = self.rng
        source = r.randrange(6)
        record = bytearray(r.getrandbits(8) for _ in range(288))
        record[2:8] = le16(r.choice([1280, 1920])) + le16(r.choice([720, 1080])) + le16(60)
        self.ask("EDID write", request(0xC1, bytes([1]) + le16(source) + bytes(4) + le16(len(record)) + record))
        self.ask("EDID read", request(0xC1, bytes([2]) + le16(source)))

    # The network values; the port stays, so the box does not restart.
    def network(self):
        r = self.rng
        roll = r.random()
        if roll < 0.25:
            ip = bytes([192, 168, 0, r.choice([199, 100, 50])])
            self.ask("network set", request(0xA4, bytes([1, 0, 0, 0]) + ip + bytes([255, 255, 255, 0]) +
                                            bytes([192, 168, 0, 1]) + le16(5005)))
        elif roll < 0.4:
            mac = bytes([0x00, 0x11, 0x22, r.randrange(256), r.randrange(256), r.randrange(256)])
            self.ask("MAC set", request(0xA4, bytes([0, 0, 0]) + mac))
        elif roll < 0.55:
            code = ("SN%06d" % r.randrange(10 ** 6)).encode()
            self.ask("barcode set", request(0xA2, bytes([30]) + le16(len(code) + 2) + code))
        elif roll < 0.65:
            self.ask("network reset", request(0xA0, [16, 0x20, 0, 0]))
        self.ask("network search", request(0xA4, [3]))
        self.ask("device information", request(0xA4, [16]))
        self.ask("barcode read", request(0xA2, [31]))

    def cloud(self):
        self.ask("cloud settings", cloud_settings(CLOUD_PORT))

    # File transfers: a file read whole, then written back as it was read.
    def files(self):
        tag = self.rng.choice([b"ALIS", b"OSDS", b"MO01", b"MO02", b"MO0a"])
        reply = self.ask("file read", request(0xC0, bytes([4, 0, 0]) + tag))
        if not reply or len(reply) < 17 or reply[10] != 0 or reply[12] != 1:
            return
        size = int.from_bytes(reply[13:17], "little")
        data = bytearray()
        while len(data) < size:
            n = min(1000, size - len(data))
            block = self.ask("file read", request(0xC0, bytes([5, 0, 0, 0, 0]) + le32(len(data)) + le32(n)))
            if not block or len(block) < 12 + n:
                break
            data += block[12 : 12 + n]
        self.ask("file read", request(0xC0, [6]))
        if len(data) != size or not size:
            return
        start = self.ask("file write", request(0xC0, bytes([1, 0, 0]) + tag + bytes([0]) + le32(size)))
        if not start or start[10] != 0:
            return
        for at in range(0, size, 1000):
            part = bytes(data[at : at + 1000])
            self.ask("file write", request(0xC0, bytes([2, 0, 0, 0, 0]) + le32(at) + le32(len(part)) + part))
        self.ask("file write", request(0xC0, bytes([3, 0, 0, 0, 0]) + hashlib.md5(bytes(data)).digest()))

    # Module transfers: the barcode sent as the module file F001, then the
    # module files read.
    def modules(self):
        r = self.rng
        if r.random() < 0.5:
            code = ("MB%06d" % r.randrange(10 ** 6)).encode()
            start = self.ask("module send", request(0xCC, b"F001" + le32(len(code)) + bytes([1])))
            if start and start[11] == 200:
                self.ask("module send", request(0xC5, le16(100) + le32(0) + le16(len(code)) + code))
                self.ask("module send", request(0xC6, le16(100) + le32(len(code))))
            return
        name, tid = r.choice([(b"F001", 100), (b"F002", 101), (b"F004", 102)])
        start = self.ask("module read", request(0xC8, name))
        if not start or len(start) < 19 or start[11] != 200:
            return
        size = int.from_bytes(start[15:19], "little")
        at = 0
        while at < size:
            block = self.ask("module read", request(0xC9, le16(tid) + le32(at)))
            if not block or len(block) < 21 or block[11] != 200:
                break
            got = block[19] | (block[20] << 8)
            if not got:
                break
            at += got
        self.ask("module read", request(0xCA, le16(tid) + le32(at)))

    def round(self):
        """A round: the image and the slots always, the rest by turns."""
        r = self.rng
        ops = [self.brightness, self.read_image, self.modes, self.apply]
        ops += r.sample([self.led_size, self.window, self.crop, self.single, self.screen, self.image_block,
                         self.edid, self.network, self.network, self.files, self.modules, self.source_request,
                         self.command_page, self.command_page], 3)
        if r.random() < 0.05:
            ops.append(self.cloud)
        r.shuffle(ops)
        for op in ops:
            if STOP.is_set():
                return
            op()
            if op in (self.led_size, self.window, self.crop, self.image_block):
                self.apply()


class NetworkOps(Ops):
    """A second pair of links: one sets the address while the other resets
    the network, both reloading the settings at once."""

    def __init__(self, rng, ask, reset):
        super().__init__(rng, ask)
        self.reset = reset

    def round(self):
        r = self.rng
        if self.reset:
            self.ask("network reset", request(0xA0, [16, 0x20, 0, 0]))
        else:
            ip = bytes([192, 168, 0, r.choice([199, 100, 50])])
            self.ask("network set", request(0xA4, bytes([1, 0, 0, 0]) + ip + bytes([255, 255, 255, 0]) +
                                            bytes([192, 168, 0, 1]) + le16(5005)))
        STOP.wait(r.uniform(0.1, 0.5))


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.sent = collections.Counter()
        self.answered = collections.Counter()
        self.kinds = collections.Counter()

    def count(self, link, kind, answered):
        with self.lock:
            self.sent[link] += 1
            self.kinds[kind] += 1
            if answered:
                self.answered[link] += 1


def read_reply(reader, timeout):
    """Reads until a frame end (0x5A) arrives: the bytes, or None on timeout or close."""
    end = time.monotonic() + timeout
    got = b""
    while not STOP.is_set():
        left = end - time.monotonic()
        if left <= 0:
            return None
        r, _, _ = select.select([reader], [], [], min(left, 0.5))
        if not r:
            continue
        data = reader()
        if not data:
            return None
        got += data
        if b"\x5a" in data:
            return got
    return None


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


class LinkLost(Exception):
    pass


def run_client(link, stats, seed, connect, send, reader_of, timeout, drop_on_silence, longest=None, ops=Ops):
    rng = random.Random(seed)
    conn = None
    while not STOP.is_set():
        try:
            if conn is None:
                conn = connect()

            def ask(kind, frame, conn=conn):
                if STOP.is_set() or longest and len(frame) > longest:
                    return None
                send(conn, frame)
                got = read_reply(reader_of(conn), timeout)
                stats.count(link, kind, got is not None)
                if got is None and drop_on_silence:
                    raise LinkLost(kind)
                return unwire(got) if got else None

            ops(rng, ask).round()
        except (OSError, LinkLost):
            if conn is not None:
                close(conn)
            conn = None
            STOP.wait(0.5)
    if conn is not None:
        close(conn)


def close(conn):
    if isinstance(conn, int):
        os.close(conn)
    else:
        conn.close()


def tcp_client(port, stats, seed, ops=Ops, name=""):
    run_client(f"TCP {port}{name}", stats, seed, lambda: socket.create_connection(("127.0.0.1", port), timeout=10),
               lambda s, f: s.sendall(f), SockReader, 20, True, ops=ops)


def network_pair(port, stats, seed, reset):
    ops = lambda rng, ask: NetworkOps(rng, ask, reset)
    tcp_client(port, stats, seed, ops, " (network reset)" if reset else " (network set)")


def udp_client(port, stats, seed):
    def connect():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("0.0.0.0", 0))
        return s

    run_client(f"UDP {port}", stats, seed, connect, lambda s, f: s.sendto(f, ("127.0.0.1", port)), SockReader, 5,
               False, 1400)


def serial_client(root, stats, seed):
    path = os.path.join(root, "sim", "pc-serial")

    def connect():
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        termios.tcflush(fd, termios.TCIOFLUSH)
        return fd

    class Reader:
        def __init__(self, fd):
            self.fd = fd

        def fileno(self):
            return self.fd

        def __call__(self):
            return os.read(self.fd, 65536)

    run_client("RS-485", stats, seed, connect, os.write, Reader, 20, False)


# The cloud server the box's cloud client connects to: it asks for the
# device information and the property now and then, and drops the link now
# and then so the client connects again.
def crc16_arc(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def cloud_frame(code, text):
    data = json.dumps(text).encode()
    head = bytearray(b"KQOC" + bytes(12) + le32(len(data)) + le16(code) + le16(crc16_arc(data)) + bytes(2))
    bcc = 0
    for b in head:
        bcc ^= b
    return bytes(head) + bytes([bcc]) + data


def cloud_server(counts, seed):
    rng = random.Random(seed)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", CLOUD_PORT))
    listener.listen(4)
    listener.settimeout(0.5)
    while not STOP.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        counts["cloud connections"] += 1
        conn.settimeout(0.2)
        until = time.monotonic() + rng.uniform(10, 60)
        try:
            while not STOP.is_set() and time.monotonic() < until:
                try:
                    if not conn.recv(65536):
                        break
                except socket.timeout:
                    pass
                conn.sendall(cloud_frame(1, {"name": rng.choice(["getinfo", "getinfo", "getproperty"])}))
                counts["cloud requests"] += 1
                STOP.wait(rng.uniform(0.05, 0.3))
        except OSError:
            pass
        conn.close()
    listener.close()


KEYS = ["LEFT", "RIGHT", "OK", "MODE", "BACK", "WIN1", "WIN2", "WIN3", "EXT", "DVI", "HDMI1", "HDMI2", "HDMI3",
        "HDMI4", "FREEZE", "BLACK", "A", "B", "C"]
# A fault is set once the FPGA has been up for 20 s (or nothing was set for
# 150 s) and held 20 to 40 s, so the FPGA spends much of the run up and still
# starts again and again. Each fault that drops the FPGA ("fpga input")
# starts it again when it clears; "fpga ram" and "fpga vbo" held meanwhile
# make those starts fail and start again: every start writes the command page
# beside the PC's.
FAULTS = ["fpga input\nfpga ram", "fpga input\nfpga vbo", "fpga input", "fpga ram", "fpga vbo", "fpga output",
          "cards 1 silent", "cards 2 badcheck", "cards 3 short", "cards 4 delay 50"]
INPUTS = ["HDMI1 1920x1080@60", "HDMI1 off", "HDMI2 1280x720@50", "HDMI2 off", "DVI 1024x768@60", "DVI off",
          "EXT 1920x1080@30", "EXT off", "HDMI3 3840x2160@30", "HDMI4 off"]


def fpga_state(conn):
    """FPGA register 80 (3 while up) read over a link of its own, or None."""
    try:
        if conn[0] is None:
            conn[0] = socket.create_connection(("127.0.0.1", 5005), timeout=5)
        conn[0].sendall(request(0xA1, [80, 0, 0, 0], dest=FPGA))
        got = read_reply(SockReader(conn[0]), 5)
        reply = unwire(got) if got else None
        if reply is None or len(reply) < 12:
            raise OSError("no answer")
        return reply[11] if reply[10] == 0 else None
    except OSError:
        if conn[0] is not None:
            conn[0].close()
        conn[0] = None
        return None


def meet_the_locks(seconds):
    """Waits, with no other traffic, until the FPGA is up, then has the apply
    mutex, the LED set-up mutex and the FPGA register lock meet once with the
    FPGA up: an LED width and the apply (which asks for the LED set-up), a
    command page of manual brightness 1.5 s later, and the screen register's
    blackout bit. The seconds waited, or None when the FPGA did not come up."""
    conn = [None]
    started = time.monotonic()
    while fpga_state(conn) != 3:
        if time.monotonic() - started > seconds or STOP.wait(1):
            if conn[0] is not None:
                conn[0].close()
            return None

    def ask(frame):
        conn[0].sendall(frame)
        read_reply(SockReader(conn[0]), 20)

    try:
        ask(ram_write(SPLICE, b"".join(le16(v) for v in PANEL)))
        ask(APPLY)
        STOP.wait(1.5)
        ask(ram_write(0x05000000, bytes([0xAA, 3, 0, 0, 0, 0]) + le16(2) + bytes([0, 8]), FPGA))
        ask(request(0xA0, [2, 0x04, 0, 0x04], dest=FPGA))
        for value in (0x04, 0):
            ask(request(0xA0, [0, 0x04, 0, value], dest=FPGA))
    except OSError:
        pass
    conn[0].close()
    return time.monotonic() - started


def board_driver(root, counts, seed):
    rng = random.Random(seed)
    sim = os.path.join(root, "sim")
    plugged = False
    faulted = False
    watch = [None]
    up_since = None
    last_usb = last_fault = last_inputs = time.monotonic()
    hold = 0.0
    while not STOP.wait(rng.uniform(0.3, 1.5)):
        now = time.monotonic()
        up = fpga_state(watch) == 3
        if up and up_since is None:
            counts["fpga starts"] += 1
        up_since = (up_since or now) if up else None
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
            if faulted and now - last_fault > hold:
                faulted = False
            elif not faulted and ((up_since is not None and now - up_since > 20) or now - last_fault > 150):
                faulted = True
                hold = rng.uniform(20, 40)
                counts["faults"] += 1
            else:
                continue
            with open(os.path.join(sim, "faults"), "w") as f:
                f.write(rng.choice(FAULTS) + "\n" if faulted else "")
            last_fault = now
        except OSError as e:
            print(f"race-load: board script: {e}", file=sys.stderr)
    if watch[0] is not None:
        watch[0].close()


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
    own_network("race-load")
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
        waited = meet_the_locks(240)
        if waited is None:
            print("race-load: the FPGA did not come up within 240 s; the load starts without the first meeting")
        else:
            print(f"race-load: FPGA up after {waited:.0f} s more; LED set-up, brightness page and screen register sent")
        stats = Stats()
        counts = collections.Counter()
        rng = random.Random(args.seed)
        workers = [
            threading.Thread(target=cloud_server, args=(counts, rng.random())),
            threading.Thread(target=tcp_client, args=(5005, stats, rng.random())),
            threading.Thread(target=tcp_client, args=(5005, stats, rng.random())),
            threading.Thread(target=tcp_client, args=(10002, stats, rng.random())),
            threading.Thread(target=udp_client, args=(10005, stats, rng.random())),
            threading.Thread(target=udp_client, args=(5008, stats, rng.random())),
            threading.Thread(target=serial_client, args=(args.root, stats, rng.random())),
            threading.Thread(target=network_pair, args=(5005, stats, rng.random(), False)),
            threading.Thread(target=network_pair, args=(10002, stats, rng.random(), True)),
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
            print(f"race-load: {link}: {stats.sent[link]} requests, {stats.answered[link]} answered")
        print("race-load: requests by kind: " + ", ".join(f"{k} {v}" for k, v in sorted(stats.kinds.items())))
        print("race-load: board and cloud: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
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
