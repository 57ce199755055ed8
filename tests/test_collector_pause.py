"""The cyclic collector's first threshold is 0 for the duration of each request (for the jedi
requests, once they hold the jedi lock), and only then: restored after it (exceptions
included), never touched when the host had the collector off, never switched on or off, never
restored over a setting the host made meanwhile, and never restored while another request, on
any thread or nested, is still running. Requests back to back still leave the host's garbage
its collections."""
import gc
import os
import sys
import threading
import time

import jedi
import pytest

from support import surface


class States(list):
    inside = None  # run where the state is read, before reading it


REQUESTS, IDS = [(method, surface.call_args(method)) for method in surface.REQUESTS], surface.REQUESTS
JEDI_REQUESTS, JEDI_IDS = [r for r in REQUESTS if r[0] in surface.JEDI_REQUESTS], surface.JEDI_REQUESTS


@pytest.fixture
def seen(bridge, monkeypatch):
    """(gc.isenabled(), first threshold) as jedi.Script or the pyflakes run sees it, per call;
    `seen.inside` runs in there first. The collector's switch and thresholds are the host's
    defaults before and after."""
    states = States()
    isenabled, get_threshold = gc.isenabled, gc.get_threshold  # a test may break the module's

    def observed(real):
        def observe(*args, **kwargs):
            if states.inside:
                states.inside()
            states.append((isenabled(), get_threshold()[0]))
            return real(*args, **kwargs)

        return observe

    monkeypatch.setattr(jedi, "Script", observed(jedi.Script))
    # what a request without jedi asks first (the pyflakes run)
    for name in {surface.request(m).asks[0] for m in surface.REQUESTS if m not in surface.JEDI_REQUESTS}:
        monkeypatch.setattr(bridge, name, observed(getattr(bridge, name)))
    thresholds = gc.get_threshold()
    gc.enable()
    yield states
    gc.set_threshold(*thresholds)
    gc.enable()


def call(bridge, method, args):
    return getattr(bridge, method)(*args)


@pytest.mark.parametrize("method, args", REQUESTS, ids=IDS)
@pytest.mark.parametrize("host_enabled", [True, False])
def test_threshold_0_during_request_and_as_before_after(bridge, seen, method, args, host_enabled):
    thresholds = gc.get_threshold()
    if not host_enabled:
        gc.disable()
    answer = call(bridge, method, args)
    assert answer["error"] is None
    # Changed with the pause by threshold alone: the switch is the host's inside too (it was
    # switched off here before), and a host with the collector off has nothing paused.
    assert seen == [(host_enabled, 0 if host_enabled else thresholds[0])]
    assert gc.isenabled() is host_enabled and gc.get_threshold() == thresholds


@pytest.mark.parametrize("method, args", REQUESTS, ids=IDS)
@pytest.mark.parametrize(
    "host_change, expected",
    [(gc.disable, (False, None)), (lambda: gc.set_threshold(5000, 20, 20), (True, (5000, 20, 20)))],
    ids=["disable", "set_threshold"],
)
def test_host_changes_made_during_a_request_stay(bridge, seen, method, args, host_change, expected):
    thresholds = gc.get_threshold()
    seen.inside = host_change
    assert call(bridge, method, args)["error"] is None
    enabled, after = expected
    assert (gc.isenabled(), gc.get_threshold()) == (enabled, after or thresholds)


@pytest.mark.parametrize("exc", [ValueError("boom"), KeyboardInterrupt()], ids=["answered", "propagated"])
@pytest.mark.parametrize("method, args", REQUESTS, ids=IDS)
def test_collector_restored_after_a_failure(bridge, seen, method, args, exc):
    def fail():
        raise exc

    thresholds = gc.get_threshold()
    seen.inside = fail
    if isinstance(exc, KeyboardInterrupt):
        with pytest.raises(KeyboardInterrupt):
            call(bridge, method, args)
    else:
        assert call(bridge, method, args)["error"] == "boom"
    assert gc.isenabled() and gc.get_threshold() == thresholds


@pytest.mark.parametrize("broken", ["isenabled", "get_threshold", "set_threshold"])
def test_unusable_gc_module_leaves_the_request_unpaused(bridge, seen, monkeypatch, broken):
    def refuse(*args):
        raise RuntimeError("gc refused")

    thresholds, unraisable = gc.get_threshold(), []
    monkeypatch.setattr(gc, broken, refuse)
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    answer = bridge.get_diagnostics("import os\n")
    monkeypatch.undo()
    assert answer["error"] is None and "diagnostics" in answer
    assert [str(u.exc_value) for u in unraisable][:1] == ["gc refused"]
    assert gc.get_threshold() == thresholds


def test_nested_request_leaves_the_pause_on(bridge, seen):
    after_nested = []

    def nested():
        seen.inside = None
        bridge.get_diagnostics("import os\n")
        after_nested.append(gc.get_threshold()[0])

    thresholds = gc.get_threshold()
    seen.inside = nested
    assert bridge.get_completions("import os\nos.pa", 2, 5)["error"] is None
    assert after_nested == [0]
    assert gc.get_threshold() == thresholds


