"""What the tests share, apart from the fixtures in conftest.py: where the module and the tools
are, a log capture that keeps level, format string and arguments apart, bridges, the one jedi
fake (tools/jedi_fakes.py) and the ways to patch it in, the method order of the one table of
the public surface (tools/public_surface.py), jedi-like names for hover and signature
help, and hypothesis settings that `make fuzz` scales up.

Test files import from here (`from support import ...`), never from conftest or another test;
`support.samples` holds texts and positions to ask about, `support.hostile_values` the values
for argument fuzzing."""
import contextlib
import logging
import os
import sys
import threading
from unittest import mock

from hypothesis import HealthCheck, settings

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")
# The folder holding the corvane_master package with the compiled module; a build elsewhere can
# point the tests at its own copy.
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
for _folder in (DEVHOST, TOOLS):
    if _folder not in sys.path:
        sys.path.insert(0, _folder)

from jedi_fakes import DEFAULT_ANSWERS, FakeName, FakeScript, FakeSignature, script_with  # noqa: E402,F401
# The module's names, the class, its methods and the requests: one table for every test.
import public_surface as surface  # noqa: E402,F401
from public_surface import METHOD_ORDER  # noqa: E402,F401

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


@contextlib.contextmanager
def captured_logs():
    """A LogCapture on the module logger, at DEBUG, for the length of the block."""
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
    """A bridge whose warm-up has finished."""
    b = lsp.LSPBridge()
    wait_for_warmups()
    return b


# A meta path finder for import-time cases run in a subprocess: `Trap(rules)` raises
# rules[name](...) when `name` is imported.
FINDER = """
import importlib.abc, json, sys
class Trap(importlib.abc.MetaPathFinder):
    def __init__(self, rules):
        self.rules = rules
    def find_spec(self, name, path=None, target=None):
        exc = self.rules.get(name)
        if exc is not None:
            raise exc(f"trapped {name}")
        return None
"""


# --- jedi replaced -----------------------------------------------------------------------------


@contextlib.contextmanager
def fake_jedi(lsp, script=FakeScript):
    """jedi.Script replaced by `script` (a FakeScript class, or any callable); warm-ups started
    meanwhile finish before it is restored."""
    try:
        with mock.patch.object(lsp.jedi, "Script", script):
            yield script
            wait_for_warmups()
    finally:
        wait_for_warmups()


@contextlib.contextmanager
def recorded_jedi(lsp, **answers):
    """jedi.Script replaced by a fake answering `answers` only (see FakeScript); yields the fake
    class, whose `created` lists each construction's keywords and `asked` each question."""
    with fake_jedi(lsp, script_with(**answers)) as script:
        yield script


@contextlib.contextmanager
def fake_bridge(lsp, script=FakeScript):
    """A new bridge on fake jedi, cleaned up afterwards."""
    with fake_jedi(lsp, script):
        bridge = lsp.LSPBridge()
        try:
            yield bridge
        finally:
            wait_for_warmups()
            bridge.cleanup()


class JediCheckedScript(FakeScript):
    """Accepts and refuses positions exactly as jedi does, and answers the accepted ones from
    `rotation`, a list of answers chosen by the position."""

    rotation = ()

    def __init__(self, **kwargs):
        import parso

        super().__init__(**kwargs)
        self._code_lines = parso.split_lines(kwargs["code"], keepends=True)

    def _answer(self, question, **position):
        from jedi.api.helpers import validate_line_column

        def answer(script, line, column):
            return self.rotation[(line * 31 + column) % len(self.rotation)].get(question, [])

        return validate_line_column(answer)(self, **position)


def jedi_checked(lsp, rotation):
    return fake_jedi(lsp, type("JediCheckedScript", (JediCheckedScript,), {"rotation": rotation}))


# --- jedi-like names for hover and signature help ----------------------------------------------


class Fake:
    """An object with the given attributes; callables stand in for methods."""

    def __init__(self, **attrs):
        self.__dict__.update(attrs)


def definition(name="thing", type="statement", full_name=None, signatures=(), docstring="", **extra):
    """A jedi name as `infer` or `help` returns it."""

    def get_signatures():
        if isinstance(signatures, BaseException):
            raise signatures
        return list(signatures)

    def doc():
        if isinstance(docstring, BaseException):
            raise docstring
        return docstring

    return Fake(name=name, type=type, full_name=full_name, get_signatures=get_signatures, docstring=doc, **extra)


def signature(text):
    """A jedi signature whose to_string() is `text`."""
    return Fake(to_string=lambda: text, params=[])


class RaisingDescription:
    """A name whose `description` property fails with something other than AttributeError."""

    name = "broken"
    type = "instance"
    full_name = "pkg.broken"

    @property
    def description(self):
        raise ValueError("no description today")

    def get_signatures(self):
        return []

    def docstring(self):
        return ""


# --- hypothesis --------------------------------------------------------------------------------

# `make fuzz` sets LSP_BRIDGE_FUZZ_SCALE (e.g. 50): that many times the examples, fresh random
# seeds and the whole standard library as corpus. The default run is short and reproducible.
SCALE = float(os.environ.get("LSP_BRIDGE_FUZZ_SCALE") or 1)
LONG_RUN = SCALE > 1


def fuzz_settings(examples):
    extra = {} if LONG_RUN else {"derandomize": True, "database": None}
    return settings(max_examples=max(1, int(examples * SCALE)), deadline=None, print_blob=True,
                    suppress_health_check=list(HealthCheck), **extra)
