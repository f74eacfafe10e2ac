#!/usr/bin/env python3
"""Sums up the ThreadSanitizer logs of a folder (one file per process).

    tools/race-summary.py LOG_DIR [--source DIR]

Prints the number of reports, then each distinct one: data races grouped by
the pair of top frames in our code (file:function, the frame nearest the
access whose file lies under the source folder), with both accesses'
file:line and their callers in our code, the thread, the mutexes held and
the variable where ThreadSanitizer names it; other
kinds (lock-order inversions, ...) by kind and their top frames in our code.
Each data race is put in an area by the variable it touched (the image
with its shadow and EDID RAM table, the user-mode slots, the cloud settings,
the network strings; "other" for the rest), counted per area up front,
those made inside a library (the first frame of every access past the
sanitizer and the preload lies in Qt, glibc or another library not ours)
apart from those made in our code, and the lock-order inversions, those
among the mutexes of Qt or the system (each mutex of the cycle taken by
library code) apart from those in our code. Then what the suppressions file held back: the Qt
libraries whose intercepted calls go unchecked (ThreadSanitizer counts no
such calls) and the reports each other suppression matched
(print_suppressions=1). Exits 3 when a lock-order inversion is in our code:
a cycle of our locks can stop the threads that take them for good.
"""
import argparse
import collections
import os
import re
import sys

FRAME = re.compile(r"^\s+#(\d+) (.*) \(([^()]*)\)$")
WARNING = re.compile(r"^WARNING: ThreadSanitizer: (.*?) \(pid=(\d+)\)")
LOCATION = re.compile(r"^  Location is (.*)$")
LIB_MATCH = re.compile(r"Matched called_from_lib suppression '(.*?)' against library '(.*?)'")
SIDE = re.compile(r"^(Location is|Mutex M\d+ .*created at|Thread T\d+ .*created by)")
SUPP_HEAD = re.compile(r"^ThreadSanitizer: Matched (\d+) suppressions")
SUPP_LINE = re.compile(r"^\s*(\d+) (\S+):(.*)$")


def parse_frame(line):
    m = FRAME.match(line)
    if not m:
        return None
    rest = m.group(2)
    func, _, where = rest.rpartition(" ")
    if not func:
        func, where = rest, ""
    parts = where.split(":")
    path = parts[0]
    lineno = parts[1] if len(parts) > 1 and parts[1].isdigit() else ""
    return {"func": func, "path": path, "line": lineno, "module": m.group(3)}


class Report:
    def __init__(self, kind, program):
        self.kind = kind
        self.program = program
        self.sections = []  # [title, [frames]]: each "  Title:" line and its stack
        self.location = ""

    def feed(self, line):
        frame = parse_frame(line)
        if frame is not None:
            if self.sections:
                self.sections[-1][1].append(frame)
            return
        if line.startswith("  ") and not line.startswith("   "):
            text = line.strip()
            m = LOCATION.match(line)
            if m and not self.location:
                self.location = m.group(1)
            self.sections.append([text.rstrip(":"), []])

    # The accesses (or acquisitions) reported; creation stacks only where
    # nothing else is given (a thread leak).
    def stacks(self):
        main = [s for s in self.sections if s[1] and not SIDE.match(s[0])]
        return main or [s for s in self.sections if s[1] and not s[0].startswith("Location")]

    def mutexes(self, source):
        """Each mutex named in the report and where it was first locked in our code."""
        out = {}
        for title, frames in self.sections:
            m = re.match(r"Mutex (M\d+) .*created at", title)
            if m:
                out[m.group(1)] = short(ours(frames, source), source)
        return out

    def location_stack(self):
        for title, frames in self.sections:
            if title.startswith("Location"):
                return frames
        return []


# The preload that shows Qt's locks calls the sanitizer from its own frames.
PRELOAD = "/tools/tsan_qt_sync.cpp"


def ours(frames, source):
    for f in frames:
        if f["path"].startswith(source + "/") and not f["path"].endswith(PRELOAD):
            return f
    return None


def callers(frames, mine, source, count=2):
    """The next frames of ours below mine: a helper's callers tell more."""
    out = []
    rest = frames[frames.index(mine) + 1 :]
    while len(out) < count:
        up = ours(rest, source)
        if up is None:
            break
        out.append(up)
        rest = rest[rest.index(up) + 1 :]
    return out


