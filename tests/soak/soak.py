#!/usr/bin/env python3
"""Long run of Sentrel under steady file churn.

Starts Sentrel on a generated configuration of directory items (real-time,
with a list action and an execute action each), churns their trees at a
steady rate while logging every operation, samples Sentrel's resident memory
and descriptors from /proc, then stops it and compares what the list files
reported with what the churn did.

    tests/soak/soak.py --minutes 30            # the full run
    tests/soak/soak.py --minutes 2 --rate 8    # a short one
    tests/soak/soak.py --check-only            # re-check the last run's files
                                               # (give it the same --items, --overlap)

Not part of CI: it runs for as long as it is told to.
"""

import argparse
import collections
import json
import os
import random
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# Names chosen to trip anything that treats a path as text to interpret:
# blanks, quotes, macro and shell characters, mask characters, UTF-8, hidden.
NAME_STYLES = [
    "f{n}.txt",
    "with space {n}.log",
    "pct%File{n}.dat",
    "\u00e9t\u00e9 {n}.txt",
    ".hidden{n}",
    'quote"{n}\'x',
    "semi;$(echo {n})",
    "[mask]*{n}?",
]
NAMES_PER_STYLE = 4
MOVABLE_DIRS = ["d0", "d1", "d2", "d3"]
FIXED_DIRS = ["", "keep/deep/"]

STATE_LETTER = {"A": "added", "C": "changed", "D": "deleted"}


# ---------------------------------------------------------------------------
# Churn


