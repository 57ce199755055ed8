"""Processes killed with SIGKILL while they write jedi's cache, and crowds of processes on one cache
folder. Two trials, on real standard-library requests with the budget off:

  kills  a process asks the requests below over and over on a shared jedi cache (part of which is
         removed before each round, so it writes parso's pickles and item store entries) and is
         killed 5-2000 ms after its bridge is made; then the cache folder is searched for bad files
         and a new process asks every request once with it.
  crowd  CROWD processes on one cache folder for CROWD_SECONDS, most of them killed at random and
         started again, while pickles are removed under them now and then, so that they write,
         and read what the others are writing.

Every answer must be what a process with a fresh cache folder answers, and none an error. jedi's own
variation (its set order) is settled by repeats: a different answer is asked again, and compared
with the answers of several fresh processes, before it counts. At the end no bad file may be left:
a parso pickle that does not load, a temporary file of a writer that is gone, or an item store
file that does not parse.

    python tools/kill_rounds.py [--kills 60] [--crowd 6] [--crowd-seconds 60] [--seed N] [--devhost DIR]

Prints a summary per trial; exits 1 if any answer was an error, differed, or a bad file was left.
"""
import argparse
import glob
import json
import os
import pickle
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULE = "corvane_master.python_server.lsp_bridge"

REQUESTS = [
    ("get_completions", ("import os\nos.pa", 2, 5)),
    ("get_completions", ("import json\njson.du", 2, 7)),
    ("get_completions", ("import collections\ncollections.", 2, 12)),
    ("get_completions", ("import asyncio\nasyncio.ga", 2, 10)),
    ("get_completions", ("import re\nre.com", 2, 6)),
    ("get_hover", ("import subprocess\nsubprocess.run", 2, 13)),
    ("get_hover", ("import pathlib\npathlib.Path", 2, 10)),
    ("get_signature_help", ("import json\njson.dumps(", 2, 11)),
    ("get_signature_help", ("import datetime\ndatetime.datetime(", 2, 18)),
    ("get_signature_help", ("import logging\nlogging.getLogger(", 2, 18)),
    ("get_hover", ("import typing\ntyping.Optional", 2, 10)),
    ("get_diagnostics", ("import os\nx = y\n",)),
]

# The child: a host in a few lines. "once" asks every request and prints the answers; "loop" asks
# them in a random order until it is killed (or its time is up), one line per answer; with a
# reference it asks a different answer again, up to 4 times, before it prints it.
CHILD = """
import json, random, sys, threading, time
from {module} import LSPBridge
requests = json.loads(sys.argv[2])
b = LSPBridge()
print("READY", flush=True)
ask = lambda i: getattr(b, requests[i][0])(*requests[i][1])
mode = sys.argv[1]
if mode == "once":
    print("ANSWERS" + json.dumps([ask(i) for i in range(len(requests))], default=repr), flush=True)
    sys.exit(0)
rng, until = random.Random(int(sys.argv[3])), time.monotonic() + float(sys.argv[4])
reference = json.loads(open(sys.argv[5]).read()) if len(sys.argv) > 5 else None
while time.monotonic() < until:
    order = list(range(len(requests)))
    rng.shuffle(order)
    for i in order:
        answer = json.loads(json.dumps(ask(i), default=repr))
        for _ in range(4 if reference and answer.get("error") is None else 0):
            if answer in reference[i]:
                break
            answer = json.loads(json.dumps(ask(i), default=repr))
        print("A", i, json.dumps(answer), flush=True)
"""


def child_env(devhost, cache):
    return dict(os.environ, PYTHONPATH=devhost, XDG_CACHE_HOME=cache, LSP_BRIDGE_REQUEST_BUDGET="0")


def start_child(devhost, cache, *args):
    return subprocess.Popen([sys.executable, "-c", CHILD.format(module=MODULE), args[0], json.dumps(REQUESTS)]
                            + [str(a) for a in args[1:]], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=child_env(devhost, cache), cwd=ROOT)


def answers_once(devhost, cache):
    """Every request asked once by a new process with `cache`; None entries where it failed."""
    child = start_child(devhost, cache, "once")
    out, err = child.communicate(timeout=600)
    lines = [line for line in out.splitlines() if line.startswith("ANSWERS")]
    if not lines:
        return [{"error": f"process failed ({child.returncode}): {err[-800:]}"}] * len(REQUESTS)
    return json.loads(lines[0][len("ANSWERS"):])


