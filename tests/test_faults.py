"""Faults from outside the module: the sync directory removed or replaced behind the bridge's back,
a module name too long for the file system, a logger handler that raises, jedi raising
KeyboardInterrupt or MemoryError, pyflakes or pylsp missing, the stubs folder absent. Each gives
the documented behaviour and never a crash."""
import contextlib
import json
import logging
import os
import shutil
import threading
from unittest import mock

import pytest

from support import DEVHOST, FINDER, MODULE_NAME, FakeScript, fake_bridge, fake_jedi, surface

# tools/, on the path through support
from answer_shapes import JEDI_REQUESTS, REQUESTS, check_answer

# Each request asks its sample after these lines.
CODE = "import os\nos.pa\nos.path.join('a', )\nimport no_such_module_q\n"
SYNC_FAILED = "[LSP] Failed to sync module '%s': %s"


def ask(bridge, method, **options):
    """The request's answer on CODE, with those of `options` that are its parameters."""
    return check_answer(method, getattr(bridge, method)(*surface.call_args(method, CODE, **options)), strict=True)


def warning_errors(logs, fmt):
    return [type(args[-1]) for level, f, args in logs.calls if level == "WARNING" and f == fmt]


# --- the sync directory behind the bridge's back ------------------------------------------------

def remove_directory(path):
    shutil.rmtree(path)


def replace_by_file(path):
    shutil.rmtree(path)
    with open(path, "w") as f:
        f.write("not a directory")


@pytest.mark.parametrize("damage, error, cleanup_warns", [
    (remove_directory, FileNotFoundError, False),
    (replace_by_file, NotADirectoryError, True),
])
def test_sync_directory_gone(lsp, logs, damage, error, cleanup_warns):
    bridge = lsp.LSPBridge()
    try:
        path = bridge._temp_dir.name
        damage(path)
        logs.clear()
        assert bridge.sync_modules({"a": "x = 1", "b": "y = 2"}) is None
        assert warning_errors(logs, SYNC_FAILED) == [error, error]
        assert bridge.delete_module("a") is None
        for method in REQUESTS:  # real jedi, with the project's root missing
            ask(bridge, method, path="a", modules={"a": "z = 3"})
        assert bridge._can_resolve_import("a") is False
        logs.clear()
        assert bridge.cleanup() is None
        assert bridge._temp_dir is None
        assert logs.formats() == (["[LSP] Failed to cleanup temporary directory: %s"] if cleanup_warns
                                  else ["[LSP] Cleaned up temporary directory"])
    finally:
        if os.path.isfile(path):
            os.remove(path)


def test_module_name_too_long_for_the_file_system(bridge, logs):
    long_name = "m" * 300
    bridge.sync_modules({long_name: "x = 1", "short_q": "y = 2"})
    assert warning_errors(logs, SYNC_FAILED) == [OSError]
    assert os.listdir(bridge._temp_dir.name).count("short_q.py") == 1
    logs.clear()
    assert bridge.delete_module(long_name) is None and logs.calls == []
    assert bridge._can_resolve_import(long_name) is False
    for method in JEDI_REQUESTS:
        ask(bridge, method, path=long_name, modules={long_name: "z = 1"})
    markers = ask(bridge, "get_diagnostics")["diagnostics"]
    assert "import 'no_such_module_q' could not be resolved" in [m["message"] for m in markers]
    bridge.delete_module("short_q")


# --- a logger handler that raises ---------------------------------------------------------------

class HandlerBroke(Exception):
    pass


class RaisingHandler(logging.Handler):
    """Raises from emit (not through handleError) for records whose format starts with `prefix`."""

    def __init__(self, prefix):
        super().__init__(logging.DEBUG)
        self.prefix = prefix

    def emit(self, record):
        if record.thread == threading.get_ident() and record.msg.startswith(self.prefix):
            raise HandlerBroke("handler broke")


@contextlib.contextmanager
def raising_handler(prefix):
    """A RaisingHandler on the module logger (which the `logs` fixture sets to DEBUG)."""
    log = logging.getLogger(MODULE_NAME)
    handler = RaisingHandler(prefix)
    log.addHandler(handler)
    try:
        yield
    finally:
        log.removeHandler(handler)


