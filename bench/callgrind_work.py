"""The workload that suite_callgrind runs under valgrind: for each case, every variant is warmed
up and then run `n` times inside one measured stretch, labelled "suite|case|variant|n".

    valgrind --tool=callgrind --collect-atstart=no python bench/callgrind_work.py REGION_LIB [quick]
"""
import ctypes
import gc
import sys

import common

import floor
import suite_boundary
import suite_completion
import suite_diagnostics
import suite_hover
import suite_sync
from yardstick import PlainBridge

JEDI_VARIANTS = ("bridge", "floor", "yardstick")
COMPLETION_CASES = ("json.lo", "local class attribute", "cross-module, 50 synced modules", "os. (hundreds of items)")
HOVER_CASES = {case for case, *_ in suite_hover.CASES}
LOOP = 2_000  # calls per boundary measurement


class Region:
    def __init__(self, library):
        self._lib = ctypes.CDLL(library)
        self._callback_type = ctypes.CFUNCTYPE(None)
        self._lib.lsp_bench_measure.argtypes = [ctypes.c_char_p, self._callback_type]

    def measure(self, label, work, n):
        """A full collection walking the whole heap would land in whichever stretch happens to
        trigger it: collect first and hide the survivors from the collector (gc.freeze), so
        each stretch pays only for collecting its own garbage."""
        def body():
            for _ in range(n):
                work()

        callback = self._callback_type(body)  # kept alive until the call returns
        gc.collect()
        gc.freeze()
        try:
            self._lib.lsp_bench_measure(f"{label}|{n}".encode(), callback)
        finally:
            gc.unfreeze()


def jedi_case(region, suite, case, variants, n, warmup=2):
    """Warm-up rounds of every variant; for an expensive case (warmup=0) one call of the
    bridge alone, which fills jedi's caches for all of them."""
    for _ in range(warmup):
        for name in JEDI_VARIANTS:
            variants[name]()
    if not warmup:
        variants["bridge"]()
    for name in JEDI_VARIANTS:
        region.measure(f"{suite}|{case}|{name}", variants[name], n)


def boundary(region, bridge, plain):
    """Each statement in a loop of LOOP calls; an empty loop gives the cost of the loop itself."""
    g = {"bridge": bridge, "plain": plain}

    def loop(stmt):
        return compile(f"for _ in range({LOOP}): {stmt}", "<loop>", "exec")

    loops = {("empty loop", "loop"): loop("pass")}
    for case, stmt in suite_boundary.CASES:
        loops[(case, "bridge")] = loop(stmt.replace("obj", "bridge"))
        loops[(case, "python")] = loop(stmt.replace("obj", "plain"))
    for code in loops.values():
        exec(code, g)  # warm-up
    for (case, name), code in loops.items():
        region.measure(f"boundary|{case}|{name}", lambda: exec(code, g), 1)


def main():
    region = Region(sys.argv[1])
    quick = "quick" in sys.argv[2:]
    with common.ready_bridge() as bridge:
        plain = PlainBridge(bridge)
        boundary(region, bridge, plain)
        for case, *args in suite_completion.CASES:
            if case in COMPLETION_CASES and not (quick and case.startswith("os.")):
                expensive = case.startswith("os.")
                jedi_case(region, "completion", case, suite_completion.variants(bridge, None, plain, None, None, *args),
                          1 if expensive else 3, warmup=0 if expensive else 2)
        has_hover = common.has_hover(bridge)
        for case, *args in suite_hover.CASES:
            if case in HOVER_CASES and has_hover:
                jedi_case(region, "hover", case, suite_hover.variants(bridge, plain, None, *args), 3)
        for size in (1_000,) if quick else (1_000, 4_000):
            code = suite_diagnostics.generate(size)
            variants = {"bridge": lambda: bridge.get_diagnostics(code),
                        "floor": lambda: floor.diagnostics(bridge, code),
                        "yardstick": lambda: plain.get_diagnostics(code)}
            jedi_case(region, "diagnostics", f"{size // 1000}k lines", variants, 1, warmup=0)
        mods = suite_sync.modules(100)
        folder = bridge._temp_dir.name
        variants = {"bridge": lambda: bridge.sync_modules(mods), "floor": lambda: floor.write_modules(folder, mods),
                    "yardstick": lambda: plain.sync_modules(mods)}
        jedi_case(region, "sync_modules", "100 modules of 2 KB", variants, 3)


if __name__ == "__main__":
    main()
