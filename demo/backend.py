"""Chooses the object that answers the editor: the real LSPBridge or the jedi fake."""

import os
import sys

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The host package holding the compiled module; a build elsewhere can point here too.
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(REPO_ROOT, "devhost")


class BackendError(Exception):
    pass


def load_bridge(fake=False):
    if fake:
        from fake_bridge import FakeBridge

        return FakeBridge()
    # The compiled module lives in the development host package.
    if DEVHOST not in sys.path:
        sys.path.insert(0, DEVHOST)
    try:
        from corvane_master.python_server.lsp_bridge import LSPBridge
    except ImportError as e:
        raise BackendError(
            f"cannot import corvane_master.python_server.lsp_bridge from {DEVHOST}: {e}\n"
            "Build it first (make build39) or start with --fake.") from e
    return LSPBridge()
