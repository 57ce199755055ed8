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
bridge-library-now   `os.` asked right after construction (so it waits out the warm-up), then
                     the other library cases of the completion suite, each the first of its kind
bridge-library-uncached   the same with the item cache off (LSP_BRIDGE_NO_PERSISTENT_CACHE is
                          set by the caller for the disk part)
floor-library     the same questions put to jedi directly
bridge-diagnostics   10,000-line diagnostics once the warm-up has finished
floor-diagnostics    the same work done directly
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
    import jedi
    import floor

    import_like_the_module()
    owner = floor_owner()
    if after_warmup:
        jedi.Script(code=CODE, path="<warmup>", project=owner._jedi_project).complete(line=LINE, column=COLUMN)
    timings, items = timed_request(lambda: floor.completions(owner, CODE, LINE, COLUMN))
    assert items
    owner._temp_dir.cleanup()
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


def library_cases():
    import suite_completion
    return suite_completion.LIBRARY_CASES


def ask_library_cases(ask):
    """The request of each library case in turn: the first is `os.`, the process's first
    request; its figures are "request" and "request_gc", each later case's "first <case>"."""
    timings = {}
    for i, (case, code, line, column, _) in enumerate(library_cases()):
        timed_case, answer = timed_request(lambda: ask(code, line, column))
        assert answer, case
        if i == 0:
            timings.update(timed_case)
        else:
            timings["first " + case] = timed_case["request"]
    return timings


def bridge_library(cached):
    module = __import__(common.MODULE, fromlist=["LSPBridge"])
    bridge = module.LSPBridge()
    if not cached:
        common.without_item_cache(bridge)

    def ask(code, line, column):
        answer = bridge.get_completions(code, line, column)
        assert answer["error"] is None, answer
        return answer["completions"]

    timings = ask_library_cases(ask)
    bridge.cleanup()
    return timings


def floor_owner():
    """What floor.completions needs of a bridge: the sync folder and the jedi project."""
    import tempfile
    import jedi

    class Owner:
        _temp_dir = tempfile.TemporaryDirectory()
        _jedi_project = jedi.Project(path=_temp_dir.name, added_sys_path=[STUBS])

    return Owner


def floor_library():
    import floor

    import_like_the_module()
    owner = floor_owner()
    timings = ask_library_cases(lambda code, line, column: floor.completions(owner, code, line, column))
    owner._temp_dir.cleanup()
    return timings


def ten_thousand_lines():
    import suite_diagnostics
    return suite_diagnostics.generate(10_000)


def bridge_diagnostics():
    code = ten_thousand_lines()
    module = __import__(common.MODULE, fromlist=["LSPBridge"])
    bridge = module.LSPBridge()
    common.join_warmup()
    timings, answer = timed_request(lambda: bridge.get_diagnostics(code))
    assert answer["error"] is None and answer["diagnostics"], answer["error"]
    bridge.cleanup()
    return timings


def floor_diagnostics():
    """The floor's process holds what the bridge's holds after its warm-up: the imports and
    jedi's answer to the warm-up's question."""
    import jedi
    import floor

    code = ten_thousand_lines()
    import_like_the_module()
    owner = floor_owner()
    jedi.Script(code=CODE, path="<warmup>", project=owner._jedi_project).complete(line=LINE, column=COLUMN)
    timings, answer = timed_request(lambda: floor.diagnostics(owner, code))
    assert answer[0]
    owner._temp_dir.cleanup()
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
    "bridge-library-now": lambda: bridge_library(cached=True),
    "bridge-library-uncached": lambda: bridge_library(cached=False),
    "floor-library": floor_library,
    "bridge-diagnostics": bridge_diagnostics,
    "floor-diagnostics": floor_diagnostics,
}

if __name__ == "__main__":
    common.use_fast_tempdir()
    print(json.dumps(MODES[sys.argv[1]]()))