class Reference:
    """What processes with a fresh cache folder answer: every answer seen, per request."""

    def __init__(self, devhost, work):
        self.devhost, self.work, self.runs = devhost, work, 0
        self.seen = [[] for _ in REQUESTS]
        for _ in range(2):
            self.add_run()

    def add_run(self):
        cache = os.path.join(self.work, f"fresh{self.runs}")
        self.runs += 1
        for i, answer in enumerate(answers_once(self.devhost, cache)):
            assert answer.get("error") is None, f"a fresh process failed {REQUESTS[i]}: {answer}"
            if answer not in self.seen[i]:
                self.seen[i].append(answer)
        shutil.rmtree(cache, ignore_errors=True)

    def save(self, path):
        with open(path, "w") as f:
            json.dump(self.seen, f)

    def settle(self, differing, tries=3):
        """The answers (index, answer) that no fresh process gave in `tries` more runs."""
        for _ in range(tries):
            if not differing:
                break
            self.add_run()
            differing = [(i, a) for i, a in differing if a not in self.seen[i]]
        return differing


def parso_folder(cache):
    return glob.glob(os.path.join(cache, "jedi", "CPython-*"))


def bad_files(cache, writers_gone=True):
    """The bad files under `cache`: parso pickles that do not load, item store files that do not
    parse, and (when no writer is running) temporary files left over by either."""
    bad = []
    for folder in parso_folder(cache):
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if name.endswith(".pkl"):
                try:
                    with open(path, "rb") as f:
                        pickle.load(f)
                except FileNotFoundError:
                    pass  # removed meanwhile
                except Exception as e:
                    bad.append(f"pickle {name}: {type(e).__name__}: {e}")
            elif writers_gone and name != "PARSO-CACHE-LOCK":
                bad.append(f"left over in parso's folder: {name}")
    store = os.path.join(cache, "jedi", "lsp_bridge_items")
    for name in os.listdir(store) if os.path.isdir(store) else []:
        path = os.path.join(store, name)
        if name.endswith(".json"):
            try:
                with open(path) as f:
                    json.load(f)
            except FileNotFoundError:
                pass
            except Exception as e:
                bad.append(f"item store {name}: {type(e).__name__}: {e}")
        elif writers_gone:
            bad.append(f"left over in the item store: {name}")
    return bad


def remove_some_pickles(cache, rng, share):
    for folder in parso_folder(cache):
        for path in glob.glob(os.path.join(folder, "*.pkl")):
            if rng.random() < share:
                try:
                    os.remove(path)
                except FileNotFoundError:
                    pass


class Tally:
    def __init__(self, name):
        self.name, self.answers, self.errors, self.differing, self.notes = name, 0, 0, [], []

    def judge(self, index, answer, reference, where):
        self.answers += 1
        if answer.get("error") is not None:
            self.errors += 1
            self.notes.append(f"{where}: {REQUESTS[index][0]} {REQUESTS[index][1][0]!r} answered error: "
                              f"{str(answer['error'])[:300]}")
        elif answer not in reference.seen[index]:
            self.differing.append((index, answer, where))

    def settle(self, reference):
        left = reference.settle([(i, a) for i, a, _ in self.differing])
        for i, a, where in self.differing:
            if (i, a) in left:
                self.notes.append(f"{where}: {REQUESTS[i][0]} {REQUESTS[i][1][0]!r} differs: {json.dumps(a)[:300]}")
        self.differing = [d for d in self.differing if (d[0], d[1]) in left]

    def report(self, extra):
        for note in self.notes:
            print("   ", note, flush=True)
        print(f"{self.name}: {self.answers} answers, {self.errors} errors, {len(self.differing)} differing; {extra}",
              flush=True)
        return self.errors == 0 and not self.differing


