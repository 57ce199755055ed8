"""The cyclic collector is off for the duration of each request, and only then: back on after it
(exceptions included), left off when the host had switched it off, and never switched back on
while another request, on any thread or nested, is still running."""
import gc
import os
import threading

import jedi
import pytest

class States(list):
    inside = None  # run where the state is read, before reading it


REQUESTS = [
    ("get_completions", ("import os\nos.pa", 2, 5)),
    ("get_hover", ("import os\nos.path\n", 2, 4)),
    ("get_signature_help", ("import os\nos.path.join(", 2, 13)),
    ("get_diagnostics", ("import os\n",)),
]
IDS = [method for method, _ in REQUESTS]


@pytest.fixture
def seen(bridge, monkeypatch):
    """gc.isenabled() as jedi.Script or the pyflakes run sees it, per call; `seen.inside` runs
    in there first."""
    states = States()
    real_script, real_pyflakes = jedi.Script, bridge._run_pyflakes

    def observe():
        if states.inside:
            states.inside()
        states.append(gc.isenabled())

    def script(*args, **kwargs):
        observe()
        return real_script(*args, **kwargs)

    def pyflakes(*args):
        observe()
        return real_pyflakes(*args)

    monkeypatch.setattr(jedi, "Script", script)
    monkeypatch.setattr(bridge, "_run_pyflakes", pyflakes)
    gc.enable()
    yield states
    gc.enable()


def call(bridge, method, args):
    return getattr(bridge, method)(*args)


@pytest.mark.parametrize("method, args", REQUESTS, ids=IDS)
@pytest.mark.parametrize("host_enabled", [True, False])
def test_collector_off_during_request_and_as_before_after(bridge, seen, method, args, host_enabled):
    if not host_enabled:
        gc.disable()
    answer = call(bridge, method, args)
    assert answer["error"] is None
    assert seen == [False]
    assert gc.isenabled() is host_enabled


@pytest.mark.parametrize("exc", [ValueError("boom"), KeyboardInterrupt()], ids=["answered", "propagated"])
@pytest.mark.parametrize("method, args", REQUESTS, ids=IDS)
def test_collector_restored_after_a_failure(bridge, seen, method, args, exc):
    def fail():
        raise exc

    seen.inside = fail
    if isinstance(exc, KeyboardInterrupt):
        with pytest.raises(KeyboardInterrupt):
            call(bridge, method, args)
    else:
        assert call(bridge, method, args)["error"] == "boom"
    assert gc.isenabled()


def test_nested_request_leaves_the_collector_off(bridge, seen):
    after_nested = []

    def nested():
        seen.inside = None
        bridge.get_diagnostics("import os\n")
        after_nested.append(gc.isenabled())

    seen.inside = nested
    assert bridge.get_completions("import os\nos.pa", 2, 5)["error"] is None
    assert after_nested == [False]
    assert gc.isenabled()


def test_request_ending_on_another_thread_does_not_end_the_pause(bridge, seen):
    entered, release, at_end = threading.Event(), threading.Event(), []

    def hold():
        seen.inside = None  # the other thread's request passes straight through
        entered.set()
        release.wait(60)
        at_end.append(gc.isenabled())

    seen.inside = hold
    worker = threading.Thread(target=bridge.get_completions, args=("import os\nos.pa", 2, 5))
    worker.start()
    try:
        assert entered.wait(60)
        assert bridge.get_diagnostics("import os\n")["error"] is None
        assert not gc.isenabled()  # the first request is still running
    finally:
        release.set()
        worker.join(60)
    assert at_end == [False]
    assert gc.isenabled()


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_child_forked_during_another_threads_request_has_the_collector_on(bridge, seen):
    entered, release = threading.Event(), threading.Event()

    def hold():
        entered.set()
        release.wait(60)

    seen.inside = hold
    worker = threading.Thread(target=bridge.get_diagnostics, args=("import os\n",))
    worker.start()
    try:
        assert entered.wait(60)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if gc.isenabled() else 1)
        _, status = os.waitpid(pid, 0)
    finally:
        release.set()
        worker.join(60)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    assert gc.isenabled()


def test_collector_switched_back_on_by_a_dependency_still_does_not_run(bridge, seen):
    """parso calls gc.enable() after each cache file it unpickles; no collection may follow."""
    runs = []

    def garbage():
        gc.enable()
        for _ in range(50_000):
            cycle = []
            cycle.append(cycle)

    def count(phase, info):
        if phase == "start":
            runs.append(info["generation"])

    thresholds = gc.get_threshold()
    seen.inside = garbage
    gc.callbacks.append(count)
    try:
        bridge.get_diagnostics("import os\n")
    finally:
        gc.callbacks.remove(count)
    assert runs == [] and gc.get_threshold() == thresholds and gc.isenabled()
