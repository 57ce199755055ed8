"""Processes killed with SIGKILL while they write jedi's cache, and crowds of processes on one cache
folder, on real standard-library requests with the budget off. Two trials:

  kills  each round a new process on a shared cache folder (wiped now and then) first answers the
         checked requests below, the check of the kill before it, then writes: it completes
         modules at random, each after forgetting parso's trees and removing half of its pickles,
         so that it writes pickles and item store entries all the time, and is killed 5 ms to
         MAX_DELAY into that. Right after the kill the folder is searched for bad
         files; a last process answers after the last kill.
  crowd  CROWD processes on one cache folder for CROWD_SECONDS, each answering the checked requests
         between writing completions; all but two are killed at random and started again, and
         pickles are removed under them now and then, so that they write them again and read
         what the others are writing.

Every checked answer must be what a process with a fresh cache folder answers, and no answer an
error. jedi's own variation (its set order) is settled by repeats: a different answer is asked
again in its process, and then compared with the answers of more fresh processes, before it counts.
At the end no bad file may be left: a parso pickle that does not load, a temporary file whose
writer is gone, or an item store file that does not parse.

    python tools/kill_rounds.py [--kills 60] [--max-delay 2] [--crowd 6] [--crowd-seconds 60]
                                [--seed N] [--devhost DIR]

Prints a line per kill and a summary per trial; exits 1 if an answer was an error or differed, or
a bad file was seen.
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
    ("get_completions", ("text = 'abc'\ntext.up", 2, 7)),
    ("get_hover", ("import subprocess\nsubprocess.run", 2, 13)),
    ("get_hover", ("import pathlib\npathlib.Path", 2, 10)),
    ("get_signature_help", ("import json\njson.dumps(", 2, 11)),
    ("get_signature_help", ("import datetime\ndatetime.datetime(", 2, 18)),
    ("get_signature_help", ("import logging\nlogging.getLogger(", 2, 18)),
    ("get_hover", ("import typing\ntyping.Optional", 2, 10)),
    ("get_diagnostics", ("import os\nx = y\n",)),
]
# Between its checked requests a process completes `import <module>\n<module>.` for these, in a
# random order: each new module is parsed, pickled and stored, so a kill lands on writes.
MODULES = """abc argparse ast asyncio base64 bisect calendar cmd codecs collections colorsys
    concurrent.futures configparser contextlib copy csv ctypes dataclasses datetime decimal difflib
    dis email enum filecmp fnmatch fractions ftplib functools getopt gettext glob gzip hashlib heapq
    hmac html http.client imaplib inspect io ipaddress itertools json logging lzma mailbox mimetypes
    multiprocessing numbers operator optparse os pathlib pickle pkgutil platform plistlib poplib
    pprint queue random re sched secrets selectors shelve shlex shutil signal smtplib socket sqlite3
    ssl statistics string struct subprocess tarfile tempfile textwrap threading timeit tokenize trace
    traceback types typing unittest urllib.parse uuid warnings weakref xml.dom.minidom zipfile
    zlib""".split()

# The child: a host in a few lines. It asks every checked request once ("C" lines; with a
# reference, a different answer is asked again, up to 4 times, before it is printed), then, unless
# its mode is "once", writes: completions of modules at random ("W" lines: the module and the
# error), in the crowd with a checked request after each, until it is killed or its time is up.
# Before each it forgets parso's trees, and in the kills trial removes half of the pickles, so it
# loads and writes pickles all the time.
CHILD = """
import glob, json, os, random, sys, time
import jedi, parso
from {module} import LSPBridge
requests, modules = json.loads(sys.argv[2]), json.loads(sys.argv[3])
mode, seed, seconds = sys.argv[1], int(sys.argv[4]), float(sys.argv[5])
reference = json.loads(open(sys.argv[6]).read()) if len(sys.argv) > 6 else None
b = LSPBridge()
print("READY", flush=True)
ask = lambda method, args: json.loads(json.dumps(getattr(b, method)(*args), default=repr))
def checked(i):
    answer = ask(*requests[i])
    for _ in range(4 if reference and answer.get("error") is None else 0):
        if answer in reference[i]:
            break
        answer = ask(*requests[i])
    print("C", i, json.dumps(answer), flush=True)
for i in range(len(requests)):
    checked(i)
if mode == "once":
    sys.exit(0)
