"""Processes killed with SIGKILL while they write jedi's cache, and crowds of processes on one cache
folder, on real standard-library requests with the budget off. Two trials:

  kills  each round a new process on a shared cache folder (wiped now and then) first answers the
         checked requests below and the completion the process before it was writing when it was
         killed: the check of that kill. Then it writes: it completes modules at random, each
         after forgetting parso's trees and removing half of the pickles, so that it writes
         pickles and item store entries all the time, and is killed 5 ms to MAX_DELAY into that.
         Right after the kill the folder is searched for bad files; a last process answers after
         the last kill.
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
# The writing processes complete `import <module>\n<module>.` for these, at random: each new
# module is parsed, pickled and stored.
MODULES = """abc argparse ast asyncio base64 bisect calendar cmd codecs collections colorsys
    concurrent.futures configparser contextlib copy csv ctypes dataclasses datetime decimal difflib
    dis email enum filecmp fnmatch fractions ftplib functools getopt gettext glob gzip hashlib heapq
    hmac html http.client imaplib inspect io ipaddress itertools json logging lzma mailbox mimetypes
    multiprocessing numbers operator optparse os pathlib pickle pkgutil platform plistlib poplib
    pprint queue random re sched secrets selectors shelve shlex shutil signal smtplib socket sqlite3
    ssl statistics string struct subprocess tarfile tempfile textwrap threading timeit tokenize trace
    traceback types typing unittest urllib.parse uuid warnings weakref xml.dom.minidom zipfile
    zlib""".split()


def completion_of(module):
    return ("get_completions", (f"import {module}\n{module}.", 2, len(module) + 1))


def key(request):
    return json.dumps(request)


# The child: a host in a few lines. It asks each request given once ("C" lines: the request's
# index and the answer; one with a reference that answers otherwise is asked again, up to 4 times,
# before it is printed). Then, unless its mode is "once", it writes: completions of modules at
# random ("M" before, "W" after: the module and the error), in the crowd with a checked request
# after each, until it is killed or its time is up. Before each it forgets parso's trees, and in
# the kills trial removes half of the pickles, so it loads and writes pickles all the time.
CHILD = """
import glob, json, os, random, sys, time
import jedi, parso
from {module} import LSPBridge
requests, modules = json.loads(sys.argv[2]), json.loads(sys.argv[3])
mode, seed, seconds = sys.argv[1], int(sys.argv[4]), float(sys.argv[5])
reference = json.loads(open(sys.argv[6]).read()) if len(sys.argv) > 6 else {{}}
b = LSPBridge()
print("READY", flush=True)
ask = lambda method, args: json.loads(json.dumps(getattr(b, method)(*args), default=repr))
def checked(i):
    answer, accepted = ask(*requests[i]), reference.get(json.dumps(requests[i]))
    for _ in range(4 if accepted and answer.get("error") is None else 0):
        if answer in accepted:
            break
        answer = ask(*requests[i])
    print("C", json.dumps([i, answer]), flush=True)
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
    print("M", m, flush=True)
    print("W", m, json.dumps(ask("get_completions", ("import " + m + "\\n" + m + ".", 2, len(m) + 1))["error"]), flush=True)
    if mode == "crowd":
        checked(rng.randrange({checked}))