@pytest.mark.parametrize("method", REQUESTS)
def test_handler_raising_on_the_request_line_reaches_the_caller(lsp, logs, method):
    with fake_bridge(lsp) as bridge, raising_handler("[LSP] Request: "):
        with pytest.raises(HandlerBroke):
            ask(bridge, method)


@pytest.mark.parametrize("method", REQUESTS)
def test_handler_raising_inside_the_request(lsp, logs, method):
    prefix, absorbed = surface.request(method).inner_log
    with fake_bridge(lsp) as bridge, raising_handler(prefix):
        result = ask(bridge, method)
    if absorbed:  # a handler of the request's own takes the failure and logs it
        assert result["error"] is None and absorbed in logs.formats("WARNING")
    else:
        assert result["error"] == "handler broke"


@pytest.mark.parametrize("call, survives", [
    (lambda b: b.sync_modules({"a": "x"}), lambda b: os.path.exists(os.path.join(b._temp_dir.name, "a.py"))),
    (lambda b: b.update_sys_paths(["/nowhere"]), lambda b: "/nowhere" in map(str, b._jedi_project.added_sys_path)),
    (lambda b: b.set_hover_mode("detailed"), lambda b: b._hover_mode == "detailed"),
    (lambda b: b.preload_corvane_module(), lambda b: True),
    (lambda b: b.cleanup(), lambda b: b._temp_dir is None),
])
def test_handler_raising_on_every_line_of_a_maintenance_call(lsp, logs, call, survives):
    # The failure and then its own warning both raise: the second reaches the caller, after the
    # work itself was done.
    with fake_bridge(lsp) as bridge:
        with raising_handler("[LSP] "), pytest.raises(HandlerBroke):
            call(bridge)
        assert survives(bridge)


def test_handler_that_cannot_write_is_the_logging_module_s_business(lsp, logs, capsys):
    stream = open(os.devnull, "w")
    stream.close()
    handler = logging.StreamHandler(stream)
    logging.getLogger(MODULE_NAME).addHandler(handler)
    try:
        with fake_bridge(lsp) as bridge:
            for method in REQUESTS:
                assert ask(bridge, method)["error"] is None
    finally:
        logging.getLogger(MODULE_NAME).removeHandler(handler)
    assert "Logging error" in capsys.readouterr().err


# --- jedi raising what is not an Exception, or MemoryError --------------------------------------

RAISERS = dict({m: surface.jedi_questions(m)[0] for m in JEDI_REQUESTS}, preload_corvane_module="complete")


def raising_script(question, exc):
    """A fake jedi.Script whose `question` raises `exc`; with None its construction does."""
    if question is None:
        return mock.Mock(side_effect=exc)

    def raise_it(self, **position):
        raise exc

    return type("RaisingScript", (FakeScript,), {question: raise_it})


@pytest.mark.parametrize("method", list(RAISERS))
@pytest.mark.parametrize("where", ["Script", "question"])
@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit])
def test_base_exceptions_reach_the_caller_unchanged(lsp, method, where, exc_type):
    exc = exc_type()
    args = surface.call_args(method, CODE) if method in REQUESTS else ()
    with fake_bridge(lsp) as bridge:
        with fake_jedi(lsp, raising_script(RAISERS[method] if where == "question" else None, exc)):
            with pytest.raises(exc_type) as caught:
                getattr(bridge, method)(*args)
        assert caught.value is exc
        # The jedi lock was released on the way out: another thread gets through.
        results = []
        t = threading.Thread(target=lambda: results.append(bridge.get_completions("os.", 1, 3)))
        t.start()
        t.join(60)
        assert not t.is_alive() and results[0]["error"] is None