class Churn:
    """Changes the trees at a steady rate and logs every change.

    Each change becomes one JSON line per affected path, with the wall time
    after the change: {"t", "op", "path", "size", "mtime"} where size is the
    file's size afterwards, or null when the path no longer exists, and mtime
    its last-write time in milliseconds. A path is never
    touched twice within `gap` seconds, so that every state of every file
    lasts long enough to be seen by a real-time check.
    """

    def __init__(self, root, trees, files_per_tree, gap, seed):
        self.root = root
        self.trees = trees
        self.target = files_per_tree
        self.gap = gap
        self.rng = random.Random(seed)
        self.files = {}  # path -> size, existing files only
        self.per_tree = collections.Counter()
        self.dirs = {}  # tree -> set of existing movable dirs
        self.last_touch = {}  # path -> monotonic time of its last change
        self.stage = os.path.join(root, "stage")
        self.log = None
        self.counts = collections.Counter()
        self.serial = 0

    def tree_dir(self, t):
        return os.path.join(self.root, "trees", "t%03d" % t)

    def names(self):
        return [s.format(n=n) for s in NAME_STYLES for n in range(NAMES_PER_STYLE)]

    def emit(self, op, path, size):
        # The last-write time in milliseconds, the resolution the monitor
        # compares: a state with the time of the one before is not a change.
        mtime = os.stat(path).st_mtime_ns // 1000000 if size is not None else None
        self.log.write(json.dumps({"t": time.time(), "op": op, "path": path, "size": size,
                                   "mtime": mtime}, ensure_ascii=False) + "\n")
        self.last_touch[path] = time.monotonic()

    def cool(self, path, now):
        return now - self.last_touch.get(path, -1e9) >= self.gap

    def populate(self, log):
        self.log = log
        os.makedirs(self.stage, exist_ok=True)
        names = self.names()
        for t in range(self.trees):
            base = self.tree_dir(t)
            self.dirs[t] = {"d0", "d1"}
            for d in ["keep/deep", "d0", "d1"]:
                os.makedirs(os.path.join(base, d), exist_ok=True)
            for _ in range(self.target):
                loc = self.rng.choice(FIXED_DIRS + sorted(self.dirs[t]))
                loc = loc if loc == "" or loc.endswith("/") else loc + "/"
                path = os.path.join(base, loc + self.rng.choice(names))
                if path in self.files:
                    continue
                size = self.rng.randint(0, 200)
                with open(path, "wb") as f:
                    f.write(b"i" * size)
                # Distinct times, whole seconds apart: a file renamed over
                # another must look changed.
                stamp = (int(time.time()) - 10 - len(self.files)) * 1000000000
                os.utime(path, ns=(stamp, stamp))
                self.files[path] = size
                self.per_tree[t] += 1
                self.emit("init", path, size)
        # The initial files are the baseline: nothing about them is expected.
        self.last_touch.clear()
        log.flush()

    def locations(self, t):
        return FIXED_DIRS + [d + "/" for d in sorted(self.dirs[t])]

    def pick_existing(self, t, now):
        base = self.tree_dir(t) + "/"
        cands = [p for p in self.files if p.startswith(base) and self.cool(p, now)]
        return self.rng.choice(cands) if cands else None

    def pick_free(self, t, now, loc=None):
        base = self.tree_dir(t) + "/"
        loc = loc if loc is not None else self.rng.choice(self.locations(t))
        for _ in range(20):
            path = base + loc + self.rng.choice(self.names())
            if path not in self.files and self.cool(path, now):
                return path
        return None

    def step(self):
        now = time.monotonic()
        t = self.rng.randrange(self.trees)
        r = self.rng.random()
        if r < 0.30:
            op = "create"
        elif r < 0.62:
            op = "write"
        elif r < 0.82:
            op = "delete"
        elif r < 0.97:
            op = "rename"
        else:
            op = "dirmove"
        # Keep each tree's population near its target.
        if op == "create" and self.per_tree[t] > self.target * 1.3:
            op = "delete"
        elif op == "delete" and self.per_tree[t] < self.target * 0.7:
            op = "create"
        return getattr(self, "op_" + op)(t, now)

    def op_create(self, t, now):
        path = self.pick_free(t, now)
        if path is None:
            return False
        if self.rng.random() < 0.5:
            # An empty file made in place: one atomic state.
            fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
            os.close(fd)
            size = 0
            kind = "create"
        else:
            # Content written elsewhere and moved in, as downloads and saves do.
            self.serial += 1
            tmp = os.path.join(self.stage, "s%d" % self.serial)
            size = self.rng.randint(1, 300)
            with open(tmp, "wb") as f:
                f.write(b"c" * size)
            os.rename(tmp, path)
            kind = "movein"
        self.files[path] = size
        self.per_tree[t] += 1
        self.counts[kind] += 1
        self.emit(kind, path, size)
        return True

    def op_write(self, t, now):
        path = self.pick_existing(t, now)
        if path is None:
            return False
        # One small append: the size and the time change in one write.
        add = self.rng.randint(1, 64)
        fd = os.open(path, os.O_WRONLY | os.O_APPEND)
        os.write(fd, b"w" * add)
        os.close(fd)
        self.files[path] += add
        self.counts["write"] += 1
        self.emit("write", path, self.files[path])
        return True

    def op_delete(self, t, now):
        path = self.pick_existing(t, now)
        if path is None:
            return False
        os.unlink(path)
        del self.files[path]
        self.per_tree[t] -= 1
        self.counts["delete"] += 1
        self.emit("delete", path, None)
        return True

    def op_rename(self, t, now):
        src = self.pick_existing(t, now)
        if src is None:
            return False
        r = self.rng.random()
        dt = t
        if r < 0.2:
            dt = self.rng.randrange(self.trees)  # to another item's tree
        if r > 0.85:
            # Replace an existing file, as an editor's save does.
            dst = self.pick_existing(dt, now)
            if dst == src:
                dst = None
            kind = "replace"
        else:
            dst = self.pick_free(dt, now)
            kind = "rename"
        if dst is None:
            return False
        os.rename(src, dst)
        size = self.files.pop(src)
        self.per_tree[t] -= 1
        if dst not in self.files:
            self.per_tree[dt] += 1
        self.files[dst] = size
        self.counts[kind] += 1
        self.emit(kind + "-from", src, None)
        self.emit(kind + "-to", dst, size)
        return True

    def op_dirmove(self, t, now):
        present = sorted(self.dirs[t])
        absent = [d for d in MOVABLE_DIRS if d not in self.dirs[t]]
        if not present or not absent:
            return False
        src_d = self.rng.choice(present)
        dst_d = self.rng.choice(absent)
        base = self.tree_dir(t) + "/"
        inside = [p for p in self.files if p.startswith(base + src_d + "/")]
        moved = [(p, base + dst_d + p[len(base + src_d):]) for p in inside]
        if not all(self.cool(a, now) and self.cool(b, now) for a, b in moved):
            return False
        os.rename(base + src_d, base + dst_d)
        self.dirs[t].discard(src_d)
        self.dirs[t].add(dst_d)
        for a, b in moved:
            self.files[b] = self.files.pop(a)
            self.emit("dirmove-from", a, None)
            self.emit("dirmove-to", b, self.files[b])
        self.counts["dirmove"] += 1
        self.counts["dirmove-files"] += len(moved)
        return True

    def run(self, seconds, rate, stop):
        period = 1.0 / rate
        start = time.monotonic()
        next_at = start
        late = 0
        while not stop.is_set() and time.monotonic() - start < seconds:
            for _ in range(10):
                if self.step():
                    break
            next_at += period
            delay = next_at - time.monotonic()
            if delay > 0:
                stop.wait(delay)
            else:
                late += 1
                if delay < -1.0:
                    next_at = time.monotonic()  # fell behind: do not burst
        self.log.flush()
        return late