"""


def child_env(devhost, cache):
    return dict(os.environ, PYTHONPATH=devhost, XDG_CACHE_HOME=cache, LSP_BRIDGE_REQUEST_BUDGET="0")


class Child:
    """A child process asking `requests` first; its output lines are collected as they come."""

    def __init__(self, devhost, cache, mode, requests, seed=0, seconds=0, reference=None):
        self.requests = requests
        args = [mode, json.dumps(requests), json.dumps(MODULES), str(seed), str(seconds)] + ([reference] if reference else [])
        code = CHILD.format(module=MODULE, checked=len(REQUESTS))
        self.process = subprocess.Popen([sys.executable, "-c", code] + args, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, env=child_env(devhost, cache), cwd=ROOT)
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
                self.end()
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
        """(request, answer) of each "C" line."""
        found = [json.loads(line[2:]) for line in self.lines if line.startswith("C ")]
        return [(self.requests[i], answer) for i, answer in found]

    def writes(self):
        """(module, error) of each "W" line."""
        return [(line.split(" ", 2)[1], json.loads(line.split(" ", 2)[2])) for line in self.lines if line.startswith("W ")]

    def writing_when_killed(self):
        """The module whose completion was under way when the process ended, or None."""
        marks = [line.split()[:2] for line in self.lines if line[:2] in ("M ", "W ")]
        return marks[-1][1] if marks and marks[-1][0] == "M" else None


def answers_once(devhost, cache, requests):
    """Each request asked once by a new process with `cache`: [(request, answer)]."""
    child = Child(devhost, cache, "once", requests)
    child.end()
    answers = {key(r): a for r, a in child.checked()}
    failed = {"error": f"process failed ({child.process.returncode}): {''.join(child.stderr)[-800:]}"}
    return [(r, answers.get(key(r), failed)) for r in requests]


class Reference:
    """What processes with a fresh cache folder answer: every answer seen, per request."""

    def __init__(self, devhost, work):
        self.devhost, self.work, self.runs, self.seen = devhost, work, 0, {}
        self.path = os.path.join(work, "reference.json")
        for _ in range(2):
            self.add_run(REQUESTS)

    def add_run(self, requests):
        cache = os.path.join(self.work, f"fresh{self.runs}")
        self.runs += 1
        for request, answer in answers_once(self.devhost, cache, requests):
            if answer.get("error") is not None:
                print(f"    a process with a fresh cache folder answered {request} with an error: {answer}", flush=True)
            if answer not in self.seen.setdefault(key(request), []):
                self.seen[key(request)].append(answer)
        shutil.rmtree(cache, ignore_errors=True)
        with open(self.path, "w") as f:
            json.dump(self.seen, f)

    def knows(self, requests):
        """Fresh answers to `requests` too (two processes), where none were asked yet."""
        new = list({key(r): r for r in requests if key(r) not in self.seen}.values())
        for _ in range(2 if new else 0):
            self.add_run(new)

    def settle(self, differing, tries=3):
        """Those of `differing` (request, answer) that no fresh process gave in `tries` more runs."""
        for _ in range(tries):
            if not differing:
                break
            self.add_run(list({key(r): r for r, _ in differing}.values()))
            differing = [(r, a) for r, a in differing if a not in self.seen[key(r)]]
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
    """Checked answers, and the errors of writing completions, of one trial."""

    def __init__(self, name):
        self.name, self.checked, self.errors, self.pending, self.notes = name, 0, 0, [], []
        self.writes, self.write_errors = 0, 0

    def add(self, child, where):
        self.pending += [(request, answer, where) for request, answer in child.checked()]
        for module, error in child.writes():
            self.writes += 1
            if error is not None:
                self.write_errors += 1
                self.notes.append(f"{where}: completion of {module} answered error: {str(error)[:300]}")

    def judge(self, reference):
        """Errors count at once; a different answer only if fresh processes never give it either."""
        reference.knows([r for r, _, _ in self.pending])
        differing = []
        for request, answer, where in self.pending:
            self.checked += 1
            if answer.get("error") is not None:
                self.errors += 1
                self.notes.append(f"{where}: {request[0]} {request[1][0]!r} answered error: {str(answer['error'])[:300]}")
            elif answer not in reference.seen[key(request)]:
                differing.append((request, answer, where))
        left = reference.settle([(r, a) for r, a, _ in differing])
        self.differing = [d for d in differing if (d[0], d[1]) in left]
        for request, answer, where in self.differing:
            self.notes.append(f"{where}: {request[0]} {request[1][0]!r} differs: {json.dumps(answer)[:300]}")

    def report(self, extra):
        for note in self.notes:
            print("   ", note, flush=True)
        print(f"{self.name}: {self.checked} checked answers ({self.errors} errors, {len(self.differing)} differing), "
              f"{self.writes} writing completions ({self.write_errors} errors); {extra}", flush=True)
        return self.errors == 0 and self.write_errors == 0 and not self.differing


def temp_files(cache):
    folders = parso_folder(cache) + [os.path.join(cache, "jedi", "lsp_bridge_items")]
    return [name for folder in folders if os.path.isdir(folder) for name in os.listdir(folder)
            if name.endswith(".tmp") or name.startswith(".tmp-")]


def kills_trial(devhost, work, reference, rounds, max_delay, rng):
    tally, cache, seen_after_kill, cut, in_flight = Tally("kills"), os.path.join(work, "kills"), [], 0, []
    for i in range(rounds):
        if rng.random() < 0.2:
            shutil.rmtree(cache, ignore_errors=True)  # some rounds write every pickle anew
        child = Child(devhost, cache, "kills", REQUESTS + in_flight, rng.randrange(1 << 30), 3600, reference.path)
        writing = child.wait_for("WRITING")
        delay = rng.uniform(0.005, max_delay)
        time.sleep(delay if writing else 0)
        child.kill()
        tally.add(child, f"round {i} (checking the kill before)")
        errors = sum(a.get("error") is not None for _, a in child.checked())
        module = child.writing_when_killed()
        in_flight = [completion_of(module)] if module else []
        found = bad_files(cache, writers_gone=False)
        seen_after_kill += [f"round {i} (killed {delay * 1000:.0f} ms into its writing): {b}" for b in found]
        temps = temp_files(cache)
        cut += bool(temps)
        print(f"  round {i}: {len(child.checked())} checked answers ({errors} errors), killed {delay * 1000:.0f} ms "
              f"into its writing, completing {module}; {len(found)} bad files and {len(temps)} temporary files "
              f"right after the kill", flush=True)
    last = Child(devhost, cache, "once", REQUESTS + in_flight)
    last.end()
    tally.add(last, "after the last kill")
    tally.judge(reference)
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
            child = Child(devhost, cache, "crowd", REQUESTS, srng.randrange(1 << 30), max(end - time.monotonic(), 0.1),
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
                tally.add(child, f"crowd slot {index}")

    threads = [threading.Thread(target=slot, args=(i, rng.randrange(1 << 30))) for i in range(size)]
    for t in threads:
        t.start()
    while time.monotonic() < end:
        time.sleep(rng.uniform(1.0, 4.0))
        remove_some_pickles(cache, rng, 0.3)  # the crowd writes them again, and reads what the others write
    for t in threads:
        t.join()
    last = Child(devhost, cache, "once", REQUESTS)
    last.end()
    tally.add(last, "after the crowd")
    tally.judge(reference)
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
