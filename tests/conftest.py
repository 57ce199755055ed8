"""Shared fixtures: the module from the development host, bridges, a log capture that keeps
level, format string and arguments apart, and a runner for import-time cases in a subprocess."""
import logging
import os
import subprocess
import sys
import textwrap
import threading

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The folder holding the corvane_master package with the compiled module; a build elsewhere can
# point the tests at its own copy.
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
if DEVHOST not in sys.path:
    sys.path.insert(0, DEVHOST)

MODULE_NAME = "corvane_master.python_server.lsp_bridge"
WARMUP_THREAD = "LSP-corvane-preload"


class LogCapture(logging.Handler):
    """Records every call on the module logger as (level, format, args, thread)."""

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append(record)

    @property
    def calls(self):
        return [(r.levelname, r.msg, r.args) for r in self.records]

    def messages(self, level=None):
        return [r.getMessage() for r in self.records if level is None or r.levelname == level]

    def formats(self, level=None):
        return [r.msg for r in self.records if level is None or r.levelname == level]

    def clear(self):
        self.records.clear()


@pytest.fixture(scope="session")
def lsp():
    import importlib

    return importlib.import_module(MODULE_NAME)


@pytest.fixture
def logs(lsp):
    capture = LogCapture()
    log = logging.getLogger(MODULE_NAME)
    old_level = log.level
    log.setLevel(logging.DEBUG)
    log.addHandler(capture)
    try:
        yield capture
    finally:
        log.removeHandler(capture)
        log.setLevel(old_level)


def wait_for_warmups(timeout=120):
    for t in threading.enumerate():
        if t.name == WARMUP_THREAD:
            t.join(timeout)


def new_bridge(lsp):
    b = lsp.LSPBridge()
    wait_for_warmups()
    return b


@pytest.fixture(scope="module")
def bridge(lsp):
    """One warmed-up bridge per test module; tests must leave its hover mode as "compact"."""
    b = new_bridge(lsp)
    yield b
    b.cleanup()


@pytest.fixture
def fresh_bridge(lsp):
    b = new_bridge(lsp)
    yield b
    b.cleanup()


def python_executable():
    return sys.executable


@pytest.fixture
def run_python():
    """Runs a snippet in a new interpreter with the development host on its path; returns the
    completed process (stdout, stderr, returncode)."""

    def run(code, timeout=120, env=None):
        full_env = dict(os.environ)
        full_env["PYTHONPATH"] = DEVHOST + os.pathsep + full_env.get("PYTHONPATH", "")
        full_env.update(env or {})
        return subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True,
            text=True,
            timeout=timeout,
            env=full_env,
            cwd=ROOT,
        )

    return run
