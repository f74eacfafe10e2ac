"""Frames as the PC tool sends them to zevQ64N: the body, its check byte, the
escapes and the start and end marks; and reading a socket whole. Shared by
the tools that drive the links and the VNC screen."""

BOX, PC, FPGA = 0xF100, 0xF010, 0xF200


def bcc(data):
    x = 0
    for b in data:
        x ^= b
    return x


def wire(body):
    body = bytes(body) + bytes([bcc(body)])
    out = bytearray(b"\xa5\xa5\xa5")
    for b in body:
        if b == 0xA5:
            out += b"\xa6\x02"
        elif b == 0xA6:
            out += b"\xa6\x01"
        elif b == 0x5A:
            out += b"\x5b\x02"
        elif b == 0x5B:
            out += b"\x5b\x01"
        else:
            out.append(b)
    return bytes(out + b"\x5a")


def request(dest, group, rest, route=0, port=0):
    return bytes([dest & 0xFF, dest >> 8, PC & 0xFF, PC >> 8, 4, 5, route, port, 8, group]) + bytes(rest)


def recvn(s, n):
    """Exactly n bytes from socket s; EOFError when it closes first."""
    b = b""
    while len(b) < n:
        d = s.recv(n - len(b))
        if not d:
            raise EOFError
        b += d
    return b
