"""What happens once per process, each sample in a fresh interpreter (bench/cold.py): the import
of the module with its first construction, and the first `corvane.` completion right after
construction, with the warm-up still running and after it has finished. The processes of one
round run one after the other, in an order shuffled from round to round.

Fresh processes still share the disk caches of parso (pickled parse trees under ~/.cache), as
the host's restarted server would.

    python bench/suite_startup.py [repeats]
"""
import json
import os
import random
import subprocess
import sys

import common

import measure

SUITE = "startup"
HERE = os.path.dirname(os.path.abspath(__file__))

IMPORT_MODES = {"bridge": "bridge-import", "floor": "floor-import", "pylsp": "pylsp-import"}
# Two cases share these processes: right after construction (bridge_now against a cold floor
# and a cold pylsp) and after the warm-up (bridge_after against floor_after).
CORVANE_MODES = {"bridge_now": "bridge-corvane-now", "floor": "floor-corvane", "pylsp": "pylsp-corvane",
                 "bridge_after": "bridge-corvane-after", "floor_after": "floor-corvane-after"}


def sample(mode):
    out = subprocess.run([sys.executable, os.path.join(HERE, "cold.py"), mode], check=True, capture_output=True,
                         text=True, env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1"}).stdout
    return json.loads(out.strip().splitlines()[-1])


def collect(modes, repeats):
    """{variant: [timings dict per round]}, one warm-up round dropped (it fills the disk caches)."""
    names = list(modes)
    samples = {name: [] for name in names}
    order = random.Random(7)
    for r in range(repeats + 1):
        order.shuffle(names)
        for name in names:
            timings = sample(modes[name])
            if r:
                samples[name].append(timings)
    return samples


def series(samples, key):
    return {name: [t[key] for t in runs] for name, runs in samples.items() if key in runs[0]}


def request_series(samples, labels):
    """measure.Series of the request times with their time in the collector, from
    {label in the report: process mode}."""
    out = measure.Series(list(labels))
    for label, name in labels.items():
        out[label][:] = [t["request"] for t in samples[name]]
        out.gc[label][:] = [t["request_gc"] for t in samples[name]]
    return out


def run(repeats: int = 5) -> list:
    imports = collect(IMPORT_MODES, repeats)
    corvane = collect(CORVANE_MODES, repeats)
    rows = [
        measure.result(SUITE, "import + first construction", series(imports, "total"),
                       note="import of the module and LSPBridge(); the warm-up thread then runs on",
                       details={part: series(imports, part) for part in ("import", "construct", "warmup")}),
    ]
    rows.append(measure.result(
        SUITE, "corvane. right after construction",
        request_series(corvane, {"bridge": "bridge_now", "floor": "floor", "pylsp": "pylsp"}),
        note="the request waits for the warm-up to finish, then answers; the floor and pylsp are asked cold",
        details={"from_construction": series(corvane, "from_construction")}))
    rows.append(measure.result(
        SUITE, "corvane. after the warm-up finished",
        request_series(corvane, {"bridge": "bridge_after", "floor": "floor_after"}),
        goal="own overhead <= 2% of the floor",
        note="the floor puts the warm-up's question (complete() alone) to jedi first, then the request's; "
             "its process imports what the module imports, so both carry the same heap"))
    return rows


if __name__ == "__main__":
    common.main(run, 5)