def wait_ready(child, timeout=300):
    """Blocks until the child printed READY; False if it ended first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = child.stdout.readline()
        if not line:
            return False
        if line.startswith("READY"):
            return True
    return False


def kill(child):
    try:
        child.send_signal(signal.SIGKILL)
    except ProcessLookupError:
        pass
    child.communicate()


def kills_trial(devhost, work, reference, rounds, rng):
    tally, cache, seen_after_kill, writing = Tally("kills"), os.path.join(work, "kills"), [], 0
    for i in range(rounds):
        if rng.random() < 0.3:
            shutil.rmtree(cache, ignore_errors=True)  # some rounds write every pickle anew
        else:
            remove_some_pickles(cache, rng, 0.4)
        delay = rng.uniform(0.005, 2.0)
        child = start_child(devhost, cache, "loop", rng.randrange(1 << 30), 3600)
        if wait_ready(child):
            time.sleep(delay)
        kill(child)
        found = bad_files(cache, writers_gone=False)
        seen_after_kill += [f"round {i} (killed after {delay * 1000:.0f} ms): {b}" for b in found]
        writing += any(name.endswith(".tmp") or ".tmp-" in name
                       for folder in parso_folder(cache) + [os.path.join(cache, "jedi", "lsp_bridge_items")]
                       for name in (os.listdir(folder) if os.path.isdir(folder) else []))
        errors = tally.errors
        for index, answer in enumerate(answers_once(devhost, cache)):
            tally.judge(index, answer, reference, f"round {i}")
        print(f"  round {i}: killed after {delay * 1000:.0f} ms; {len(found)} bad files right after the kill; "
              f"{tally.errors - errors} errors in the next process's answers", flush=True)
    tally.settle(reference)
    left = bad_files(cache)
    for line in seen_after_kill:
        print("    bad right after a kill:", line, flush=True)
    for line in left:
        print("    bad at the end:", line, flush=True)
    ok = tally.report(f"{rounds} kills; {len(seen_after_kill)} bad files right after a kill, "
                      f"{writing} kills during a write (a temporary file in place), {len(left)} bad files left")
    return ok and not seen_after_kill and not left


def crowd_trial(devhost, work, reference, size, seconds, rng):
    tally, cache = Tally("crowd"), os.path.join(work, "crowd")
    ref_path = os.path.join(work, "reference.json")
    reference.save(ref_path)
    lock, started, killed = threading.Lock(), [0], [0]
    end = time.monotonic() + seconds

    def slot(index, seed):
        srng = random.Random(seed)
        while time.monotonic() < end:
            run_for = end - time.monotonic()
            child = start_child(devhost, cache, "loop", srng.randrange(1 << 30), max(run_for, 0.1), ref_path)
            with lock:
                started[0] += 1
            lines = []
            reader = threading.Thread(target=lambda: lines.extend(child.stdout), daemon=True)
            reader.start()
            # Two slots run to the end; the others are killed at random and started again.
            if index >= 2:
                time.sleep(min(srng.uniform(0.3, 8.0), max(end - time.monotonic(), 0)))
                if child.poll() is None and time.monotonic() < end:
                    kill(child)
                    with lock:
                        killed[0] += 1
            child.wait()
            reader.join()
            with lock:
                for line in lines:
                    if line.startswith("A "):
                        _, i, text = line.split(" ", 2)
                        tally.judge(int(i), json.loads(text), reference, f"crowd slot {index}")

    threads = [threading.Thread(target=slot, args=(i, rng.randrange(1 << 30))) for i in range(size)]
    for t in threads:
        t.start()
    while time.monotonic() < end:
        time.sleep(rng.uniform(1.0, 4.0))
        remove_some_pickles(cache, rng, 0.3)  # the crowd writes them again, and reads what the others write
    for t in threads:
        t.join()
    for index, answer in enumerate(answers_once(devhost, cache)):  # a last process after the crowd
        tally.judge(index, answer, reference, "after the crowd")
    tally.settle(reference)
    left = bad_files(cache)
    for line in left:
        print("    bad at the end:", line, flush=True)
    ok = tally.report(f"{size} processes for {seconds:g} s, {started[0]} started, {killed[0]} killed; "
                      f"{len(left)} bad files left")
    return ok and not left


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kills", type=int, default=60)
    parser.add_argument("--crowd", type=int, default=6)
    parser.add_argument("--crowd-seconds", type=float, default=60)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--devhost", default=os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print(f"kill rounds: seed {seed}, Python {sys.version.split()[0]}", flush=True)
    work = tempfile.mkdtemp(prefix="lsp_bridge_kills_")
    try:
        reference = Reference(args.devhost, work)
        ok = True
        if args.kills:
            ok &= kills_trial(args.devhost, work, reference, args.kills, rng)
        if args.crowd and args.crowd_seconds > 0:
            ok &= crowd_trial(args.devhost, work, reference, args.crowd, args.crowd_seconds, rng)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
