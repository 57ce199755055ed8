"""One fresh process of the start-up suite: times what happens once per process and prints the
timings as JSON. Run by suite_startup, one process per sample:

    python bench/cold.py MODE

bridge-import     import of the module, first construction, the warm-up thread's run
floor-import      the libraries the module imports, a temporary folder and a jedi.Project
pylsp-import      pylsp's plugins, Config and Workspace
bridge-corvane-now   `corvane.` asked right after construction, warm-up still running
bridge-corvane-after `corvane.` asked after the warm-up thread has finished
floor-corvane     the same question put to jedi directly, cold
floor-corvane-after  the same, after the warm-up's question was put to jedi first
pylsp-corvane     pylsp_completions on the same text, the stubs folder among its extra paths
"""
import json
import os
import sys
import time

import gc

import common
import measure

CODE, LINE, COLUMN = "import corvane\ncorvane.", 2, 8
STUBS = os.path.join(common.DEVHOST, "corvane_master", "python_server", "stubs")


def timed(fn):
    start = time.perf_counter()
    value = fn()
    return time.perf_counter() - start, value


def timed_request(fn):
    """{"request": seconds, "request_gc": of which in the collector}, and the answer."""
    clock = measure.CollectorClock()
    gc.callbacks.append(clock)
    try:
        seconds, value = timed(fn)
    finally:
        gc.callbacks.remove(clock)
    return {"request": seconds, "request_gc": clock.total}, value


def import_like_the_module():
    """What the module's body imports; the floor's processes carry the same heap."""
    import ast, importlib.util, io, re, tempfile, threading, typing  # noqa: F401,E401
    import jedi  # noqa: F401
    from pyflakes import api, reporter  # noqa: F401
    from pylsp import uris  # noqa: F401
    from pylsp.config.config import Config  # noqa: F401
    from pylsp.workspace import Document, Workspace  # noqa: F401
    from corvane_master.logging_config import get_logger
    return get_logger(common.MODULE)


def bridge_import():
    t_import, module = timed(lambda: __import__(common.MODULE, fromlist=["LSPBridge"]))
    t_construct, bridge = timed(module.LSPBridge)
    t_warmup, _ = timed(common.join_warmup)
    bridge.cleanup()
    return {"import": t_import, "construct": t_construct, "warmup": t_warmup, "total": t_import + t_construct}


def floor_import():
    def construct():
        import jedi
        import tempfile
        folder = tempfile.TemporaryDirectory()
        jedi.Project(path=folder.name, added_sys_path=[STUBS])
        return folder

    t_import, _ = timed(import_like_the_module)
    t_construct, folder = timed(construct)
    folder.cleanup()
    return {"import": t_import, "construct": t_construct, "total": t_import + t_construct}


def pylsp_import():
    import tempfile
    t_import, _ = timed(lambda: __import__("pylsp_baseline"))
    folder = tempfile.TemporaryDirectory()
    t_construct, _ = timed(lambda: sys.modules["pylsp_baseline"].Pylsp(folder.name, extra_paths=[STUBS]))
    folder.cleanup()
    return {"import": t_import, "construct": t_construct, "total": t_import + t_construct}


def bridge_corvane(wait):
    module = __import__(common.MODULE, fromlist=["LSPBridge"])
    start = time.perf_counter()
    bridge = module.LSPBridge()
    if wait:
        common.join_warmup()
    timings, answer = timed_request(lambda: bridge.get_completions(CODE, LINE, COLUMN))
    timings["from_construction"] = time.perf_counter() - start
    assert answer["error"] is None and answer["completions"], answer
    bridge.cleanup()
    return timings


def floor_corvane(after_warmup):
    """Cold, or after the warm-up's own question (complete() alone, no details) was put first."""
    import tempfile
    import jedi
    import floor

    import_like_the_module()

    class Owner:
        _temp_dir = tempfile.TemporaryDirectory()
        _jedi_project = jedi.Project(path=_temp_dir.name, added_sys_path=[STUBS])

    if after_warmup:
        jedi.Script(code=CODE, path="<warmup>", project=Owner._jedi_project).complete(line=LINE, column=COLUMN)
    timings, items = timed_request(lambda: floor.completions(Owner, CODE, LINE, COLUMN))
    assert items
    Owner._temp_dir.cleanup()
    return timings


def pylsp_corvane():
    import tempfile
    from pylsp_baseline import Pylsp
    folder = tempfile.TemporaryDirectory()
    lsp = Pylsp(folder.name, extra_paths=[STUBS])
    timings, items = timed_request(lambda: lsp.completions(CODE, LINE, COLUMN))
    assert items
    folder.cleanup()
    return timings


MODES = {
    "bridge-import": bridge_import,
    "floor-import": floor_import,
    "pylsp-import": pylsp_import,
    "bridge-corvane-now": lambda: bridge_corvane(wait=False),
    "bridge-corvane-after": lambda: bridge_corvane(wait=True),
    "floor-corvane": lambda: floor_corvane(after_warmup=False),
    "floor-corvane-after": lambda: floor_corvane(after_warmup=True),
    "pylsp-corvane": pylsp_corvane,
}

if __name__ == "__main__":
    common.use_fast_tempdir()
    print(json.dumps(MODES[sys.argv[1]]()))
