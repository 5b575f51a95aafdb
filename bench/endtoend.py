#!/usr/bin/env python3
"""End-to-end measurements of the sentrel binary, as users run it.

Every figure comes from outside: the real executable started on a generated
configuration file, its list action writing to a named pipe that this script
reads (so the moment a list file is closed is known to the microsecond,
without polling), its checks seen as bursts of its CPU use, its CPU time
read from the process's CPU clock and its memory from /proc. Trees are made by this script, a separate process, once,
under $SENTREL_BENCH_DIR/e2e (default /tmp/sentrel-bench/e2e), and reused.

    bench/endtoend.py check     [--sizes 100000 1000000]
    bench/endtoend.py latency   [--targets folder 100000 1000000] [--saves 50]
    bench/endtoend.py memory    [--size 1000000] [--checks 10]
    bench/endtoend.py idle      [--items 1000] [--seconds 20]
    bench/endtoend.py startup   [--sizes 100000 1000000]
    bench/endtoend.py state     [--size 1000000] [--seconds 30] [--every 0.5]
    bench/endtoend.py all

Each command takes --binary PATH (repeatable, default build/sentrel). With
two binaries (an old and a new build) the runs alternate between them round
by round, so that both meet the same load; the best round of each is kept,
since a shared machine only ever adds time. Standard library only.
"""

import argparse
import os
import queue
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH_DIR = os.path.join(os.environ.get("SENTREL_BENCH_DIR") or "/tmp/sentrel-bench", "e2e")


# ---------------------------------------------------------------------------
# Trees


