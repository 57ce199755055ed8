"""Eight threads issuing requests on one bridge while others run the warm-up, update the search
paths, switch the hover mode and sync modules; and cleanup while requests and warm-ups run.
No crash, no deadlock (every thread must finish within a bound), every answer well-formed,
and jedi never used by two threads at once."""
import contextlib
import os
import signal
import sys
import threading

import pytest

from support import FakeScript, fake_bridge, fake_jedi, surface, wait_for_warmups

# tools/, on the path through support
from answer_shapes import REQUESTS, check_answer

JOIN_SECONDS = 240
REQUEST_THREADS = 8
# Each request asks its sample after these lines.
CODE = ("import os\nimport shared_q\n\ndef greet(name, count=1):\n    return name\n\n"
        "greet('a', )\nos.path.jo\nshared_q.helper(1)\n")
MODULES = {"shared_q": "def helper(x):\n    return x\n", "other_q": "VALUE = 1\n"}


class Workers:
    """Threads that record what escapes them; join() fails the test on a hang or an error."""

    def __init__(self):
        self.threads, self.errors = [], []
        self.start_line = threading.Barrier(1)

    def add(self, target, *args):
        def run():
            self.start_line.wait()
            try:
                target(*args)
            except BaseException as e:  # noqa: B902 - anything escaping a thread fails the test
                self.errors.append((threading.current_thread().name, repr(e)))

        self.threads.append(threading.Thread(target=run, name=f"worker-{len(self.threads)}", daemon=True))

    def run(self):
        self.start_line = threading.Barrier(len(self.threads))
        for t in self.threads:
            t.start()
        for t in self.threads:
            t.join(JOIN_SECONDS)
        assert [t.name for t in self.threads if t.is_alive()] == [], "deadlock or hang"
        assert self.errors == []


def request(bridge, method, n, path=None):
    dirty = {f"mine_{n % 3}": f"N = {n}\n"}
    args = surface.call_args(method, CODE, path=path, module_name=path, modules=MODULES, dirty_files=dirty)
    return check_answer(method, getattr(bridge, method)(*args), strict=True)


def requester(bridge, rounds, answers, index, stop=None):
    for n in range(rounds):
        if stop is not None and stop.is_set() and n >= 2:
            return
        method = REQUESTS[(n + index) % len(REQUESTS)]
        answers.append((method, request(bridge, method, n + index, "main_q" if n % 2 else None)))


def maintenance(bridge, rounds):
    """What the host does from its other threads: one kind of call per thread."""
    return [
        lambda: [bridge.preload_corvane_module_async() for _ in range(rounds)],
        lambda: [bridge.update_sys_paths(sys.path[:4] + [f"/nowhere/{i}"]) for i in range(rounds)],
        lambda: [bridge.set_hover_mode(("detailed", "compact")[i % 2]) for i in range(rounds * 5)],
        lambda: [bridge.sync_modules(MODULES, {"other_q": f"VALUE = {i}\n"}) for i in range(rounds * 5)],
    ]


def run_mixed(bridge, rounds):
    workers, answers = Workers(), []
    for i in range(REQUEST_THREADS):
        workers.add(requester, bridge, rounds, answers, i)
    for job in maintenance(bridge, rounds):
        workers.add(job)
    workers.run()
    wait_for_warmups()
    bridge.set_hover_mode("compact")
    assert len(answers) == REQUEST_THREADS * rounds
    return answers


class ExclusiveScript(FakeScript):
    """Fails the run if two threads are ever inside jedi at the same moment."""

    pause = 0.0005
    inside = []
    overlaps = []
    guard = threading.Lock()

    def _answer(self, what, **position):
        with self.guard:
            self.inside.append(threading.get_ident())
            if len(self.inside) > 1:
                self.overlaps.append(what)
        try:
            return super()._answer(what, **position)
        finally:
            with self.guard:
                self.inside.remove(threading.get_ident())


def test_many_threads_on_fake_jedi(lsp):
    ExclusiveScript.overlaps.clear()
    with fake_bridge(lsp, ExclusiveScript) as bridge:
        answers = run_mixed(bridge, rounds=60)
    assert [a for m, a in answers if a["error"] is not None] == []
    assert ExclusiveScript.overlaps == []


def test_many_threads_on_real_jedi(fresh_bridge):
    answers = run_mixed(fresh_bridge, rounds=6)
    assert [a["error"] for m, a in answers if a["error"] is not None] == []
    completions = fresh_bridge.get_completions(CODE, 8, 10)["completions"]
    assert "join" in [c["label"] for c in completions]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_fork_while_a_warmup_holds_jedi(lsp):
    # A child made by fork() keeps only the forking thread; the jedi lock that the warm-up held
    # at that moment must not stay taken for ever in the child.
    inside, release = threading.Event(), threading.Event()

    class BlockingScript(FakeScript):
        def complete(self, **position):
            if threading.current_thread().name == "LSP-corvane-preload":
                inside.set()
                release.wait(60)
            return super().complete()

    with fake_bridge(lsp, BlockingScript) as bridge:
        assert inside.wait(30)
        pid = os.fork()
        if pid == 0:  # the child: answer, or be killed by the alarm
            signal.alarm(30)
            ok = bridge.get_completions("x", 1, 0)["error"] is None
            os._exit(0 if ok else 1)
        release.set()
        _, status = os.waitpid(pid, 0)
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status


def clean_up_while_requests_run(bridge, rounds):
    workers, answers, stop = Workers(), [], threading.Event()
    for i in range(REQUEST_THREADS):
        workers.add(requester, bridge, rounds, answers, i, stop)
    workers.add(lambda: [bridge.preload_corvane_module_async() for _ in range(3)])

    def clean_up_once_requests_flow():
        while len(answers) < REQUEST_THREADS and any(t.is_alive() for t in workers.threads[:REQUEST_THREADS]):
            stop.wait(0.001)
        bridge.cleanup()
        stop.set()

    workers.add(clean_up_once_requests_flow)
    workers.run()
    wait_for_warmups()
    return answers


@pytest.mark.parametrize("real_jedi", [False, True])
def test_cleanup_while_requests_and_warmups_run(lsp, real_jedi):
    with contextlib.nullcontext() if real_jedi else fake_jedi(lsp, ExclusiveScript):
        bridge = lsp.LSPBridge()
        try:
            answers = clean_up_while_requests_run(bridge, rounds=6 if real_jedi else 200)
        finally:
            wait_for_warmups()
            bridge.cleanup()
        assert bridge._temp_dir is None
        gone = "'NoneType' object has no attribute 'name'"
        assert {a["error"] for m, a in answers if a["error"] is not None} <= {gone}
        # Afterwards a request that needs the directory is an error result; the others work.
        assert request(bridge, "get_completions", 0, "main_q")["error"] == gone
        assert request(bridge, "get_diagnostics", 0)["error"] is None
