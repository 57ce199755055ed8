"""A call through the boundary against a plain Python method doing the same work.

`_is_module_name("x")` through an instance (bound like a Python method, arguments bound and
type-checked by the boundary) against `def _is_module_name(self, path): return path.isidentifier()`.
Both are timed interleaved in the same run; the ratio native/python is the boundary's cost.
"""
import os
import statistics
import sys
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))


class PlainBridge:
    def _is_module_name(self, path: str) -> bool:
        return path.isidentifier()


def measure(stmt_native, stmt_python, globals_, repeats, number):
    native, python = [], []
    for _ in range(repeats):
        native.append(min(timeit.repeat(stmt_native, globals=globals_, number=number, repeat=3)) / number)
        python.append(min(timeit.repeat(stmt_python, globals=globals_, number=number, repeat=3)) / number)
    ratios = [n / p for n, p in zip(native, python)]
    return {
        "bridge_median_s": statistics.median(native),
        "direct_median_s": statistics.median(python),
        "ratio": statistics.median(ratios),
        "spread": (min(ratios), max(ratios)),
    }


def run(repeats=15):
    import logging

    logging.getLogger("corvane_master.python_server.lsp_bridge").setLevel(logging.WARNING)
    from corvane_master.python_server.lsp_bridge import LSPBridge

    bridge = LSPBridge()
    plain = PlainBridge()
    g = {"bridge": bridge, "plain": plain}
    cases = [
        ("method call, positional", "bridge._is_module_name('x')", "plain._is_module_name('x')"),
        ("method call, keyword", "bridge._is_module_name(path='x')", "plain._is_module_name(path='x')"),
    ]
    rows = []
    try:
        for case, native, python in cases:
            rows.append({"case": case, **measure(native, python, g, repeats, 200_000)})
    finally:
        bridge.cleanup()
    return rows


def print_table(rows):
    print(f"{'case':32} {'bridge ns':>10} {'python ns':>10} {'ratio':>7}  spread")
    for r in rows:
        lo, hi = r["spread"]
        print(f"{r['case']:32} {r['bridge_median_s'] * 1e9:10.1f} {r['direct_median_s'] * 1e9:10.1f} "
              f"{r['ratio']:7.3f}  {lo:.3f}-{hi:.3f}")


if __name__ == "__main__":
    print_table(run())
