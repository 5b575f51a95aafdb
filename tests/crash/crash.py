#!/usr/bin/env python3
"""Saved state under SIGKILL: every report judged against what was done.

A real-time directory item with SaveState=1 records each report (one
program per file, waited for) in a log. Round after round the script
changes the tree, starts Sentrel, changes the tree again while it runs,
and kills it: at a random moment, or (through strace) at the state's own
system calls (fdatasync, rename, pwrite64, ftruncate) or at a random
write. Between rounds it changes the tree while Sentrel is stopped. At
the end one run is left to settle and stopped in order. Then:

  lost      a file whose last change (or deletion) no later report tells of,
            or whose fate Sentrel ends up wrong about
  invented  a report of something that did not happen: added while Sentrel
            believed it there, deleted or changed while it believed it gone,
            or for a path never touched
  doubled   the same report again with nothing done to the file between,
            and no kill between (after a kill that came between a check's
            actions and its save a repeat is expected; counted apart)

    tests/crash/crash.py --rounds 110
    tests/crash/crash.py --rounds 10 --files 500     # a short one

Not part of CI: it runs for as long as it is told to.
"""

import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SYSCALLS = ["fdatasync", "rename", "pwrite64", "ftruncate", "write"]


class World:
    def __init__(self, root, files, seed):
        self.root = root
        self.rng = random.Random(seed)
        self.ops = []  # (time, path, "A"/"C"/"D", last-write time after it)
        self.names = ["d%d/f%d.txt" % (n % 20, n) for n in range(files * 2)]
        for d in range(20):
            os.makedirs(os.path.join(root, "d%d" % d), exist_ok=True)
        for name in self.names[:files]:
            with open(os.path.join(root, name), "w") as f:
                f.write("0")

    def exists(self, name):
        return os.path.exists(os.path.join(self.root, name))

    def act(self, count):
        for _ in range(count):
            name = self.rng.choice(self.names)
            path = os.path.join(self.root, name)
            # Taken before the change: a report may come before this
            # process gets the processor back.
            began = time.time()
            if not os.path.exists(path):
                with open(path, "w") as f:
                    f.write("new")
                kind = "A"
            elif self.rng.random() < 0.5:
                with open(path, "a") as f:
                    f.write("x")
                kind = "C"
            else:
                os.unlink(path)
                kind = "D"
            # Two writes within one tick of the file system's clock leave
            # one last-write time: the second is not a change anyone can see.
            mtime = os.stat(path).st_mtime_ns if kind != "D" else None
            self.ops.append((began, path, kind, mtime))


def config(work, root):
    recorder = os.path.join(work, "record.sh")
    log = os.path.join(work, "reports.log")
    with open(recorder, "w") as f:
        f.write('printf "%%s %%s %%s\\n" "$(date +%%s.%%N)" "$1" "$2" >> %s\n' % log)
    path = os.path.join(work, "crash.mon")
    with open(path, "w") as f:
        f.write("\n".join([
            "IsDirectory=1", "FileName=" + root + "/", "Subdir=1", "Interval=2", "RealTime=1",
            "StorePrevInfo=1", "Conditions=1110", "SaveState=1",
            "Action=1", "Command=sh", 'Params=%s %%Added="A"%%Changed="C"%%Deleted="D" %%File' % recorder,
            "MultiArgs=0", "Wait=1", "EOF", ""]))
    return path, log


def reports(log):
    out = []
    if os.path.exists(log):
        with open(log) as f:
            for line in f:
                parts = line.rstrip("\n").split(" ", 2)
                if len(parts) == 3:
                    out.append((float(parts[0]), parts[2], parts[1]))
    return out


def quiet(log, seconds, limit=120):
    """Waits until the report log has not grown for `seconds`."""
    last, size, end = time.time(), -1, time.time() + limit
    while time.time() < end:
        now = os.path.getsize(log) if os.path.exists(log) else 0
        if now != size:
            size, last = now, time.time()
        elif time.time() - last >= seconds:
            return
        time.sleep(0.1)