def top(frames):
    """The first frame outside the sanitizer and the preload, for a stack with none of ours."""
    for f in frames:
        if "libtsan" not in f["module"] and not f["path"].endswith(PRELOAD):
            return f
    return frames[0] if frames else None


def short(frame, source, with_line=True):
    if frame is None:
        return "(no frame of ours)"
    path = os.path.relpath(frame["path"], source)
    func = re.sub(r"(?<!operator)\((?:[^()]|\([^()]*\))*\)( const)?$", "", frame["func"])
    text = f"{path}:{func}"
    # Lambdas are told apart by their line only.
    if (with_line or func.endswith("operator()")) and frame["line"]:
        text = f"{path}:{frame['line']} {func}"
    return text


def variable(report, source):
    loc = report.location
    m = re.match(r"global '(.*?)' of size", loc)
    if m:
        return f"global {m.group(1)}"
    m = re.match(r"heap block of size (\d+)", loc)
    if m:
        alloc = ours(report.location_stack(), source)
        return f"heap block of {m.group(1)} bytes allocated at {short(alloc, source)}"
    m = re.match(r"stack of (.*?)\.?$", loc)
    if m:
        return f"stack of {m.group(1)}"
    return loc.split(" at 0x")[0] if loc else ""


# The shared state the check is asked about, by the variable ThreadSanitizer
# names for the access.
AREAS = [
    ("image", re.compile(r"ZevRamPara::p_zevrampara_(config|shadow)|\bedid_ram_table")),
    ("slots", re.compile(r"ZevRamPara::user_mode")),
    ("cloud settings", re.compile(r"\bg_Nubo_")),
    ("network strings", re.compile(r"\b(g_str_ip|g_srt_mask|g_str_gateway|g_str_mac|g_str_barcode)\b")),
]


def in_library(frame):
    """A frame of a shared library that is not ours (Qt, glibc, OpenSSL...)."""
    name = os.path.basename(frame["module"].split("+")[0])
    return bool(re.match(r"lib.*\.so", name)) and not name.startswith("libzev")


def at_system(report):
    """A data race whose accesses are all made inside a library (glibc's own
    locks, say, which the sanitizer does not see): the first frame past the
    sanitizer and the preload is a library's in every stack."""
    if not report.kind.startswith("data race"):
        return False
    firsts = [top(frames) for _, frames in report.stacks()]
    return all(f is not None and in_library(f) for f in firsts)


ACQUIRED = re.compile(r"Mutex (M\d+) (?:acquired|previously acquired)")


def order_in_library(report):
    """A lock-order inversion among a library's own mutexes: every mutex of
    the cycle is taken, somewhere in the report, by library code (the first
    frame past the sanitizer and the preload)."""
    taken_by_library = set()
    named = set()
    for title, frames in report.sections:
        m = ACQUIRED.match(title)
        if not m:
            continue
        named.add(m.group(1))
        first = top(frames)
        if first is not None and in_library(first):
            taken_by_library.add(m.group(1))
    return bool(named) and named <= taken_by_library


def area(report):
    if not report.kind.startswith("data race"):
        return None
    for name, pattern in AREAS:
        if pattern.search(report.location):
            return name
    return "other"


