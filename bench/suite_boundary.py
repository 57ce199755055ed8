"""A call through the boundary against a plain Python method doing the same steps.

The bridge's method is bound like a Python function (the interpreter's method-call path skips
the bound-method object for both), then the boundary binds and type-checks the arguments before
the C++ body runs. The yardstick's methods take the same steps in Python. Each sample is the
mean of many calls; samples of the two are interleaved.

    python bench/suite_boundary.py [repeats]
"""
import common

import measure
from yardstick import PlainBridge

SUITE = "boundary"
GOAL = "no slower than a Python method call (ratio <= 1)"
NUMBER = 100_000

# (case, statement with `obj` standing for the bridge or the Python object)
CASES = [
    ("method call, positional", "obj._is_module_name('x')"),
    ("method call, keyword", "obj._is_module_name(path='x')"),
    ("near-empty body, two arguments", "obj._parse_pyflakes_message('', 4)"),
]


def run(repeats: int = 15) -> list:
    rows = []
    with common.ready_bridge() as bridge:
        g = {"bridge": bridge, "plain": PlainBridge(bridge)}
        for case, stmt in CASES:
            series = measure.micro_rounds({"bridge": stmt.replace("obj", "bridge"),
                                           "python": stmt.replace("obj", "plain")}, g, repeats, NUMBER)
            rows.append(measure.result(SUITE, case, series, floor="python", goal=GOAL))
    return rows


if __name__ == "__main__":
    common.main(run, 15)
