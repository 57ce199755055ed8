"""A shortened soak (tools/soak.py; `make soak` runs the full 5,000 requests and 10,000 calls per
method): in its own interpreter, so that file descriptors, threads and memory are the bridge's
and jedi's alone."""
import json
import os
import subprocess
import sys

import pytest

from support import DEVHOST, METHOD_ORDER, ROOT

import soak  # tools/, on the path through support

REQUESTS = 1000
# Under `make asan` freed memory waits in the sanitizer's quarantine (the tool knows too).
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
# Above the tool's slack for None/True/False (200) and allocated blocks (100), so a reference or
# an object leaked per call shows.
REFCOUNT_CALLS = 400


# The run takes well under a minute (a few under the sanitizer); its own limit stays inside
# pytest.ini's per-test timeout (300 s), so a hung soak fails here with its output, not there.
SOAK_TIMEOUT = 240


@pytest.fixture(scope="module")
def figures():
    env = dict(os.environ, LSP_BRIDGE_DEVHOST=DEVHOST)
    try:
        proc = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "soak.py"), "--json", "--requests",
                               str(REQUESTS), "--refcount-calls", str(REFCOUNT_CALLS)],
                              capture_output=True, text=True, env=env, cwd=ROOT, timeout=SOAK_TIMEOUT)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"soak ran over {SOAK_TIMEOUT} s: {(expired.stderr or b'')[-3000:]!r}")
    lines = [line for line in proc.stdout.splitlines() if line.startswith("SOAK ")]
    assert lines, proc.stderr[-3000:]
    return json.loads(lines[-1][len("SOAK "):])


def test_requests_leave_memory_files_and_threads_as_they_were(figures):
    soak = figures["requests_part"]
    assert soak["answers"] == REQUESTS and soak["errors"] == 0
    assert soak["baseline_after"] == REQUESTS // 2
    assert SANITIZED or soak["rss_growth"] < 0.05, soak["rss_curve_kb"]
    assert (soak["fds"], soak["threads"], soak["os_threads"]) == (
        soak["fds_after"], soak["threads_after"], soak["os_threads_after"])
    assert soak["sync_dir_ok"] and soak["sync_dir_files"] == 20


def test_no_reference_count_drifts(figures):
    drift = figures["refcounts"]
    # a case for every method (a label starts with the methods it calls) and the sort key
    assert {name for label in drift for name in label.split(" ")[0].split("+")} == set(METHOD_ORDER) | {"sort"}
    assert {label: d["arguments"] for label, d in drift.items() if any(d["arguments"])} == {}
    # None/True/False and the allocated blocks: within the soak tool's slack for settling caches.
    assert figures["problems"] == []


class _Plain:
    pass


def _look_up_fresh_names(obj):
    names = ["".join(["not_", "there"]) for _ in range(50)]  # alive at once: 50 addresses
    for name in names:
        getattr(obj, name, None)


def _cases():
    kept = []
    only_pymalloc = pytest.mark.skipif(not sys.getallocatedblocks(), reason="blocks are counted by pymalloc only")
    return [
        pytest.param(lambda: None, (), False, id="nothing kept"),
        # Look-ups by freshly made names fill the type attribute cache, which is no leak.
        pytest.param(_look_up_fresh_names, (_Plain(),), False, id="fresh attribute names"),
        pytest.param(lambda: kept.append(object()), (), True, id="an object per call", marks=only_pymalloc),
        pytest.param(lambda a: kept.append(a), (object(),), True, id="a reference to the argument per call"),
        pytest.param(lambda: kept.append(None), (), True, id="a reference to None per call"),
    ]


@pytest.mark.parametrize("fn, args, leaking", _cases())
def test_the_drift_check_tells_leaks_from_settling_caches(fn, args, leaking):
    # No warm-up: the type attribute cache starts empty and fills during the calls.
    drift = soak.case_drift(fn, args, list(args), REFCOUNT_CALLS)
    assert soak.leaks(drift, REFCOUNT_CALLS) == leaking, drift