def read_logs(folder):
    reports, libs, supps, processes = [], collections.Counter(), collections.Counter(), 0
    warnings_total = 0
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        processes += 1
        # report.<program>.<pid>: the program is named when log_exe_name is on.
        parts = name.split(".")
        program = parts[1] if len(parts) > 2 else "?"
        current, in_supp = None, False
        with open(path, errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                m = WARNING.match(line)
                if m:
                    current = Report(m.group(1), program)
                    reports.append(current)
                    continue
                if line.startswith("SUMMARY: ThreadSanitizer") or line.startswith("=================="):
                    current = None
                    continue
                m = LIB_MATCH.search(line)
                if m:
                    libs[(m.group(1), os.path.basename(m.group(2)))] += 1
                    continue
                m = re.match(r"ThreadSanitizer: reported (\d+) warnings", line)
                if m:
                    warnings_total += int(m.group(1))
                    continue
                if SUPP_HEAD.match(line):
                    in_supp = True
                    continue
                if in_supp:
                    m = SUPP_LINE.match(line)
                    if m:
                        supps[f"{m.group(2)}:{m.group(3)}"] += int(m.group(1))
                        continue
                    in_supp = False
                if current is not None:
                    current.feed(line)
    return reports, libs, supps, processes


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("logs")
    ap.add_argument("--source", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    ap.add_argument("--suppressions", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "tsan.supp"))
    args = ap.parse_args()
    source = os.path.realpath(args.source)
    reports, libs, supps, processes = read_logs(args.logs)

    groups = collections.OrderedDict()
    for r in reports:
        tops = [ours(frames, source) for _, frames in r.stacks()]
        if r.kind.startswith("data race"):
            tops = tops[:2]
        key = (r.kind, tuple(sorted(short(t, source, False) for t in tops)))
        g = groups.setdefault(key, {"count": 0, "programs": collections.Counter(), "example": r, "tops": tops,
                                    "paths": collections.Counter()})
        g["count"] += 1
        for (_, frames), mine in zip(r.stacks(), tops):
            if mine is not None:
                chain = [mine] + callers(frames, mine, source)
                g["paths"]["  <- ".join(short(f, source) for f in chain)] += 1
        g["programs"][r.program] += 1

    print(f"race-summary: {len(reports)} reports from {processes} processes, {len(groups)} distinct")
    kinds = collections.Counter(r.kind for r in reports)
    for kind, n in kinds.most_common():
        print(f"  {n:5} {kind}")
    order = [r for r in reports if r.kind.startswith("lock-order-inversion")]
    ours_order = [r for r in order if not order_in_library(r)]
    print(f"lock-order inversions: {len(ours_order)} in our code, {len(order) - len(ours_order)} in Qt or the system")
    races = [r for r in reports if r.kind.startswith("data race")]
    system = [r for r in races if at_system(r)]
    print(f"data races: {len(races) - len(system)} in our code, {len(system)} made inside Qt or the system")
    print("data races by area:")
    for name in [a for a, _ in AREAS] + ["other"]:
        n = sum(1 for r in reports if area(r) == name)
        d = sum(1 for g in groups.values() if area(g["example"]) == name)
        print(f"  {name}: {n} reports, {d} distinct")
    for i, ((kind, _), g) in enumerate(sorted(groups.items(), key=lambda kv: -kv[1]["count"]), 1):
        r = g["example"]
        print(f"\n[{i}] {kind}: {g['count']} reports")
        for (title, frames), mine in zip(r.stacks(), g["tops"]):
            print("    " + re.sub(r" at 0x[0-9a-f]+", "", title))
            if mine is None:
                other = top(frames)
                where = other["func"][:120] if other else "?"
                print(f"      at (no frame of ours; top: {where} in {other['module'] if other else '?'})")
            else:
                chain = [mine] + callers(frames, mine, source)
                print("      at " + "  <- ".join(short(f, source) for f in chain))
        if len(g["paths"]) > len(g["tops"]):
            print(f"    {len(g['paths'])} distinct paths of ours in these reports, the most frequent:")
            for path, n in g["paths"].most_common(8):
                print(f"      {n:4} x {path}")
        for name, where in r.mutexes(source).items():
            print(f"    mutex {name} first locked at {where}")
        var = variable(r, source)
        if var:
            print(f"    location: {var}")
        if area(r):
            print(f"    area: {area(r)}" + (" (made inside Qt or the system)" if at_system(r) else ""))
        if kind.startswith("lock-order-inversion") and order_in_library(r):
            print("    among the mutexes of Qt or the system")
        progs = ", ".join(f"{p} x{n}" for p, n in g["programs"].most_common(6))
        print(f"    in: {progs}")

    print("\nsuppressed:")
    with open(args.suppressions) as f:
        entries = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    for entry in entries:
        if entry.startswith("called_from_lib:"):
            seen = sum(n for (templ, _), n in libs.items() if "called_from_lib:" + templ == entry)
            note = f" (matched in {seen} processes)" if seen else ""
            print(f"  {entry}: intercepted calls from the library unchecked, not counted{note}")
        else:
            print(f"  {entry}: {supps.get(entry, 0)} reports")
    return 3 if ours_order else 0


if __name__ == "__main__":
    sys.exit(main())
