"""Shared by the fuzz, fault, concurrency, file-safety and soak tests: the tools folder on the
path, hypothesis settings that `make fuzz` scales up, and a bridge running on fake jedi."""
import contextlib
import os
import sys
from unittest import mock

from hypothesis import HealthCheck, settings

from conftest import ROOT, wait_for_warmups

TOOLS = os.path.join(ROOT, "tools")
if TOOLS not in sys.path:
    sys.path.insert(0, TOOLS)

from jedi_fakes import FakeScript  # noqa: E402

# `make fuzz` sets LSP_BRIDGE_FUZZ_SCALE (e.g. 50): that many times the examples, fresh random
# seeds and the whole standard library as corpus. The default run is short and reproducible.
SCALE = float(os.environ.get("LSP_BRIDGE_FUZZ_SCALE") or 1)
LONG_RUN = SCALE > 1


def fuzz_settings(examples):
    extra = {} if LONG_RUN else {"derandomize": True, "database": None}
    return settings(max_examples=max(1, int(examples * SCALE)), deadline=None, print_blob=True,
                    suppress_health_check=list(HealthCheck), **extra)


@contextlib.contextmanager
def fake_jedi(lsp, script=FakeScript):
    """jedi.Script replaced by a fake; warm-ups started meanwhile finish before it is restored."""
    try:
        with mock.patch.object(lsp.jedi, "Script", script):
            yield script
            wait_for_warmups()
    finally:
        wait_for_warmups()


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
