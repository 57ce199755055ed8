"""sync_modules with 1, 100 and 1,000 modules of 2 KB against the floor (the same files written
with open() from Python), the yardstick class, and pylsp's nearest counterpart, which keeps
opened documents in memory and writes nothing (so it is no like-for-like baseline: jedi cannot
see those documents across modules unless they are saved to disk).

    python bench/suite_sync.py [repeats]
"""
import common

import floor
import measure
from pylsp_baseline import Pylsp
from yardstick import PlainBridge

SUITE = "sync_modules"
GOAL = "time linear in the number of modules"
COUNTS = (1, 100, 1_000)
MODULE_TEXT = ("def f%d(x):\n    return x + 1\n\n" * 80)[:2048]


def modules(count):
    return {"m%04d" % i: MODULE_TEXT for i in range(count)}


def run(repeats: int = 9) -> list:
    rows = []
    with common.ready_bridge() as bridge:
        plain = PlainBridge(bridge)
        lsp = Pylsp(bridge._temp_dir.name)
        folder = bridge._temp_dir.name
        for count in COUNTS:
            mods = modules(count)
            series = measure.rounds({
                "bridge": lambda: bridge.sync_modules(mods),
                "floor": lambda: floor.write_modules(folder, mods),
                "yardstick": lambda: plain.sync_modules(mods),
                "pylsp": lambda: lsp.open_modules(mods),
            }, repeats, warmup=1)
            rows.append(measure.result(SUITE, f"{count} modules of 2 KB", series, goal=GOAL, size=count))
    return rows


if __name__ == "__main__":
    common.main(run, 9)