def make_tree(files):
    """About `files` files: 10 top folders, leaf folders of 1000 files.

    A tree of 1000 or fewer files is one flat folder."""
    root = os.path.join(BENCH_DIR, "tree-%d" % files)
    done = root + ".complete"
    if os.path.exists(done):
        return root
    shutil.rmtree(root, ignore_errors=True)
    if files <= 1000:
        os.makedirs(root)
        for f in range(files):
            with open(os.path.join(root, "file-%d.dat" % f), "w") as out:
                out.write(str(f))
    else:
        for d in range(max(1, files // 1000)):
            folder = os.path.join(root, "top%d" % (d % 10), "dir%d" % (d // 10))
            os.makedirs(folder)
            for f in range(1000):
                with open(os.path.join(folder, "file-%d.dat" % f), "w") as out:
                    out.write(str(f))
    with open(done, "w") as out:
        out.write("ok\n")
    return root


def count_files(root):
    n = 0
    for _, _, names in os.walk(root):
        n += len(names)
    return n


def leaf_folder(root):
    """Where saves go: a folder of 1000 files."""
    deep = os.path.join(root, "top0", "dir0")
    return deep if os.path.isdir(deep) else root


def warm(root):
    subprocess.run(["find", root, "-printf", "%T@ %s %p\\n"], stdout=subprocess.DEVNULL, check=True)


# ---------------------------------------------------------------------------
# A running sentrel


def cpu_seconds(pid):
    """CPU time of the whole process (every thread), to the nanosecond."""
    try:
        return time.clock_gettime(((~pid) << 3) | 2)
    except OSError:
        return float("nan")


def memory_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


class ListPipe(threading.Thread):
    """Reads every list file the action writes into a named pipe. Each close
    of the list gives one (monotonic time, lines, process CPU) record."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.pid = None
        self.records = queue.Queue()
        self.stopping = False
        os.mkfifo(path)

    def run(self):
        while not self.stopping:
            fd = os.open(self.path, os.O_RDONLY)  # waits for the writer
            chunks = []
            while True:
                chunk = os.read(fd, 1 << 16)
                if not chunk:
                    break
                chunks.append(chunk)
            now = time.monotonic()
            os.close(fd)
            cpu = cpu_seconds(self.pid) if self.pid else float("nan")
            if not self.stopping:
                lines = b"".join(chunks).decode("utf-8", "replace").splitlines()
                self.records.put((now, lines, cpu))

    def next(self, timeout):
        return self.records.get(timeout=timeout)

    def stop(self):
        self.stopping = True
        try:
            fd = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
            os.close(fd)
        except OSError:
            pass


class Sentrel:
    """One sentrel process on a configuration of the given blocks."""

    def __init__(self, binary, blocks, workdir, with_pipe=True, env_extra=None):
        self.workdir = workdir
        os.makedirs(os.path.join(workdir, "config"), exist_ok=True)
        self.pipe = ListPipe(os.path.join(workdir, "list.pipe")) if with_pipe else None
        text = []
        for block in blocks:
            text.extend(block)
            text.append("EOF")
        self.config = os.path.join(workdir, "bench.mon")
        with open(self.config, "w") as f:
            f.write("\n".join(text) + "\n")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(workdir, "config"))
        env.update(env_extra or {})
        if self.pipe:
            self.pipe.start()
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary, self.config], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, env=env)
        if self.pipe:
            self.pipe.pid = self.proc.pid

    @property
    def pid(self):
        return self.proc.pid

    def cpu(self):
        return cpu_seconds(self.proc.pid)

    def settle(self, quiet=0.5, limit=600.0, step=0.02):
        """Waits until the process has used next to no CPU (under a twentieth
        of a core) for `quiet` seconds; returns the moment it last used more
        (monotonic) and its CPU time then."""
        prev = self.cpu()
        last_busy, busy_cpu = time.monotonic(), prev
        deadline = last_busy + limit
        while time.monotonic() < deadline:
            time.sleep(step)
            now, cpu = time.monotonic(), self.cpu()
            if cpu - prev > step / 20:
                last_busy, busy_cpu = now, cpu
            elif now - last_busy >= quiet:
                break
            prev = cpu
        return last_busy, busy_cpu

    def bursts(self, count, gap=0.3, step=0.002, limit=1200.0, least=0.003):
        """The next `count` bursts of CPU use, each as (wall, CPU) seconds;
        a burst ends when the process has used no CPU for `gap` seconds.
        Bursts of less than `least` seconds of CPU are not counted: a build
        whose items wake every tenth of a second would pass them for checks."""
        found = []
        deadline = time.monotonic() + limit
        start = None
        last_cpu = self.cpu()
        first_cpu = last_busy = None
        while len(found) < count and time.monotonic() < deadline:
            time.sleep(step)
            now, cpu = time.monotonic(), self.cpu()
            if cpu - last_cpu > 0.0002:
                if start is None:
                    start, first_cpu = now - step, last_cpu
                last_busy = now
            elif start is not None and now - last_busy >= gap:
                if last_cpu - first_cpu >= least:
                    found.append((last_busy - start, last_cpu - first_cpu))
                start = None
            last_cpu = cpu
        return found

    def stop(self):
        """Stops it as a service manager does; the seconds from the signal to
        the end of the process."""
        t0 = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        took = time.monotonic() - t0
        if self.pipe:
            self.pipe.stop()
        return took


def dir_item(root, subdir=True, interval=1, real_time=False, inverse=False, store=False,
             list_to=None, list_params="%File"):
    block = [
        "IsDirectory=1",
        "FileName=" + root,
        "Subdir=%d" % subdir,
        "Interval=%d" % interval,
        "RealTime=%d" % real_time,
        "Inverse=%d" % inverse,
        "StorePrevInfo=%d" % store,
    ]
    if list_to:
        block += ["Action=0", "ListName=" + list_to, "ListParams=" + list_params]
    return block


def pct(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(len(s) * p / 100))]


def label(binary):
    return os.path.relpath(binary, REPO) if binary.startswith(REPO) else binary


def run_dir():
    return tempfile.mkdtemp(prefix="run-", dir=BENCH_DIR)


def load_note():
    with open("/proc/loadavg") as f:
        return "load average " + " ".join(f.read().split()[:3])


# ---------------------------------------------------------------------------
# Full check vs find


def find_once(root):
    before = os.times()
    t0 = time.monotonic()
    subprocess.run(["find", root, "-printf", "%T@ %s %p\\n"], stdout=subprocess.DEVNULL, check=True)
    wall = time.monotonic() - t0
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
    return wall, cpu


def check_once(binary, root, checks=4):
    """Checks with no change at a 1 s interval, timed as bursts of the
    process's CPU: a check's wall time runs from the first to the last
    moment it used CPU, its CPU time is what it used meanwhile. The first
    burst (start-up and the baseline walk) is left out."""
    work = run_dir()
    s = Sentrel(binary, [dir_item(root, interval=1)], work, with_pipe=False)
    try:
        found = s.bursts(checks + 1)[1:]
        # A check cut in two by a long wait for the processor (a loaded
        # machine) would pass for a short one.
        most = max(c for _, c in found)
        found = [(w, c) for w, c in found if c >= most * 0.6]
        return min(w for w, _ in found), min(c for _, c in found)
    finally:
        s.stop()
        shutil.rmtree(work, ignore_errors=True)


def cmd_check(args):
    for size in args.sizes:
        root = make_tree(size)
        warm(root)
        best = {}
        for rnd in range(args.rounds):
            fw, fc = min(find_once(root) for _ in range(2))
            best.setdefault("find", []).append((fw, fc))
            for b in args.binary:
                best.setdefault(b, []).append(check_once(b, root))
            print("  round %d done (%s)" % (rnd + 1, load_note()), file=sys.stderr)
        fw = min(w for w, _ in best["find"])
        fc = min(c for _, c in best["find"])
        print("check, %d files: find -printf %.0f ms wall, %.0f ms CPU" % (size, fw * 1000, fc * 1000))
        for b in args.binary:
            cw = min(w for w, _ in best[b])
            cc = min(c for _, c in best[b])
            print("  %-32s check %.0f ms wall (%.2fx find), %.0f ms CPU (%.2fx find)"
                  % (label(b), cw * 1000, cw / fw, cc * 1000, cc / fc))


# ---------------------------------------------------------------------------
# Real-time latency and CPU per save


def latency_once(binary, target, saves, gap):
    root = make_tree(1000 if target == "folder" else int(target))
    warm(root)
    folder = leaf_folder(root)
    work = run_dir()
    tag = "save-%d-" % os.getpid()
    s = Sentrel(binary, [dir_item(root, subdir=target != "folder", interval=3600, real_time=True,
                                  list_to=os.path.join(work, "list.pipe"),
                                  list_params='%Added="added "%Changed="changed "%Deleted="deleted "%File')],
                work)
    lat, cpu, doubled, not_added, lost = [], [], 0, 0, 0
    try:
        s.settle(quiet=1.0)  # the baseline walk
        for i in range(saves):
            name = os.path.join(folder, "%s%d.txt" % (tag, i))
            c0 = s.cpu()
            t0 = time.monotonic()
            with open(name, "w") as f:
                f.write("saved %d\n" % i)
            mentions = []
            first = None
            deadline = t0 + 60
            while time.monotonic() < deadline:
                try:
                    t, lines, _ = s.pipe.next(max(0.01, (first + gap if first else deadline) - time.monotonic()))
                except queue.Empty:
                    if first is not None:
                        break
                    continue
                hits = [l for l in lines if l.endswith(name)]
                if hits and first is None:
                    first = t
                mentions += hits
            _, c1 = s.settle(quiet=0.3)
            if first is None:
                lost += 1
                continue
            lat.append(first - t0)
            cpu.append(c1 - c0)
            if len(mentions) > 1:
                doubled += 1
            if any(not m.startswith("added ") for m in mentions):
                not_added += 1
    finally:
        s.stop()
        shutil.rmtree(work, ignore_errors=True)
        for n in os.listdir(folder):
            if n.startswith(tag):
                os.unlink(os.path.join(folder, n))
    return lat, cpu, doubled, not_added, lost


def cmd_latency(args):
    for target in args.targets:
        print("real-time, %s:" % ("a folder of 1000 files" if target == "folder" else "%s-file tree" % target))
        for b in args.binary:
            saves = args.saves
            if args.old_saves and b != args.binary[-1]:
                saves = args.old_saves
            lat, cpu, doubled, not_added, lost = latency_once(b, target, saves, args.gap)
            if not lat:
                print("  %-32s no save was reported" % label(b))
                continue
            print("  %-32s save -> list closed p50 %.1f ms, p95 %.1f ms; CPU per save p50 %.1f ms, "
                  "p95 %.1f ms, mean %.1f ms; %d saves: %d reported twice, %d not as added, %d lost (%s)"
                  % (label(b), pct(lat, 50) * 1000, pct(lat, 95) * 1000, pct(cpu, 50) * 1000,
                     pct(cpu, 95) * 1000, statistics.mean(cpu) * 1000, len(lat) + lost, doubled,
                     not_added, lost, load_note()))


# ---------------------------------------------------------------------------
# Memory per file


def memory_once(binary, root, files, checks, store):
    """Resident memory after `checks` checks that compared the tree, less
    that of the same configuration on an empty folder, and the peak."""
    empty = os.path.join(BENCH_DIR, "empty")
    os.makedirs(empty, exist_ok=True)
    result = []
    for tree in (empty, root):
        work = run_dir()
        s = Sentrel(binary, [dir_item(tree, interval=1, store=store)], work, with_pipe=False)
        try:
            if tree is root:
                s.bursts(checks + 1)
            else:
                time.sleep(checks + 1)
            result.append((memory_kib(s.pid, "VmRSS") * 1024, memory_kib(s.pid, "VmHWM") * 1024))
        finally:
            s.stop()
            shutil.rmtree(work, ignore_errors=True)
    (base, _), (rss, hwm) = result
    return (rss - base) / files, (hwm - base) / files


def cmd_memory(args):
    root = make_tree(args.size)
    files = count_files(root)
    warm(root)
    for store in (0, 1):
        print("memory, %d files, StorePrevInfo=%d, after %d checks:" % (files, store, args.checks))
        for b in args.binary:
            steady, peak = memory_once(b, root, files, args.checks, store)
            print("  %-32s %.1f bytes/file resident, peak %.1f bytes/file" % (label(b), steady, peak))


# ---------------------------------------------------------------------------
# Idle items


def cmd_idle(args):
    base = os.path.join(BENCH_DIR, "idle-%d" % args.items)
    if not os.path.exists(base + ".complete"):
        shutil.rmtree(base, ignore_errors=True)
        for i in range(args.items):
            os.makedirs(os.path.join(base, "item%d" % i))
            with open(os.path.join(base, "item%d" % i, "a.txt"), "w") as f:
                f.write("a")
        open(base + ".complete", "w").close()
    for real_time in (False, True):
        print("%d idle directory items, Interval=3600, RealTime=%d:" % (args.items, real_time))
        for b in args.binary:
            work = run_dir()
            blocks = [dir_item(os.path.join(base, "item%d" % i), subdir=False, interval=3600,
                               real_time=real_time) for i in range(args.items)]
            s = Sentrel(b, blocks, work, with_pipe=False)
            try:
                time.sleep(3)
                s.settle(quiet=1.0, limit=60)
                c0, t0 = s.cpu(), time.monotonic()
                time.sleep(args.seconds)
                c1, t1 = s.cpu(), time.monotonic()
                print("  %-32s %.2f%% of a core (%s)" % (label(b), 100 * (c1 - c0) / (t1 - t0), load_note()))
            finally:
                s.stop()
                shutil.rmtree(work, ignore_errors=True)


# ---------------------------------------------------------------------------
# Start-up with and without real time


def startup_once(binary, root, real_time):
    """Wall and CPU time from the start to the end of the first walk (the
    moment the process stops using CPU)."""
    work = run_dir()
    s = Sentrel(binary, [dir_item(root, interval=3600, real_time=real_time)], work, with_pipe=False)
    try:
        busy_until, cpu = s.settle(quiet=1.0, step=0.01)
        return busy_until - s.started, cpu
    finally:
        s.stop()
        shutil.rmtree(work, ignore_errors=True)


def cmd_startup(args):
    for size in args.sizes:
        root = make_tree(size)
        warm(root)
        best = {}
        for rnd in range(args.rounds):
            for b in args.binary:
                for rt in (False, True):
                    w, c = startup_once(b, root, rt)
                    key = (b, rt)
                    old = best.get(key, (1e9, 1e9))
                    best[key] = (min(old[0], w), min(old[1], c))
            print("  round %d done (%s)" % (rnd + 1, load_note()), file=sys.stderr)
        print("start-up to the end of the first walk, %d files:" % size)
        for b in args.binary:
            (w0, c0), (w1, c1) = best[(b, False)], best[(b, True)]
            print("  %-32s without RealTime %.2f s (CPU %.2f s), with %.2f s (CPU %.2f s): %.2fx wall, %.2fx CPU"
                  % (label(b), w0, c0, w1, c1, w1 / w0, c1 / c0))


# ---------------------------------------------------------------------------
# State across restarts


def state_once(binary, root, store, save, work, fresh):
    """One run of a real-time item with "SaveState" on or off: the wall and
    CPU time from the start to the end of its first check, then two saves of
    a file 1 s apart (the second one's state is still unsaved, as saves are 5 s
    apart), and the stop: the seconds from SIGTERM to the end of the process
    (which writes that state), the memory between checks and its peak."""
    state_dir = os.path.join(work, "state")
    if fresh:
        shutil.rmtree(state_dir, ignore_errors=True)
    block = dir_item(root, interval=3600, real_time=True, store=store) + ["SaveState=%d" % save]
    s = Sentrel(binary, [block], work, with_pipe=False, env_extra={"XDG_STATE_HOME": state_dir})
    try:
        busy_until, cpu = s.settle(quiet=1.0, step=0.01)
        first = busy_until - s.started
        target = os.path.join(leaf_folder(root), "state-bench.dat")
        for n in range(2):
            with open(target, "w") as f:
                f.write(str(n))
            time.sleep(1.0)
        s.settle(quiet=0.5)
        rss, peak = memory_kib(s.pid, "VmRSS"), memory_kib(s.pid, "VmHWM")
    finally:
        stop = s.stop()
    return first, cpu, stop, rss, peak


def written_bytes(pid):
    """Bytes the process has handed to write calls so far (/proc/PID/io)."""
    with open("/proc/%d/io" % pid) as f:
        for line in f:
            if line.startswith("wchar:"):
                return int(line.split()[1])
    return 0


def state_writes(binary, root, store, save, seconds, every):
    """A real-time item whose list action names each change, with
    "SaveState" on or off: the bytes written for one changed file (the
    save after the first), then over `seconds` of a log appended every
    `every` seconds the bytes written, the CPU used and the time from each
    append to the list that names it."""
    work = run_dir()
    state_dir = os.path.join(work, "state")
    block = dir_item(root, interval=3600, real_time=True, store=store,
                     list_to=os.path.join(work, "list.pipe")) + ["SaveState=%d" % save]
    s = Sentrel(binary, [block], work, env_extra={"XDG_STATE_HOME": state_dir})
    folder = leaf_folder(root)
    log = os.path.join(folder, "state-bench-%d.log" % os.getpid())
    one = os.path.join(folder, "file-1.dat")
    lat = []
    try:
        s.settle(quiet=1.0)
        time.sleep(6)  # the baseline's save, and the next one's wait
        w0 = written_bytes(s.pid)
        with open(one, "a") as f:
            f.write("x")
        s.pipe.next(60)
        time.sleep(6)  # saves are 5 s apart
        s.settle(quiet=0.5)
        per_save = written_bytes(s.pid) - w0
        w0, c0 = written_bytes(s.pid), s.cpu()
        end = time.monotonic() + seconds
        n = 0
        while time.monotonic() < end:
            t0 = time.monotonic()
            with open(log, "a") as f:
                f.write("line %d\n" % n)
            n += 1
            deadline = t0 + 10
            while time.monotonic() < deadline:
                try:
                    t, lines, _ = s.pipe.next(max(0.01, deadline - time.monotonic()))
                except queue.Empty:
                    break
                if any(l.endswith(log) for l in lines):
                    lat.append(t - t0)
                    break
            time.sleep(max(0.0, t0 + every - time.monotonic()))
        time.sleep(6)  # the last save
        s.settle(quiet=0.5)
        total, cpu = written_bytes(s.pid) - w0, s.cpu() - c0
    finally:
        s.stop()
        for path in (log,):
            if os.path.exists(path):
                os.unlink(path)
        shutil.rmtree(work, ignore_errors=True)
    return per_save, total, cpu, lat


def cmd_state(args):
    root = make_tree(args.size)
    warm(root)
    for store in (0, 1):
        print("SaveState writes, %d files, StorePrevInfo=%d, a log appended every %.1f s for %d s:"
              % (args.size, store, args.every, args.seconds))
        for b in args.binary:
            for save in (0, 1):
                per_save, total, cpu, lat = state_writes(b, root, store, save, args.seconds, args.every)
                print("  %-32s SaveState=%d: one changed file %.1f KB written; the run %.2f MB written,"
                      " CPU %.2f s; append -> list p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d of %d)"
                      % (label(b), save, per_save / 1024, total / 1e6, cpu, pct(lat, 50) * 1000,
                         pct(lat, 99) * 1000, max(lat) * 1000, len(lat),
                         int(args.seconds / args.every)))
            sys.stdout.flush()
    cmd_state_restart(args)


def cmd_state_restart(args):
    root = make_tree(args.size)
    warm(root)
    for b in args.binary:
        for store in (0, 1):
            work = run_dir()
            best = {}
            try:
                for rnd in range(args.rounds):
                    runs = {"off": state_once(b, root, store, 0, work, True),
                            "first": state_once(b, root, store, 1, work, True),
                            "load": state_once(b, root, store, 1, work, False)}
                    for k, v in runs.items():
                        old = best.get(k)
                        best[k] = v if old is None else tuple(min(x, y) for x, y in zip(old, v))
                    print("  round %d done (%s)" % (rnd + 1, load_note()), file=sys.stderr)
                size = sum(os.path.getsize(os.path.join(work, "state", "sentrel", n))
                           for n in os.listdir(os.path.join(work, "state", "sentrel")))
            finally:
                shutil.rmtree(work, ignore_errors=True)
            off, first, load = best["off"], best["first"], best["load"]
            print("SaveState, %d files, StorePrevInfo=%d, %s (state file %.1f MB):"
                  % (args.size, store, label(b), size / 1e6))
            print("  first check: baseline %.2f s (CPU %.2f s); from a saved state %.2f s (CPU %.2f s), %.2fx"
                  % (off[0], off[1], load[0], load[1], load[0] / off[0]))
            print("  stop with a change not yet saved: %.3f s without SaveState, %.3f s with (the save)"
                  % (off[2], load[2]))
            print("  memory between checks: %.1f MB without SaveState, %.1f MB with (after the first save),"
                  " %.1f MB (from a saved state)" % (off[3] / 1024, first[3] / 1024, load[3] / 1024))
            print("  peak: %.1f MB baseline, %.1f MB baseline and first save, %.1f MB first check from a"
                  " saved state (it compares with a whole snapshot, as every later full check does)"
                  % (off[4] / 1024, first[4] / 1024, load[4] / 1024))


# ---------------------------------------------------------------------------


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("command", choices=["check", "latency", "memory", "idle", "startup", "state", "all"])
    p.add_argument("--binary", action="append", help="sentrel executable (repeatable: old first, new last)")
    p.add_argument("--sizes", type=int, nargs="+", default=[100000, 1000000])
    p.add_argument("--size", type=int, default=1000000)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--targets", nargs="+", default=["folder", "100000", "1000000"])
    p.add_argument("--saves", type=int, default=50)
    p.add_argument("--old-saves", type=int, default=0,
                   help="saves for every binary but the last (an old build can take seconds a save)")
    p.add_argument("--gap", type=float, default=0.5, help="seconds to wait for a second report of a save")
    p.add_argument("--checks", type=int, default=10)
    p.add_argument("--items", type=int, default=1000)
    p.add_argument("--seconds", type=float, default=20)
    p.add_argument("--every", type=float, default=0.5, help="seconds between appends (state)")
    args = p.parse_args()
    args.binary = [os.path.abspath(b) for b in (args.binary or [os.path.join(REPO, "build", "sentrel")])]
    os.makedirs(BENCH_DIR, exist_ok=True)
    print("# %s, %d cores, %s" % (time.strftime("%Y-%m-%d %H:%M"), os.cpu_count(), load_note()))
    commands = {"check": cmd_check, "latency": cmd_latency, "memory": cmd_memory, "idle": cmd_idle,
                "startup": cmd_startup, "state": cmd_state}
    for name in (commands if args.command == "all" else [args.command]):
        commands[name](args)
        sys.stdout.flush()


if __name__ == "__main__":
    main()
