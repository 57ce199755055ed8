"""What every suite shares: the module on the path, a bridge ready to measure, and the table
printed by each suite's `__main__`.

The module sync folder goes to /dev/shm when there is one and TMPDIR is not set: stalls of a
shared disk would otherwise swamp what is measured, and they are no part of the module.
"""
import contextlib
import logging
import os
import sys
import tempfile
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
if DEVHOST not in sys.path:
    sys.path.insert(0, DEVHOST)
MODULE = "corvane_master.python_server.lsp_bridge"

# Sample inputs shared by the suites: a local class, and synced modules with a helper function.
ACCOUNT_CLASS = (
    "class Account:\n"
    "    \"\"\"A bank account.\"\"\"\n"
    "    def __init__(self, owner: str, balance: float = 0.0):\n"
    "        self.owner = owner\n"
    "        self.balance = balance\n"
    "    def deposit(self, amount: float) -> float:\n"
    "        \"\"\"Add money.\"\"\"\n"
    "        return self.balance + amount\n"
)


def synced_modules(count, helper):
    """{"mod00": ..., ...}: each module imports os and defines a class and `helper` (a def
    with %d for the module's number, twice)."""
    return {"mod%02d" % i: "import os\n\nclass Thing%d:\n    def run(self, n: int) -> int:\n        return n\n\n" % i
            + helper % (i, i) for i in range(count)}


def use_fast_tempdir():
    if not os.environ.get("TMPDIR") and os.path.isdir("/dev/shm"):
        tempfile.tempdir = "/dev/shm"


def join_warmup():
    """The warm-up thread would compete for the interpreter lock with what is measured."""
    for thread in threading.enumerate():
        if thread.name == "LSP-corvane-preload":
            thread.join()


@contextlib.contextmanager
def ready_bridge():
    use_fast_tempdir()
    # The host's default: the module's debug lines are not emitted, as in production.
    logging.getLogger(MODULE).setLevel(logging.WARNING)
    from corvane_master.python_server import lsp_bridge

    bridge = lsp_bridge.LSPBridge()
    join_warmup()
    try:
        yield bridge
    finally:
        bridge.cleanup()


def without_item_cache(bridge):
    """The bridge with its completion item cache off: the cache serves only a bridge whose
    `_format_signature` is the module's own method, so a wrapper of it set on the instance turns
    it off, disk part included (a copy of the bound method would not: it is the same method, and
    the answers the same). LSP_BRIDGE_NO_PERSISTENT_CACHE turns off only the disk part."""
    own = type(bridge)._format_signature
    bridge._format_signature = lambda signature: own(bridge, signature)
    return bridge


class Skipped(Exception):
    """A suite or case that cannot run against this build of the module."""


def has_hover(bridge):
    """False while the hover requests are still a placeholder in this build."""
    try:
        bridge.get_hover("import os\nos", 2, 1)
        return True
    except NotImplementedError:
        return False


def repeats_from_argv(default):
    return int(sys.argv[1]) if len(sys.argv) > 1 else default


def format_table(rows):
    """Per case: the median of each variant and its paired ratio to the floor (or reference)
    with the interquartile range of that ratio."""
    lines = []
    for row in rows:
        unit, scale = ("us", 1e6) if row["variants"][row["floor"]]["median_s"] < 1e-3 else ("ms", 1e3)
        lines.append(f"{row['suite']}: {row['case']}")
        for name, s in row["variants"].items():
            text = (f"    {name:14} {s['median_s'] * scale:10.3f} {unit}  "
                    f"(IQR {s['q1_s'] * scale:.3f}-{s['q3_s'] * scale:.3f})")
            r = row["ratios"].get(name)
            if r:
                text += f"   x{r['paired']:.3f} of {row['floor']} (IQR {r['q1']:.3f}-{r['q3']:.3f})"
            lines.append(text)
    return "\n".join(lines)


def main(run, default_repeats):
    print(format_table(run(repeats_from_argv(default_repeats))))