@pytest.mark.parametrize("method", JEDI_REQUESTS)
@pytest.mark.parametrize("exc, text", [(MemoryError(), "MemoryError"), (MemoryError("no room"), "no room")])
def test_memory_error_is_an_error_result(lsp, logs, method, exc, text):
    with fake_bridge(lsp) as bridge, fake_jedi(lsp, mock.Mock(side_effect=exc)):
        assert ask(bridge, method)["error"] == text
        assert logs.calls[-1] == ("ERROR", f"[LSP] Error in {method}: %s", (text,))


def test_base_exception_from_the_parser_reaches_the_caller(lsp, bridge):
    with mock.patch.object(lsp.ast, "parse", side_effect=KeyboardInterrupt):
        with pytest.raises(KeyboardInterrupt):
            bridge.get_diagnostics("x = 1\n")


# --- missing dependencies and host parts (each in its own interpreter) --------------------------

PROBE = """
import logging, threading
records = []
class Keep(logging.Handler):
    def emit(self, record):
        records.append(record)
log = logging.getLogger("{module}")
log.setLevel(logging.DEBUG)
log.addHandler(Keep())
import {module} as m
b = m.LSPBridge()
for t in threading.enumerate():
    if t.name == "LSP-corvane-preload":
        t.join(120)
code = "import os\\nos.pa\\nx = undefined_q\\nimport no_such_module_q\\n"
out = {{
    "init": records[0].getMessage(),
    "warmup": [r.getMessage() for r in records if r.threadName == "LSP-corvane-preload"],
    "stubs_exist": os.path.isdir(b._stubs_path),
    "completions": [c["label"] for c in b.get_completions(code, 2, 5)["completions"]],
    "hover": b.get_hover(code, 2, 1),
    "diagnostics": [d["message"] for d in b.get_diagnostics(code)["diagnostics"]],
    "pyflakes_run": b._run_pyflakes("x", "<editor>"),
    "update": b.update_sys_paths([]),
}}
out["warnings"] = [r.getMessage() for r in records if r.levelname == "WARNING"]
b.cleanup()
print("RESULT" + json.dumps(out))
"""


def probe(run_python, before="", env=None):
    proc = run_python(FINDER + "import os\n" + before + PROBE.format(module=MODULE_NAME), env=env)
    lines = [line for line in proc.stdout.splitlines() if line.startswith("RESULT")]
    assert lines, proc.stderr
    return json.loads(lines[-1][len("RESULT"):])


@pytest.mark.parametrize("trapped, flags", [("pyflakes", "pylsp_available=True, pyflakes_available=False"),
                                            ("pyflakes.reporter", "pylsp_available=True, pyflakes_available=False"),
                                            ("pylsp", "pylsp_available=False, pyflakes_available=True")])
def test_without_an_optional_library_everything_else_works(run_python, trapped, flags):
    out = probe(run_python, f"sys.meta_path.insert(0, Trap({{{trapped!r}: ModuleNotFoundError}}))\n")
    assert flags in out["init"]
    assert "path" in out["completions"] and out["hover"]["error"] is None and out["update"] is None
    unresolved = "import 'no_such_module_q' could not be resolved"
    if trapped.startswith("pyflakes"):
        assert out["diagnostics"] == [unresolved] and out["pyflakes_run"] == []
        assert "[LSP] Pyflakes check failed: name 'pyflakes_reporter' is not defined" in out["warnings"]
    else:
        assert out["diagnostics"][0] == unresolved and "undefined name 'undefined_q'" in out["diagnostics"]


def test_without_the_stubs_folder(run_python, tmp_path):
    host = tmp_path / "host"
    shutil.copytree(DEVHOST, host, ignore=shutil.ignore_patterns("stubs", "__pycache__"))
    out = probe(run_python, env={"PYTHONPATH": str(host)})
    assert out["stubs_exist"] is False and str(host) in out["init"]
    assert out["warmup"] in (["[LSP] Preloaded corvane module cache (0 completions found)"],) or (
        len(out["warmup"]) == 1 and out["warmup"][0].startswith("[LSP] Failed to preload corvane module: "))
    assert "path" in out["completions"] and out["hover"]["error"] is None and out["update"] is None
    assert out["diagnostics"][0] == "import 'no_such_module_q' could not be resolved"
