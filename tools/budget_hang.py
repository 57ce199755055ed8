"""Counts hangs under tiny request budgets: each run is a fresh process that asks ROUNDS small
hovers (and, with --threads 2, as many from a second thread) on real standard-library files,
every one with a random budget of 0.3-30 ms set through LSP_BRIDGE_REQUEST_BUDGET. A run that
has not ended after --timeout seconds hung; it is killed and counted.

    python tools/budget_hang.py --runs 10 --rounds 300 [--threads 2] [--seed 1]

Prints one line per run and a summary: how many runs hung, and at which round."""
import argparse
import os
import random
import subprocess
import sys
import textwrap

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CHILD = textwrap.dedent("""
    import os, random, sys, threading
    sys.path.insert(0, os.environ["DEVHOST"])
    from corvane_master.python_server import lsp_bridge
    import json as _j, textwrap as _t, string as _s, shlex as _sh
    FILES = [m.__file__ for m in (_j, _t, _s, _sh)]
    TEXTS = [open(f).read() for f in FILES]
    rounds, threads, seed = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    b = lsp_bridge.LSPBridge()
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join()
    lock = threading.Lock()
    def worker(index):
        rng = random.Random(seed * 100 + index)
        for r in range(rounds):
            text = rng.choice(TEXTS)
            lines = text.splitlines()
            line = rng.randrange(len(lines))
            column = rng.randrange(len(lines[line]) + 1)
            with lock:
                os.environ["LSP_BRIDGE_REQUEST_BUDGET"] = str(round(rng.uniform(0.0003, 0.03), 4))
            b.get_hover(text, line + 1, column + 1)
            if index == 0:
                print("round", r, flush=True)
    others = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(1, threads)]
    for t in others:
        t.start()
    worker(0)
    for t in others:
        t.join()
    print("done", flush=True)
""")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=300)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=120)
    args = parser.parse_args()
    env = dict(os.environ, DEVHOST=os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))
    hung = []
    for run in range(args.runs):
        seed = args.seed + run
        try:
            done = subprocess.run([sys.executable, "-c", CHILD, str(args.rounds), str(args.threads), str(seed)],
                                  capture_output=True, text=True, timeout=args.timeout, env=env, cwd=ROOT)
            rounds = [l for l in done.stdout.splitlines() if l.startswith("round")]
            state = "ok" if "done" in done.stdout else f"failed (exit {done.returncode})"
            noise = [l for l in done.stderr.splitlines() if "Exception ignored" in l or "Traceback" in l]
        except subprocess.TimeoutExpired as e:
            out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
            rounds = [l for l in out.splitlines() if l.startswith("round")]
            state = "HUNG"
            noise = []
            hung.append(seed)
        print(f"run {run} seed {seed}: {state} after {len(rounds)} rounds; stderr reports: {len(noise)}", flush=True)
    print(f"{len(hung)} of {args.runs} runs hung (seeds {hung}); {args.rounds} rounds x {args.threads} threads each")


if __name__ == "__main__":
    main()
