"""A network of the tool's own, so that a tool reaches only the program it
starts, never a box a user runs: a network namespace with its loopback up (a
plain one for root, else one inside a user namespace where the user keeps
their ids), or, where the machine allows neither, the machine's own network
while the program's ports are free there. ZEV_TEST_NO_NAMESPACES=1 makes
every namespace fail, as on such a machine. Shared by the tools that start
the program and talk to it."""
import ctypes
import fcntl
import os
import socket
import struct
import sys

CLONE_NEWNET, CLONE_NEWUSER = 0x40000000, 0x10000000
SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1
# The program's ports: the PC ports and the VNC screen's. Any of them held
# means another program there, a box or a desktop's VNC server.
PORTS = [(socket.SOCK_STREAM, 5005), (socket.SOCK_STREAM, 10002), (socket.SOCK_DGRAM, 5008),
         (socket.SOCK_DGRAM, 10005), (socket.SOCK_DGRAM, 13769), (socket.SOCK_STREAM, 5900)]


def _unshare(flags):
    if os.environ.get("ZEV_TEST_NO_NAMESPACES") == "1":
        return False
    return ctypes.CDLL(None, use_errno=True).unshare(flags) == 0


def _write(path, text):
    with open(path, "w") as f:
        f.write(text)


def _namespace():
    if _unshare(CLONE_NEWNET):
        return True
    uid, gid = os.getuid(), os.getgid()
    if not _unshare(CLONE_NEWUSER | CLONE_NEWNET):
        return False
    try:
        # Group mappings are refused until setgroups is; kernels without the
        # file have no such rule.
        if os.path.exists("/proc/self/setgroups"):
            _write("/proc/self/setgroups", "deny")
        _write("/proc/self/uid_map", f"{uid} {uid} 1\n")
        _write("/proc/self/gid_map", f"{gid} {gid} 1\n")
    except OSError:
        return False
    return True


def _loopback_up():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(s, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14x", b"lo", flags | IFF_UP))


def _held(kind, port):
    """Bound elsewhere, as the program binds it: TCP with SO_REUSEADDR (a
    closing connection does not count), UDP without."""
    with socket.socket(socket.AF_INET, kind) as s:
        if kind == socket.SOCK_STREAM:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("0.0.0.0", port))
        except OSError:
            return True
    return False


def own_network(tool):
    """Call first, before any thread or program starts: the namespace is the
    process's and its children's. Exits after one line where the tool would
    meet another program on the program's ports."""
    if _namespace():
        try:
            _loopback_up()
        except OSError as e:
            sys.exit(f"{tool}: no loopback in a network namespace of its own: {e}")
        return
    for kind, port in PORTS:
        if _held(kind, port):
            sys.exit(f"{tool}: port {port} is in use and no network namespace can be had here; stop the program "
                     f"on it (a running zevQ64N, or a VNC server on 5900) or run {tool} as root")
    print(f"{tool}: no network namespace can be had here: on this machine's loopback, whose ports are free",
          flush=True)