def judge(world, log, kills, initial):
    believed = set(initial)
    touched = {}
    for t, path, kind, mtime in world.ops:
        history = touched.setdefault(path, [])
        if kind == "C" and history and history[-1][2] == mtime:
            continue
        history.append((t, kind, mtime))
    last_report = {}
    lost = invented = doubled = repeated = unsaved = 0
    events = sorted([(t, 1, p, k) for t, p, k in reports(log)] + [(t, 0, p, k) for t, p, k, _ in world.ops])
    since = {}  # path -> an op happened since its last report
    kill_times = sorted(kills)
    for t, is_report, path, kind in events:
        if not is_report:
            since[path] = True
            continue
        prev = last_report.get(path)
        wrong = (kind == "A" and path in believed) or (kind in "CD" and path not in believed)
        if path not in touched:
            wrong = True
        again = prev and prev[1] == kind and not since.get(path)
        if again or wrong:
            # A kill between the actions of a check and its save: that
            # check's reports come again, from the last state saved.
            if any((prev[0] if prev else 0) < k < t for k in kill_times):
                repeated += 1
            elif again:
                doubled += 1
            else:
                invented += 1
        if kind == "D":
            believed.discard(path)
        else:
            believed.add(path)
        last_report[path] = (t, kind)
        since[path] = False
    for path, history in touched.items():
        exists = os.path.exists(path)
        last_op = history[-1][0]
        seen = last_report.get(path)
        if (path in believed) != exists:
            # Saves are up to 5 s apart: a kill that soon after the report
            # restarts from a state without it, and what happened to the file
            # while Sentrel was down is judged against that older state.
            if seen is not None and any(seen[0] < k < seen[0] + 6 for k in kill_times):
                unsaved += 1
                continue
            lost += 1
            print("lost: %s, done %s, reported %s, there %s" % (path, history, seen, exists),
                  file=sys.stderr)
        elif seen is None or seen[0] < last_op:
            # Changed and changed back to what Sentrel knew (created and
            # deleted between two checks) needs no report.
            if not (not exists and path not in initial and seen is None) and \
               not (not exists and seen is not None and seen[1] == "D"):
                lost += 1
                print("lost: %s, done %s, reported %s" % (path, history, seen), file=sys.stderr)
    return len(reports(log)), lost, invented, doubled, repeated, unsaved


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--binary", default=os.path.join(REPO, "build", "sentrel"))
    p.add_argument("--rounds", type=int, default=110)
    p.add_argument("--files", type=int, default=2000)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--keep", action="store_true", help="keep the work folder")
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="sentrel-crash-")
    root = os.path.join(work, "tree")
    world = World(root, args.files, args.seed)
    initial = {os.path.join(root, n) for n in world.names if world.exists(n)}
    conf, log = config(work, root)
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"),
               XDG_CONFIG_HOME=os.path.join(work, "config"))
    rng = world.rng
    kills, injected, at_random = [], 0, 0

    def start(argv):
        return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env)

    # The baseline, saved in order.
    first = start([args.binary, conf])
    time.sleep(3)
    first.send_signal(signal.SIGTERM)
    first.wait(60)
    errors = []
    for rnd in range(args.rounds):
        world.act(rng.randint(0, 20))  # while stopped
        argv = [args.binary, conf]
        how = "random"
        if rng.random() < 0.5 and shutil.which("strace"):
            call = rng.choice(SYSCALLS)
            when = rng.randint(1, 3) if call != "write" else rng.randint(1, 200)
            argv = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                    "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, when)] + argv
            how = call
        proc = start(argv)
        # Under strace the program is slower to reach its saves.
        end = time.time() + (rng.uniform(0.5, 6.0) if how == "random" else rng.uniform(3.0, 15.0))
        while time.time() < end and proc.poll() is None:
            world.act(rng.randint(0, 3))
            time.sleep(rng.uniform(0.05, 0.5))
        if proc.poll() is None:
            # Under strace the program is strace's child: it is the one
            # killed, and strace then ends by itself.
            target = proc.pid
            if how != "random":
                kids = subprocess.run(["pgrep", "-P", str(proc.pid)], capture_output=True,
                                      text=True).stdout.split()
                target = int(kids[0]) if kids else proc.pid
            os.kill(target, signal.SIGKILL)
            at_random += 1
            how += "" if how == "random" else ", not reached"
        else:
            injected += 1
        proc.wait()
        kills.append(time.time())
        err = proc.stderr.read().decode("utf-8", "replace")
        if err.strip():
            errors.append(err.strip())
        quiet(log, 0.5, limit=10)  # programs started before the kill end
        print("  round %d: killed at %s" % (rnd + 1, how), file=sys.stderr)
    last = start([args.binary, conf])
    time.sleep(3)
    quiet(log, 5)
    last.send_signal(signal.SIGTERM)
    last.wait(60)
    total, lost, invented, doubled, repeated, unsaved = judge(world, log, kills, initial)
    print("%d rounds (%d killed at random moments, %d at the state's system calls or a write), "
          "%d changes made, %d reports judged: %d lost, %d invented, %d doubled; %d repeated "
          "after a kill between actions and save; %d files whose fate after such a kill went "
          "unreported; %d runs said something on stderr"
          % (args.rounds, at_random, injected, len(world.ops), total, lost, invented, doubled,
             repeated, unsaved, len(errors)))
    for e in errors[:5]:
        print("  stderr: " + e)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("work folder: " + work)
    return 1 if lost or invented or doubled else 0


if __name__ == "__main__":
    sys.exit(main())