# ---------------------------------------------------------------------------
# Sampling


def read_status(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            k, _, v = line.partition(":")
            if k in ("VmRSS", "VmHWM", "Threads", "VmSize"):
                out[k] = int(v.split()[0])
    return out


def zombie_children(pid):
    n = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if fields[0] == "Z" and int(fields[1]) == pid:
            n += 1
    return n


def sampler(pid, path, every, stop, t0):
    with open(path, "w") as out:
        out.write("seconds,rss_kb,hwm_kb,vm_kb,fds,threads,zombies,cpu_s\n")
        tick = os.sysconf("SC_CLK_TCK")
        while True:
            try:
                s = read_status(pid)
                fds = len(os.listdir("/proc/%d/fd" % pid))
                z = zombie_children(pid)
                with open("/proc/%d/stat" % pid) as f:
                    stat = f.read()
                fields = stat[stat.rfind(")") + 2:].split()
                cpu = (int(fields[11]) + int(fields[12])) / tick
            except OSError:
                return
            out.write("%.1f,%d,%d,%d,%d,%d,%d,%.2f\n" % (time.time() - t0, s["VmRSS"], s["VmHWM"],
                                                        s["VmSize"], fds, s["Threads"], z, cpu))
            out.flush()
            if stop.wait(every):
                return


def find_process(group, exe):
    """The process of `group` that runs `exe`: Sentrel under a wrapper."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.getpgid(int(entry)) != group:
                    continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv = f.read().split(b"\0")
            except OSError:
                continue
            if argv[0].decode(errors="replace") == exe:
                return int(entry)
        time.sleep(0.1)
    sys.exit("Sentrel did not start under the wrapper")


# ---------------------------------------------------------------------------
# Configuration


class Item:
    """One directory item of the generated configuration and what it sees."""

    def __init__(self, name, root, subdir, hidden):
        self.name, self.root, self.subdir, self.hidden = name, root, subdir, hidden

    def covers(self, path):
        if not path.startswith(self.root):
            return False
        rest = path[len(self.root):]
        if not self.subdir and "/" in rest:
            return False
        return self.hidden or not rest.split("/")[-1].startswith(".")


def make_items(root, trees, overlap):
    """One item per tree, then `overlap` items over parts of the first
    trees, sharing their directories' watches: the deep directory alone, or
    the tree's top directory alone without hidden files."""
    items = [Item("t%03d" % t, "%s/trees/t%03d/" % (root, t), True, True) for t in range(trees)]
    for j in range(overlap):
        tree = "%s/trees/t%03d/" % (root, j % trees)
        if j % 2 == 0:
            items.append(Item("o%03d" % j, tree + "keep/deep/", False, True))
        else:
            items.append(Item("o%03d" % j, tree, False, False))
    return items


def write_config(path, root, items, record_args):
    blocks = []
    for item in items:
        exec_dir = os.path.join(root, "exec", item.name)
        os.makedirs(exec_dir, exist_ok=True)
        blocks.append("\n".join([
            "IsDirectory=1",
            "FileName=" + item.root.rstrip("/"),
            "Interval=60",
            "Subdir=%d" % item.subdir,
            "CountHidden=%d" % item.hidden,
            "RealTime=1",
            "Conditions=1110",
            "StorePrevInfo=1",
            "Action=0",
            "ListName=%s/lists/%s.lst" % (root, item.name),
            'ListParams=%Added="A"%Changed="C"%Deleted="D" %Size %File',
            "ListAppend=1",
            "Action=1",
            "Command=" + record_args,
            'Params=%(%Added="A"%Changed="C"%Deleted="D" %File %)',
            "Dir=" + exec_dir,
            "Show=3",
            "EOF",
            "",
        ]))
    os.makedirs(os.path.join(root, "lists"), exist_ok=True)
    with open(path, "w") as f:
        f.write("; Generated by tests/soak/soak.py\n\n" + "\n".join(blocks))


# ---------------------------------------------------------------------------
# Checking


class Version:
    __slots__ = ("t", "size", "op", "mtime")

    def __init__(self, t, size, op, mtime):
        self.t, self.size, self.op, self.mtime = t, size, op, mtime


def read_churn(path):
    history = collections.defaultdict(list)  # path -> [Version]; size None = absent
    ops = collections.Counter()
    with open(path, encoding="utf-8") as f:
        for line in f:
            e = json.loads(line)
            h = history[e["path"]]
            if e["op"] == "init":
                h.append(Version(0.0, e["size"], "init", e.get("mtime")))
                continue
            if not h:
                h.append(Version(0.0, None, "init", None))
            h.append(Version(e["t"], e["size"], e["op"], e.get("mtime")))
            ops[e["op"]] += 1
    return history, ops


def read_list(path):
    reports = []
    with open(path, "rb") as f:
        data = f.read()
    for raw in data.split(b"\r\n"):
        if not raw:
            continue
        line = raw.decode("utf-8", "surrogateescape")
        state, size, file = line.split(" ", 2)
        reports.append((state, int(size), file))
    return reports


def read_exec(path):
    """The execute action's arguments: pairs of state letter and path."""
    pairs, starts = [], 0
    if not os.path.exists(path):
        return pairs, starts
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8", "surrogateescape").split("\n")
    i = 0
    while i < len(lines):
        if lines[i] == "--":
            starts += 1
            i += 1
        elif lines[i] in STATE_LETTER and i + 1 < len(lines):
            pairs.append((lines[i], lines[i + 1]))
            i += 2
        else:
            i += 1
    return pairs, starts


def check_path(path, versions, reports, min_life, res, examples):
    """Aligns one path's reports with its versions, in order.

    A report of "added" or "changed" names the version whose size it shows,
    "deleted" the next absent version; the state must be what the monitor,
    knowing the previously reported version, has to say. Versions passed over
    are misses when they lasted at least `min_life` seconds.
    """
    n = len(versions)
    cur = 0

    def life(k):
        return versions[k + 1].t - versions[k].t if k + 1 < n else float("inf")

    def same(a, b):
        # Two states the monitor cannot tell apart: both present, same time.
        return (versions[a].size is not None and versions[b].size is not None and
                versions[a].mtime == versions[b].mtime)

    def skip(a, b, path):
        for k in range(a, b):
            if same(k, k - 1):
                res["unobservable_versions"] += 1
            elif life(k) >= min_life:
                res["missed_versions"] += 1
                if len(examples["missed"]) < 10:
                    examples["missed"].append((path, versions[k].op, versions[k].size,
                                               round(life(k), 3)))
            else:
                res["coalesced_versions"] += 1

    for state, size, _ in reports:
        res["reports_" + state] += 1
        prev_exists = versions[cur].size is not None
        want = ("C" if prev_exists else "A") if state in "AC" else "D"
        found = None
        for j in range(cur + 1, n):
            v = versions[j]
            if state == "D":
                if v.size is None and prev_exists and versions[cur].size == size:
                    found = j
                    break
            elif v.size is not None and v.size == size:
                found = j
                break
        if found is None or state != want:
            res["invented"] += 1
            if len(examples["invented"]) < 10:
                examples["invented"].append((path, state, size, [(v.op, v.size) for v in versions]))
            continue
        skip(cur + 1, found, path)
        cur = found
        res["matched"] += 1
    skip(cur + 1, n, path)
    last = versions[-1]
    if versions[cur].size != last.size and not same(cur, n - 1):
        res["final_state_wrong"] += 1
        if len(examples["final"]) < 10:
            examples["final"].append((path, versions[cur].size, last.size))


def check(root, items, min_life):
    history, ops = read_churn(os.path.join(root, "churn.log"))
    res = collections.Counter()
    examples = {"missed": [], "invented": [], "final": [], "exec": []}
    exec_total = collections.Counter()
    for path, versions in history.items():
        res["versions_made"] += len(versions) - 1
    for item in items:
        lst = os.path.join(root, "lists", item.name + ".lst")
        reports = read_list(lst) if os.path.exists(lst) else []
        by_path = collections.defaultdict(list)
        for r in reports:
            by_path[r[2]].append(r)
        for path, versions in history.items():
            if item.covers(path):
                res["versions_expected"] += len(versions) - 1
                check_path(path, versions, by_path.pop(path, []), min_life, res, examples)
        for path, reps in by_path.items():  # paths this item does not see
            res["invented"] += len(reps)
            examples["invented"].append((item.name, path, reps[:3]))
        pairs, starts = read_exec(os.path.join(root, "exec", item.name, "args.txt"))
        exec_total["starts"] += starts
        exec_total["files"] += len(pairs)
        listed = collections.Counter((s, p) for s, _, p in reports)
        execd = collections.Counter(pairs)
        diff = (listed - execd) + (execd - listed)
        if diff:
            exec_total["mismatch"] += sum(diff.values())
            if len(examples["exec"]) < 10:
                examples["exec"].append((item.name, list(diff.items())[:3]))
    return res, ops, exec_total, examples


# ---------------------------------------------------------------------------
# Figures


def slope(rows):
    """Least-squares slope of resident memory, in kB per minute."""
    if len(rows) < 2:
        return 0.0
    xs = [r[0] / 60 for r in rows]
    ys = [r[1] for r in rows]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den if den else 0.0


def summarize_samples(path, warmup):
    rows = []
    with open(path) as f:
        next(f)
        for line in f:
            rows.append([float(x) for x in line.split(",")])
    if not rows:
        return {}
    after = [r for r in rows if r[0] >= warmup] or rows[-1:]
    w, e = after[0], rows[-1]
    return {
        "samples": len(rows),
        "rss_first_kb": int(rows[0][1]),
        "rss_warm_kb": int(w[1]), "rss_warm_at_s": w[0],
        "rss_end_kb": int(e[1]), "rss_end_at_s": e[0],
        "rss_max_after_warm_kb": int(max(r[1] for r in after)),
        "rss_min_after_warm_kb": int(min(r[1] for r in after)),
        "hwm_end_kb": int(e[2]),
        "fds_warm": int(w[4]), "fds_end": int(e[4]),
        "fds_min_after_warm": int(min(r[4] for r in after)),
        "fds_max_after_warm": int(max(r[4] for r in after)),
        "threads_warm": int(w[5]), "threads_end": int(e[5]),
        "threads_max": int(max(r[5] for r in rows)),
        "zombies_max": int(max(r[6] for r in rows)),
        # Growth over the second half of the run after the warm-up, per
        # minute: what "flat" has to be judged by.
        "rss_kb_per_min_second_half": round(slope(after[len(after) // 2:]), 1),
        "cpu_seconds": e[7],
    }


def report(root, args, extra):
    res, ops, exec_total, examples = check(
        root, make_items(root, args.items, args.overlap), args.min_life)
    figures = {}
    samples = os.path.join(root, "samples.csv")
    if os.path.exists(samples):
        figures = summarize_samples(samples, args.warmup)
    out = {"checker": dict(res), "churn_ops": dict(ops), "exec": dict(exec_total),
           "memory": figures, "run": extra}
    with open(os.path.join(root, "result.json"), "w") as f:
        json.dump({**out, "examples": examples}, f, indent=1, ensure_ascii=False)
    print(json.dumps(out, indent=1))
    for k, v in examples.items():
        for e in v[:5]:
            print("example %s: %r" % (k, e))
    failed = res["missed_versions"] + res["invented"] + res["final_state_wrong"] + \
        exec_total["mismatch"]
    print("RESULT: %s" % ("PASS" if failed == 0 else "FAIL (%d faults)" % failed))
    return 0 if failed == 0 else 1


# ---------------------------------------------------------------------------


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--minutes", type=float, default=30.0, help="churn duration (default 30)")
    p.add_argument("--rate", type=float, default=10.0, help="changes per second (default 10)")
    p.add_argument("--items", type=int, default=100, help="trees, one directory item each")
    p.add_argument("--overlap", type=int, default=10,
                   help="more items over parts of the first trees (default 10)")
    p.add_argument("--files", type=int, default=20, help="files per tree at the start")
    p.add_argument("--gap", type=float, default=2.0,
                   help="seconds between two changes of one path (default 2)")
    p.add_argument("--min-life", type=float, default=1.0,
                   help="a state that lasted this long must be reported (default 1)")
    p.add_argument("--warmup", type=float, default=120.0,
                   help="seconds after which memory must be flat (default 120)")
    p.add_argument("--sample-every", type=float, default=5.0)
    p.add_argument("--settle", type=float, default=10.0,
                   help="seconds to wait after the churn before stopping Sentrel")
    p.add_argument("--build", default=os.path.join(REPO, "build"))
    p.add_argument("--dir", default="/tmp/sentrel-soak", help="work directory (emptied)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--check-only", action="store_true")
    p.add_argument("--wrap", default="",
                   help="command to start Sentrel under, such as 'heaptrack -o /tmp/h' "
                        "(the figures then describe the wrapper)")
    args = p.parse_args()
    root = os.path.abspath(args.dir)

    if args.check_only:
        return report(root, args, {})

    for exe in ("sentrel", "record_args"):
        if not os.access(os.path.join(args.build, exe), os.X_OK):
            sys.exit("missing %s in %s: build first (ninja -C build sentrel record_args)" %
                     (exe, args.build))
    if os.path.exists(root):
        subprocess.run(["rm", "-rf", "--", root], check=True)
    os.makedirs(os.path.join(root, "bin"))
    # Copies, so that a rebuild during a long run changes nothing.
    for exe in ("sentrel", "record_args"):
        subprocess.run(["cp", os.path.join(args.build, exe), os.path.join(root, "bin")], check=True)
    if os.path.isdir(os.path.join(args.build, "Lang")):
        subprocess.run(["cp", "-r", os.path.join(args.build, "Lang"), os.path.join(root, "bin")],
                       check=True)
    sentrel = os.path.join(root, "bin", "sentrel")
    record_args = os.path.join(root, "bin", "record_args")

    churn = Churn(root, args.items, args.files, args.gap, args.seed)
    log = open(os.path.join(root, "churn.log"), "w", encoding="utf-8")
    churn.populate(log)
    conf = os.path.join(root, "soak.mon")
    write_config(conf, root, make_items(root, args.items, args.overlap), record_args)

    env = dict(os.environ, RECORD_ARGS_FILE="args.txt")
    console = open(os.path.join(root, "sentrel.out"), "wb")
    t0 = time.time()
    proc = subprocess.Popen(args.wrap.split() + [sentrel, conf], stdin=subprocess.DEVNULL, stdout=console,
                            stderr=subprocess.STDOUT, env=env, cwd=root,
                            start_new_session=True)
    pid = find_process(proc.pid, sentrel) if args.wrap else proc.pid
    stop = threading.Event()
    sampling = threading.Thread(target=sampler, args=(pid, os.path.join(root, "samples.csv"),
                                                      args.sample_every, stop, t0))
    sampling.start()
    stop_churn = threading.Event()
    signal.signal(signal.SIGINT, lambda *_: stop_churn.set())
    # Every item takes its baseline at once; give a loaded machine time.
    time.sleep(5)
    print("sentrel pid %d; churning %.1f min at %.1f changes/s over %d trees in %s" %
          (pid, args.minutes, args.rate, args.items, root), flush=True)
    late = churn.run(args.minutes * 60, args.rate, stop_churn)
    churn_end = time.time()
    log.close()
    # The last changes need their real-time checks; nothing may wait for the
    # 60-second periodic one.
    time.sleep(args.settle)
    stop.set()
    sampling.join()
    # To Sentrel itself: a wrapper may not pass the signal on, and a
    # profiler's own processes must outlive it to write their findings.
    os.kill(pid, signal.SIGTERM)
    t_term = time.monotonic()
    try:
        code = proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)  # everything it started
        proc.wait()
        code = "killed"
    stop_s = time.monotonic() - t_term
    extra = {"churn_seconds": round(churn_end - t0 - 5, 1), "late_ticks": late,
             "exit_code": code, "exit_seconds": round(stop_s, 3),
             "changes": dict(churn.counts)}
    return report(root, args, extra)


if __name__ == "__main__":
    sys.exit(main())
