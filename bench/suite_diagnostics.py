"""get_diagnostics over generated modules of 1k, 10k and 50k lines against the floor (the three
parses, pyflakes with its reporter, the import walk and the look-ups of every imported name),
the yardstick class and pylsp's pyflakes lint (which parses once inside pyflakes and checks no
imports: it does less work than the module is asked to do).

    python bench/suite_diagnostics.py [repeats]
"""
import common

import floor
import measure
from pylsp_baseline import Pylsp
from yardstick import PlainBridge

SUITE = "diagnostics"
GOAL = "own overhead <= 5% of the floor; time linear in size"
PAUSED_GOAL = "collector paused: <= 0.7 of the floor"
SIZES = (1_000, 10_000, 50_000)
STDLIB = ["os", "sys", "json", "re", "collections", "itertools", "functools", "os.path"]


def generate(lines):
    """A module of about `lines` lines: imports (stdlib and missing), classes, functions, some
    unused names and undefined ones."""
    out = []
    block = 0
    while len(out) < lines:
        out += [
            f"import {STDLIB[block % len(STDLIB)]}",
            f"from missing_pkg_{block % 7}.sub import thing_{block}",
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
        block += 1
    return "\n".join(out) + "\n"


def repeats_for(size, repeats):
    """Fewer rounds for the big texts, to keep the whole run within its budget."""
    return repeats if size <= 1_000 else max(5, repeats // 2) if size <= 10_000 else 3


def run(repeats: int = 9) -> list:
    rows = []
    with common.ready_bridge() as bridge:
        plain = PlainBridge(bridge)
        lsp = Pylsp(bridge._temp_dir.name)
        for size in SIZES:
            code = generate(size)
            expected = len(bridge.get_diagnostics(code)["diagnostics"])
            assert expected and len(plain.get_diagnostics(code)["diagnostics"]) == expected
            series = measure.rounds({
                "bridge": lambda: bridge.get_diagnostics(code),
                "floor": lambda: floor.diagnostics(bridge, code),
                "yardstick": lambda: plain.get_diagnostics(code),
                "pylsp": lambda: lsp.lint(code),
            }, repeats_for(size, repeats), warmup=1 if size <= 10_000 else 0)
            # At 10k lines the request's time as the user waits for it, the collector paused
            # in it, is judged too; the other sizes judge the module's own overhead.
            goal = dict(goal=PAUSED_GOAL, limit=0.7, whole_time=True) if size == 10_000 else dict(goal=GOAL)
            rows.append(measure.result(SUITE, f"{size // 1000}k lines", series, size=size, markers=expected, **goal))
    return rows


if __name__ == "__main__":
    common.main(run, 9)
