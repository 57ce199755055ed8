"""Exits with a request in flight, many times: each round is a fresh interpreter that starts a
bridge (its warm-up runs in a daemon thread), asks one request on a large real file from a daemon
thread (or none: the warm-up alone is in flight), and exits after a random delay, half of the
time with a code of its own. After each round every parso pickle in the round's jedi cache must
load; every few rounds (and after the last) a new process asks every request with that cache
and must answer what a process with a fresh cache answered: the same answers but for their
documentation texts, and no error (jedi's documentation depends on which modules its caches met
first, exits or not). The budget is off: the exit alone must
end what runs.

    python tools/exit_rounds.py [--rounds 20] [--seed N] [--check-every 3] [--kinds get_completions,...]
                                [--max-delay 2.5] [--devhost DIR]

Prints one line per failed round and a summary; exits 1 if any round failed.
"""
import argparse
import glob
import json
import os
import pickle
import random
import shutil
import subprocess
import sys
import tempfile

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
sys.path.insert(0, TOOLS)
from public_surface import REQUESTS  # noqa: E402

MODULE = "corvane_master.python_server.lsp_bridge"
KINDS = REQUESTS + ("warmup",)
HOST_CODE = 7

# The child: a host in a few lines. The asking thread is a daemon, as an editor server's is. Each
# request asks its sample after a large real file.
CHILD = """
import inspect, os, sys, threading, time
sys.path.insert(0, {tools!r})
from public_surface import REQUESTS, call_args
from {module} import LSPBridge
text = open(inspect.__file__).read() + "\\n"
asks = {{method: lambda b, method=method: getattr(b, method)(*call_args(method, text)) for method in REQUESTS}}
kind, delay, code = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
b = LSPBridge()
if kind == "all":
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join()
    import json
    print("ANSWERS" + json.dumps({{k: ask(b) for k, ask in asks.items()}}, sort_keys=True, default=repr))
    sys.exit(0)
if kind in asks:
    threading.Thread(target=asks[kind], args=(b,), daemon=True).start()
time.sleep(delay)
sys.exit(code)
"""


def run_child(devhost, cache, kind, delay=0.0, code=0, timeout=300):
    env = dict(os.environ, PYTHONPATH=devhost, XDG_CACHE_HOME=cache, LSP_BRIDGE_REQUEST_BUDGET="0")
    return subprocess.run([sys.executable, "-c", CHILD.format(module=MODULE, tools=TOOLS), kind, str(delay), str(code)],
                          capture_output=True, text=True, timeout=timeout, env=env, cwd=ROOT)


def answers(devhost, cache):
    out = run_child(devhost, cache, "all")
    lines = [line for line in out.stdout.splitlines() if line.startswith("ANSWERS")]
    return json.loads(lines[0][len("ANSWERS"):]) if lines else {"returncode": out.returncode, "stderr": out.stderr[-2000:]}


def essence(answers):
    """What must not change: everything but the documentation texts."""
    def strip(value):
        if isinstance(value, dict):
            return {k: strip(v) for k, v in value.items() if k not in ("documentation", "contents", "value")}
        if isinstance(value, list):
            return [strip(v) for v in value]
        return value
    return {k: strip(v) for k, v in answers.items()}


def broken_pickles(cache):
    broken = []
    for path in glob.glob(os.path.join(cache, "jedi", "**", "*.pkl"), recursive=True):
        try:
            with open(path, "rb") as f:
                pickle.load(f)
        except Exception as e:  # a truncated file says EOFError or UnpicklingError
            broken.append(f"{os.path.basename(path)}: {type(e).__name__}: {e}")
    return broken


def problems_of_exit(out, code):
    found = []
    if out.returncode != code:
        found.append(f"exit code {out.returncode}, expected {code}")
    for mark in ("Fatal Python error", "Segmentation fault", "Traceback", "Exception ignored", "core dumped"):
        if mark in out.stderr:
            found.append(f"stderr has {mark!r}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--check-every", type=int, default=3)
    parser.add_argument("--max-delay", type=float, default=2.5)
    parser.add_argument("--kinds", default=",".join(KINDS), help="what is in flight, in turn")
    parser.add_argument("--devhost", default=os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="lsp_bridge_exit_")
    failed, crashes = 0, 0
    try:
        expected = essence(answers(args.devhost, os.path.join(work, "fresh")))
        assert all(expected[k].get("error") is None for k in REQUESTS), expected
        cache = os.path.join(work, "cache")
        for i in range(args.rounds):
            if rng.random() < 0.5:
                shutil.rmtree(cache, ignore_errors=True)  # half the rounds write the pickles anew
            kinds = args.kinds.split(",")
            kind, delay = kinds[i % len(kinds)], rng.uniform(0.0, args.max_delay)
            code = HOST_CODE if rng.random() < 0.5 else 0
            out = run_child(args.devhost, cache, kind, delay, code)
            found = problems_of_exit(out, code) + broken_pickles(cache)
            crashes += out.returncode < 0
            if (i + 1) % args.check_every == 0 or i + 1 == args.rounds:
                got = essence(answers(args.devhost, cache))
                found += [f"later answer to {k} differs: {str(got.get(k))[:300]}"
                          for k in expected if got.get(k) != expected[k]]
            if found:
                failed += 1
                print(f"round {i} ({kind}, exit after {delay:.2f} s): " + "; ".join(found), flush=True)
                if out.stderr:
                    print("    " + out.stderr[-1500:].replace("\n", "\n    "), flush=True)
                shutil.rmtree(cache, ignore_errors=True)  # one broken pickle must not fail every later round
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"exit rounds: {args.rounds} exits (seed {seed}), {failed} failed, {crashes} ended by a signal")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