def test_request_ending_on_another_thread_does_not_end_the_pause(bridge, seen):
    entered, release, at_end = threading.Event(), threading.Event(), []

    def hold():
        seen.inside = None  # the other thread's request passes straight through
        entered.set()
        release.wait(60)
        at_end.append(gc.get_threshold()[0])

    thresholds = gc.get_threshold()
    seen.inside = hold
    worker = threading.Thread(target=bridge.get_completions, args=("import os\nos.pa", 2, 5))
    worker.start()
    try:
        assert entered.wait(60)
        assert bridge.get_diagnostics("import os\n")["error"] is None
        assert gc.get_threshold()[0] == 0  # the first request is still running
    finally:
        release.set()
        worker.join(60)
    assert at_end == [0]
    assert gc.get_threshold() == thresholds


@pytest.mark.parametrize("method, args", JEDI_REQUESTS, ids=JEDI_IDS)
def test_request_waiting_for_the_jedi_lock_pauses_nothing(bridge, seen, logs, method, args):
    """A request holds the lock with nothing paused (the host had the collector off when it
    started); the host switches it on, and a second request that now waits for the lock must
    leave the threshold alone until it has the lock."""
    entered, release = threading.Event(), threading.Event()

    def hold():
        if threading.current_thread() is holder:
            entered.set()
            release.wait(60)

    thresholds = gc.get_threshold()
    seen.inside = hold
    gc.disable()
    holder = threading.Thread(target=bridge.get_completions, args=("import os\nos.pa", 2, 5))
    waiter = threading.Thread(target=call, args=(bridge, method, args))
    holder.start()
    try:
        assert entered.wait(60)
        gc.enable()
        waiter.start()
        for _ in range(6000):  # its request line is logged just before it asks for the lock
            if any(r.threadName == waiter.name for r in logs.records):
                break
            time.sleep(0.01)
        time.sleep(0.2)
        waiting = (gc.get_threshold(), len(seen))
    finally:
        release.set()
        holder.join(60)
        waiter.join(60)
    assert waiting == (thresholds, 0)  # and it has not reached jedi
    assert seen[1:] == [(True, 0)]  # paused once it held the lock
    assert gc.get_threshold() == thresholds


def test_overlapping_requests_on_two_threads_leave_the_host_its_collections(bridge, seen):
    """Two threads run diagnostics back to back, overlapping, so that no moment is free of a
    request, while a host thread makes cyclic garbage: the pause is lifted now and then, and
    CPython collects it. Each request lasts longer than the pause may."""
    starts, running, done = [], threading.Event(), threading.Event()

    def count(phase, info):
        if phase == "start" and running.is_set():
            starts.append(info["generation"])

    def host():
        while not done.is_set():
            for _ in range(1000):
                cycle = []
                cycle.append(cycle)
            time.sleep(0.001)

    def requests():
        for _ in range(6):
            bridge.get_diagnostics("import os\n")

    thresholds = gc.get_threshold()
    seen.inside = lambda: time.sleep(0.6)
    threads = [threading.Thread(target=requests) for _ in range(2)]
    garbage = threading.Thread(target=host)
    gc.callbacks.append(count)
    try:
        garbage.start()
        running.set()
        for t in threads:
            t.start()
            time.sleep(0.3)
        for t in threads:
            t.join(120)
        running.clear()
    finally:
        done.set()
        garbage.join(60)
        gc.callbacks.remove(count)
    assert len(starts) >= 4  # about one a second; a pause held from the first start to the last end made 2
    assert gc.get_threshold() == thresholds


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_child_forked_during_another_threads_request_has_the_threshold_back(bridge, seen):
    entered, release = threading.Event(), threading.Event()

    def hold():
        entered.set()
        release.wait(60)

    thresholds = gc.get_threshold()
    seen.inside = hold
    worker = threading.Thread(target=bridge.get_diagnostics, args=("import os\n",))
    worker.start()
    try:
        assert entered.wait(60)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if gc.isenabled() and gc.get_threshold() == thresholds else 1)
        _, status = os.waitpid(pid, 0)
    finally:
        release.set()
        worker.join(60)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    assert gc.get_threshold() == thresholds


def test_collector_switched_back_on_by_a_dependency_still_does_not_run(bridge, seen):
    """parso calls gc.enable() after each cache file it unpickles; no collection may follow."""
    runs = []

    def count(phase, info):
        if phase == "start":
            runs.append(info["generation"])

    def garbage():
        gc.disable()
        gc.enable()
        gc.callbacks.append(count)
        try:
            for _ in range(50_000):
                cycle = []
                cycle.append(cycle)
        finally:
            gc.callbacks.remove(count)

    thresholds = gc.get_threshold()
    seen.inside = garbage
    bridge.get_diagnostics("import os\n")
    assert runs == [] and gc.get_threshold() == thresholds and gc.isenabled()


def test_a_request_holding_the_pause_half_a_second_has_it_lifted_from_the_watchdog(bridge, seen):
    """No boundary comes during one long request: the watchdog's thread lets CPython collect what
    is due (here: what the request allocated before it waits)."""
    requester, collectors, kept = threading.get_ident(), [], []

    def note(phase, info):
        if phase == "start":
            collectors.append(threading.get_ident())

    seen.inside = lambda: kept.append([[] for _ in range(5000)]) or time.sleep(1.5)
    gc.callbacks.append(note)
    try:
        assert bridge.get_diagnostics("import os\n")["error"] is None
    finally:
        gc.callbacks.remove(note)
    assert seen == [(True, 0)]
    assert any(thread != requester for thread in collectors), collectors
