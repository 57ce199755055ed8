"""Shared fixtures: the module from the development host, bridges, a log capture that keeps
level, format string and arguments apart, and a runner for import-time cases in a subprocess.
Importable helpers live in support/ (tests import from there, never from here)."""
import importlib
import os
import subprocess
import sys
import textwrap

import pytest

from support import DEVHOST, MODULE_NAME, ROOT, captured_logs, new_bridge
from support.item_answers import uncached_bridge


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Captured output and logs may hold the lone surrogates some tests send; pytest-xdist's
    workers could not send such a report, so its text is escaped there."""
    outcome = yield
    if os.environ.get("PYTEST_XDIST_WORKER"):
        report = outcome.get_result()
        report.sections = [tuple(escaped(text) for text in section) for section in report.sections]
        text = str(report.longrepr) if report.longrepr is not None else ""
        if escaped(text) != text:
            report.longrepr = escaped(text)


def escaped(text):
    return text if text.isascii() else text.encode("utf-8", "backslashreplace").decode("utf-8")


@pytest.fixture(scope="session")
def lsp():
    return importlib.import_module(MODULE_NAME)


@pytest.fixture
def logs(lsp):
    with captured_logs() as capture:
        yield capture


@pytest.fixture(scope="module")
def bridge(lsp):
    """One warmed-up bridge per test module; tests must leave its hover mode as "compact"."""
    b = new_bridge(lsp)
    yield b
    b.cleanup()


@pytest.fixture(scope="module")
def uncached(lsp):
    """A bridge that answers without the completion item cache, for comparing answers."""
    b = uncached_bridge(lsp)
    yield b
    b.cleanup()


@pytest.fixture(scope="module")
def jedi_cache_dir(tmp_path_factory):
    """Keeps the user's jedi cache untouched: jedi's parser cache and the item store go here."""
    import jedi

    old = jedi.settings.cache_directory
    jedi.settings.cache_directory = str(tmp_path_factory.mktemp("jedi_cache"))
    yield jedi.settings.cache_directory
    jedi.settings.cache_directory = old


@pytest.fixture
def fresh_bridge(lsp):
    b = new_bridge(lsp)
    yield b
    b.cleanup()


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
