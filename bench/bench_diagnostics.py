"""Benchmark of get_diagnostics against the work it cannot avoid, done directly in Python.

The direct side parses the text twice (the syntax check and the import check), runs pyflakes
with a reporter on two StringIO streams (pyflakes parses a third time), and asks
importlib.util.find_spec for every imported name. The bridge side is one get_diagnostics call
on the same text. Both run interleaved in the same process after a warm-up.

    python bench/bench_diagnostics.py [repeats]
"""
import ast
import importlib.util
import io
import os
import statistics
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
if DEVHOST not in sys.path:
    sys.path.insert(0, DEVHOST)

from pyflakes import api as pyflakes_api  # noqa: E402
from pyflakes import reporter as pyflakes_reporter  # noqa: E402

STDLIB = ["os", "sys", "json", "re", "collections", "itertools", "functools", "os.path"]
SIZES = (1_000, 10_000)


def generate(lines):
    """A module of about `lines` lines: imports (stdlib and missing), classes, functions, some
    unused names and undefined ones. Returns the text and its imported module names in order."""
    out, names = [], []
    block = 0
    while len(out) < lines:
        std = STDLIB[block % len(STDLIB)]
        missing = f"missing_pkg_{block % 7}.sub"
        out += [
            f"import {std}",
            f"from {missing} import thing_{block}",
            f"class Model{block}:",
            f"    '''Model number {block}.'''",
            "    def __init__(self, value):",
            "        self.value = value",
            "        unused_local = value * 2",
            "    def total(self, items):",
            "        acc = 0",
            "        for item in items:",
            "            acc += item.size + self.value",
            "        return acc",
            f"def helper_{block}(a, b=None, *args, **kw):",
            "    if b is None:",
            f"        return undefined_name_{block % 5} + a",
            "    return [x * 2 for x in args if x] + list(kw)",
            "",
        ]
        names += [std, missing]
        block += 1
    return "\n".join(out) + "\n", names


def direct(code, filename, names):
    ast.parse(code, filename=filename)
    warning_stream, error_stream = io.StringIO(), io.StringIO()
    pyflakes_api.check(code, filename, pyflakes_reporter.Reporter(warning_stream, error_stream))
    ast.parse(code)
    for name in names:
        try:
            importlib.util.find_spec(name)
        except (ImportError, ValueError, AttributeError):
            pass


def direct_with_walk(code, filename, names):
    """As `direct`, plus the ast.walk over the tree that the import check must make."""
    ast.parse(code, filename=filename)
    warning_stream, error_stream = io.StringIO(), io.StringIO()
    pyflakes_api.check(code, filename, pyflakes_reporter.Reporter(warning_stream, error_stream))
    for node in ast.walk(ast.parse(code)):
        isinstance(node, ast.Import) or isinstance(node, ast.ImportFrom)
    for name in names:
        try:
            importlib.util.find_spec(name)
        except (ImportError, ValueError, AttributeError):
            pass


BASELINES = (("", direct), (" vs direct+walk", direct_with_walk))


def _median_spread(samples):
    med = statistics.median(samples)
    return med, (max(samples) - min(samples)) / med if med else 0.0


def _measure(case, bridge, baseline, code, names, repeats):
    bridge.get_diagnostics(code, "bench")  # warm-up: imports, caches
    baseline(code, "<bench>", names)
    bridge_times, direct_times = [], []
    for _ in range(repeats):
        t0 = time.perf_counter()
        bridge.get_diagnostics(code, "bench")
        t1 = time.perf_counter()
        baseline(code, "<bench>", names)
        t2 = time.perf_counter()
        bridge_times.append(t1 - t0)
        direct_times.append(t2 - t1)
    b_med, b_spread = _median_spread(bridge_times)
    d_med, d_spread = _median_spread(direct_times)
    return {
        "case": case,
        "bridge_median_s": b_med,
        "direct_median_s": d_med,
        "ratio": b_med / d_med,
        "spread": max(b_spread, d_spread),
    }


def run(repeats: int = 7) -> list:
    from corvane_master.python_server import lsp_bridge

    bridge = lsp_bridge.LSPBridge()
    for thread in threading.enumerate():  # the warm-up would compete for the interpreter lock
        if thread.name == "LSP-corvane-preload":
            thread.join()
    results = []
    try:
        for size in SIZES:
            code, names = generate(size)
            for label, baseline in BASELINES:
                results.append(_measure(f"get_diagnostics {size} lines{label}", bridge, baseline, code, names, repeats))
    finally:
        bridge.cleanup()
    return results


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    results = run(repeats)
    print(f"{'case':48} {'bridge s':>10} {'direct s':>10} {'ratio':>7} {'spread':>7}")
    for r in results:
        print(
            f"{r['case']:48} {r['bridge_median_s']:10.4f} {r['direct_median_s']:10.4f} "
            f"{r['ratio']:7.3f} {r['spread']:7.2f}"
        )
    first, last = results[0], results[len(BASELINES)]
    print(
        f"growth {SIZES[0]} -> {SIZES[1]} lines: bridge x{last['bridge_median_s'] / first['bridge_median_s']:.1f}, "
        f"direct x{last['direct_median_s'] / first['direct_median_s']:.1f}"
    )

if __name__ == "__main__":
    main()