print("WRITING", flush=True)
rng, until = random.Random(seed), time.monotonic() + seconds
while time.monotonic() < until:
    parso.cache.parser_cache.clear()  # every tree from a pickle, or parsed and pickled again
    for path in glob.glob(os.path.join(jedi.settings.cache_directory, "CPython-*", "*.pkl")):
        if mode == "kills" and rng.random() < 0.5:
            os.remove(path)
    m = rng.choice(modules)
    print("W", m, json.dumps(ask("get_completions", ("import " + m + "\\n" + m + ".", 2, len(m) + 1))["error"]), flush=True)
    if mode == "crowd":
        checked(rng.randrange(len(requests)))
"""


def child_env(devhost, cache):
    return dict(os.environ, PYTHONPATH=devhost, XDG_CACHE_HOME=cache, LSP_BRIDGE_REQUEST_BUDGET="0")


class Child:
    """A child process whose output lines are collected as they come."""

    def __init__(self, devhost, cache, mode, seed=0, seconds=0, reference=None):
        args = [mode, json.dumps(REQUESTS), json.dumps(MODULES), str(seed), str(seconds)] + ([reference] if reference else [])
        self.process = subprocess.Popen([sys.executable, "-c", CHILD.format(module=MODULE)] + args,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        env=child_env(devhost, cache), cwd=ROOT)
        self.lines, self.stderr = [], []
        self.readers = [threading.Thread(target=lambda: self.lines.extend(self.process.stdout), daemon=True),
                        threading.Thread(target=lambda: self.stderr.extend(self.process.stderr), daemon=True)]
        for t in self.readers:
            t.start()

    def wait_for(self, mark, timeout=900):
        """True once a line starts with `mark`, False if the process ended first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(line.startswith(mark) for line in list(self.lines)):
                return True
            if self.process.poll() is not None:
                for t in self.readers:
                    t.join()
                return any(line.startswith(mark) for line in self.lines)
            time.sleep(0.005)
        return False

    def kill(self):
        try:
            self.process.send_signal(signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.end()

    def end(self):
        self.process.wait()
        for t in self.readers:
            t.join()

    def checked(self):
        """(index, answer) of each "C" line."""
        return [(int(line.split(" ", 2)[1]), json.loads(line.split(" ", 2)[2])) for line in self.lines if line.startswith("C ")]

    def writes(self):
        """(module, error) of each "W" line."""
        return [(line.split(" ", 2)[1], json.loads(line.split(" ", 2)[2])) for line in self.lines if line.startswith("W ")]


def answers_once(devhost, cache):
    """Every request asked once by a new process with `cache`."""
    child = Child(devhost, cache, "once")
    child.end()
    answers = dict(child.checked())
    failed = {"error": f"process failed ({child.process.returncode}): {''.join(child.stderr)[-800:]}"}
    return [answers.get(i, failed) for i in range(len(REQUESTS))]


class Reference:
    """What processes with a fresh cache folder answer: every answer seen, per request."""

    def __init__(self, devhost, work):
        self.devhost, self.work, self.runs = devhost, work, 0
        self.seen = [[] for _ in REQUESTS]
        for _ in range(2):
            self.add_run()
        self.path = os.path.join(work, "reference.json")
        with open(self.path, "w") as f:
            json.dump(self.seen, f)

    def add_run(self):
        cache = os.path.join(self.work, f"fresh{self.runs}")
        self.runs += 1
        for i, answer in enumerate(answers_once(self.devhost, cache)):
            assert answer.get("error") is None, f"a fresh process failed {REQUESTS[i]}: {answer}"
            if answer not in self.seen[i]:
                self.seen[i].append(answer)
        shutil.rmtree(cache, ignore_errors=True)

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
        self.writes, self.write_errors = 0, 0

    def judge(self, index, answer, reference, where):
        self.answers += 1
        if answer.get("error") is not None:
            self.errors += 1
            self.notes.append(f"{where}: {REQUESTS[index][0]} {REQUESTS[index][1][0]!r} answered error: "
                              f"{str(answer['error'])[:300]}")
        elif answer not in reference.seen[index]:
            self.differing.append((index, answer, where))

    def judge_child(self, child, reference, where):
        for index, answer in child.checked():
            self.judge(index, answer, reference, where)
        for module, error in child.writes():
            self.writes += 1
            if error is not None:
                self.write_errors += 1
                self.notes.append(f"{where}: completion of {module} answered error: {str(error)[:300]}")

    def settle(self, reference):
        left = reference.settle([(i, a) for i, a, _ in self.differing])
        for i, a, where in self.differing:
            if (i, a) in left:
                self.notes.append(f"{where}: {REQUESTS[i][0]} {REQUESTS[i][1][0]!r} differs: {json.dumps(a)[:300]}")
        self.differing = [d for d in self.differing if (d[0], d[1]) in left]

    def report(self, extra):
        for note in self.notes:
            print("   ", note, flush=True)
        print(f"{self.name}: {self.answers} checked answers ({self.errors} errors, {len(self.differing)} differing), "
              f"{self.writes} writing completions ({self.write_errors} errors); {extra}", flush=True)
        return self.errors == 0 and self.write_errors == 0 and not self.differing


def temp_files(cache):
    folders = parso_folder(cache) + [os.path.join(cache, "jedi", "lsp_bridge_items")]
    return [name for folder in folders if os.path.isdir(folder) for name in os.listdir(folder)
            if name.endswith(".tmp") or name.startswith(".tmp-")]


def kills_trial(devhost, work, reference, rounds, max_delay, rng):
    """Each round's process first answers the checked requests (after the previous round's kill),
    then writes until it is killed."""
    tally, cache, seen_after_kill, cut = Tally("kills"), os.path.join(work, "kills"), [], 0
    for i in range(rounds):
        if rng.random() < 0.2:
            shutil.rmtree(cache, ignore_errors=True)  # some rounds write every pickle anew
        child = Child(devhost, cache, "kills", rng.randrange(1 << 30), 3600, reference.path)
        writing = child.wait_for("WRITING")
        delay = rng.uniform(0.005, max_delay)
        time.sleep(delay if writing else 0)
        child.kill()
        errors = tally.errors
        tally.judge_child(child, reference, f"round {i} (after the kill before)")
        found = bad_files(cache, writers_gone=False)
        seen_after_kill += [f"round {i} (killed {delay * 1000:.0f} ms into its writing): {b}" for b in found]
        temps = temp_files(cache)
        cut += bool(temps)
        print(f"  round {i}: {len(child.checked())} checked answers ({tally.errors - errors} errors), "
              f"{len(child.writes())} writing completions, killed {delay * 1000:.0f} ms into its writing; "
              f"{len(found)} bad files and {len(temps)} temporary files right after the kill", flush=True)
    for index, answer in enumerate(answers_once(devhost, cache)):  # after the last kill
        tally.judge(index, answer, reference, "after the last kill")
    tally.settle(reference)
    left = bad_files(cache)
    for line in seen_after_kill:
        print("    bad right after a kill:", line, flush=True)
    for line in left:
        print("    bad at the end:", line, flush=True)
    ok = tally.report(f"{rounds} kills; {len(seen_after_kill)} bad files right after a kill, {cut} kills cut a "
                      f"write (a temporary file in place), {len(left)} bad files left at the end")
    return ok and not seen_after_kill and not left


def crowd_trial(devhost, work, reference, size, seconds, rng):
    tally, cache = Tally("crowd"), os.path.join(work, "crowd")
    lock, started, killed = threading.Lock(), [0], [0]
    end = time.monotonic() + seconds

    def slot(index, seed):
        srng = random.Random(seed)
        while time.monotonic() < end:
            child = Child(devhost, cache, "crowd", srng.randrange(1 << 30), max(end - time.monotonic(), 0.1),
                          reference.path)
            with lock:
                started[0] += 1
            # Two slots run to the end; the others are killed at random and started again.
            if index >= 2 and child.wait_for("READY"):
                time.sleep(min(srng.uniform(0.3, 8.0), max(end - time.monotonic(), 0)))
            if index >= 2 and child.process.poll() is None and time.monotonic() < end:
                child.kill()
                with lock:
                    killed[0] += 1
            child.end()
            with lock:
                tally.judge_child(child, reference, f"crowd slot {index}")

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
    parser.add_argument("--max-delay", type=float, default=2.0, help="seconds: a kill comes 5 ms to this far into the writing")
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
            ok &= kills_trial(args.devhost, work, reference, args.kills, args.max_delay, rng)
        if args.crowd and args.crowd_seconds > 0:
            ok &= crowd_trial(args.devhost, work, reference, args.crowd, args.crowd_seconds, rng)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
