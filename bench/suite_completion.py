"""get_completions against the floor (jedi's complete() plus docstring() on every item and the
first signature of every function item), the yardstick class, and pylsp's pylsp_completions,
both as shipped (documentation resolved later, per item, on the editor's request) and with
its `eager` setting (documentation resolved up front, as the bridge does).

    python bench/suite_completion.py [repeats]
"""
import common

import floor
import measure
from pylsp_baseline import Pylsp
from yardstick import PlainBridge

SUITE = "completion"
GOAL = "own overhead <= 2% of the floor"

LOCAL_CLASS = (common.ACCOUNT_CLASS + "    def withdraw(self, amount: float) -> float:\n"
               "        return self.balance - amount\n" "acct = Account('me')\n" "acct.")

SYNCED_50 = common.synced_modules(50, "def helper%d(x, y=2):\n    \"\"\"Helper %d.\"\"\"\n    return x\n")

# (case, code, line, column, modules)
CASES = [
    ("os. (hundreds of items)", "import os\nos.", 2, 3, None),
    ("json.lo", "import json\njson.lo", 2, 7, None),
    ("local class attribute", LOCAL_CLASS, 12, 5, None),
    ("cross-module, 50 synced modules", "import mod07\nfrom mod12 import helper12\nmod07.", 3, 6, SYNCED_50),
]


def variants(bridge, plain, lazy, eager, code, line, column, modules):
    def via_bridge():
        answer = bridge.get_completions(code, line, column, modules=modules)
        assert answer["error"] is None and answer["completions"], answer["error"]

    return {
        "bridge": via_bridge,
        "floor": lambda: floor.completions(bridge, code, line, column, modules=modules),
        "yardstick": lambda: plain.get_completions(code, line, column, modules=modules),
        # pylsp reads the synced modules from the same folder; it writes nothing itself.
        "pylsp": lambda: lazy.completions(code, line, column),
        "pylsp_eager": lambda: eager.completions(code, line, column),
    }


def run(repeats: int = 9) -> list:
    rows = []
    with common.ready_bridge() as bridge:
        plain = PlainBridge(bridge)
        root = bridge._temp_dir.name
        lazy, eager = Pylsp(root), Pylsp(root, eager=True)
        for case, *args in CASES:
            series = measure.rounds(variants(bridge, plain, lazy, eager, *args), repeats, warmup=2)
            rows.append(measure.result(SUITE, case, series, goal=GOAL))
    return rows


if __name__ == "__main__":
    common.main(run, 9)
