"""What happens once per process, each sample in a fresh interpreter (bench/cold.py): the import
of the module with its first construction, and the first `corvane.` completion right after
construction, with the warm-up still running and after it has finished. The processes of one
round run one after the other, in an order shuffled from round to round.

Then, in fresh processes as well: the first `os.` completion asked right after construction when
an earlier process has filled the module's on-disk item cache, with the cache (bridge) and
without it (uncached), against the floor asked cold; the first completion of each other library
case after it; and a 10,000-line diagnostics request once the warm-up has finished.

Fresh processes share the disk caches of parso (pickled parse trees) and the module's item
cache, as the host's restarted server would; all of them live in a temporary XDG_CACHE_HOME made
for the run, which the dropped first round fills.

    python bench/suite_startup.py [repeats]
"""
import json
import os
import random
import subprocess
import sys
import tempfile

import common

import measure
from suite_completion import LIBRARY_CASES

SUITE = "startup"
HERE = os.path.dirname(os.path.abspath(__file__))

IMPORT_MODES = {"bridge": "bridge-import", "floor": "floor-import", "pylsp": "pylsp-import"}
# Two cases share these processes: right after construction (bridge_now against a cold floor
# and a cold pylsp) and after the warm-up (bridge_after against floor_after).
NO_DISK_CACHE = "LSP_BRIDGE_NO_PERSISTENT_CACHE"
CORVANE_MODES = {"bridge_now": "bridge-corvane-now", "floor": "floor-corvane", "pylsp": "pylsp-corvane",
                 "bridge_after": "bridge-corvane-after", "floor_after": "floor-corvane-after"}


LIBRARY_MODES = {"bridge": "bridge-library-now", "uncached": ("bridge-library-uncached", {NO_DISK_CACHE: "1"}),
                 "floor": "floor-library"}
DIAGNOSTICS_MODES = {"bridge": "bridge-diagnostics", "floor": "floor-diagnostics"}


def sample(mode):
    """One process of `mode`, or of (mode, extra environment)."""
    mode, env = mode if isinstance(mode, tuple) else (mode, {})
    out = subprocess.run([sys.executable, os.path.join(HERE, "cold.py"), mode], check=True, capture_output=True,
                         text=True, env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1", **env}).stdout
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


def same(modes):
    """Each variant under its own name in the report."""
    return {name: name for name in modes}


def run(repeats: int = 5) -> list:
    saved = os.environ.get("XDG_CACHE_HOME")
    with tempfile.TemporaryDirectory(prefix="lsp-bench-cache-") as caches:
        os.environ["XDG_CACHE_HOME"] = caches
        try:
            return measured(repeats)
        finally:
            if saved is None:
                del os.environ["XDG_CACHE_HOME"]
            else:
                os.environ["XDG_CACHE_HOME"] = saved


def measured(repeats):
    imports = collect(IMPORT_MODES, repeats)
    corvane = collect(CORVANE_MODES, repeats)
    # The heavier processes get fewer rounds, to keep the run within its budget.
    library = collect(LIBRARY_MODES, max(2, repeats // 3))
    diagnostics = collect(DIAGNOSTICS_MODES, max(2, repeats // 3))
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
    rows.append(measure.result(
        SUITE, "first os. right after construction, item cache on disk", request_series(library, same(LIBRARY_MODES)),
        goal="filled disk cache: <= 0.5 of the floor's cold figure", limit=0.5, whole_time=True,
        note="an earlier process filled the on-disk item cache; the request also waits out the warm-up; "
             "uncached: the item cache off, on disk and in memory"))
    for case, *_ in LIBRARY_CASES[1:]:
        rows.append(measure.result(SUITE, f"first {case} in a fresh process", series(library, "first " + case),
                                   note="asked after the first os. of the same process"))
    rows.append(measure.result(
        SUITE, "10k-line diagnostics in a fresh process", request_series(diagnostics, same(DIAGNOSTICS_MODES)),
        goal="collector paused: <= 0.7 of the floor", limit=0.7, whole_time=True,
        note="after the warm-up; the floor's process also holds jedi's answer to the warm-up's question"))
    return rows


if __name__ == "__main__":
    common.main(run, 5)
