"""Import of the module: names and values, docstrings, optional imports, failures, and the
once-per-process rules."""
import importlib
import json
import sys
import typing

import pytest

from support import DEVHOST, FINDER, METHOD_ORDER, MODULE_NAME

# tools/, on the path through support
from public_surface import CLASS_DOC, MODULE_NAMES


def test_module_names_in_binding_order(lsp):
    names = [n for n in vars(lsp) if not (n.startswith("__") and n.endswith("__"))]
    assert names == MODULE_NAMES


def test_module_values(lsp):
    import ast, io, logging, os, re, tempfile, threading
    import importlib.util
    import jedi
    import pyflakes.api
    import pyflakes.reporter

    for mod in (ast, io, logging, os, re, sys, tempfile, threading, jedi):
        assert getattr(lsp, mod.__name__) is mod
    assert lsp.importlib is importlib and lsp.importlib.util is importlib.util
    for name in ("Any", "Dict", "List", "Optional"):
        assert getattr(lsp, name) is getattr(typing, name)
    assert lsp.pyflakes_api is pyflakes.api and lsp.pyflakes_reporter is pyflakes.reporter
    assert lsp.PYFLAKES_AVAILABLE is True
    assert lsp.logger is logging.getLogger(MODULE_NAME)
    assert lsp.MONACO_MARKER_SEVERITY_ERROR == 8 and lsp.MONACO_MARKER_SEVERITY_WARNING == 4
    assert list(lsp.JEDI_TO_MONACO_KIND.items()) == [
        ("function", 1), ("class", 5), ("module", 7), ("property", 8), ("instance", 4),
        ("param", 4), ("statement", 4), ("keyword", 13), ("path", 17),
    ]
    assert lsp.JEDI_TO_MONACO_KIND.get("unknown") is None
    assert lsp.PYFLAKES_MESSAGE_PATTERN.pattern == r"^(.+?):(\d+)(?::(\d+))?:\s*(.+)$"
    assert lsp.PYFLAKES_MESSAGE_PATTERN.flags == re.compile("").flags
    assert lsp.__doc__.startswith("\nLSP Bridge - Language Server Protocol integration for Corvane.\n\n")
    assert lsp.__doc__.endswith("- Uses pyflakes for detecting undefined variables and other warnings\n")
    assert lsp.__file__.startswith(DEVHOST)


@pytest.mark.parametrize("line, groups", [
    ("<editor>:3:5: undefined name 'x'", ("<editor>", "3", "5", "undefined name 'x'")),
    ("<editor>:3: invalid syntax", ("<editor>", "3", None, "invalid syntax")),
    ("C:\\src\\m.py:12:1: 'os' imported but unused", ("C:\\src\\m.py", "12", "1", "'os' imported but unused")),
])
def test_pyflakes_message_pattern(lsp, line, groups):
    assert lsp.PYFLAKES_MESSAGE_PATTERN.match(line).groups() == groups


@pytest.mark.parametrize("text, matches", [
    ("import numpy as", True),
    ("import numpy as n", True),
    ("    from os import path as p", True),
    ("from . import x as ", True),
    ("import numpy", False),
    ("import numpy as np, os", False),
    ("import numpy as np ", False),
])
def test_import_alias_pattern(lsp, text, matches):
    assert bool(lsp.IMPORT_ALIAS_PATTERN.match(text)) is matches


def test_class_shape(lsp):
    cls = lsp.LSPBridge
    assert cls.__bases__ == (object,) and type(cls) is type
    assert cls.__module__ == MODULE_NAME and cls.__qualname__ == "LSPBridge" and cls.__name__ == "LSPBridge"
    assert cls.__doc__ == CLASS_DOC
    own = [n for n in vars(cls) if n not in ("__module__", "__qualname__", "__doc__", "__dict__", "__weakref__")]
    assert own == METHOD_ORDER


def test_reimport_returns_same_module_and_logs_nothing(lsp, logs):
    first_class = lsp.LSPBridge
    del sys.modules[MODULE_NAME]
    again = importlib.import_module(MODULE_NAME)
    assert again is lsp and again.LSPBridge is first_class
    assert sys.modules[MODULE_NAME] is lsp
    assert logs.calls == []


# --- import-time cases, each in its own interpreter -------------------------------------------

def run_import(run_python, rules, after="", before=""):
    code = FINDER + before + f"""
trap = Trap({{{", ".join(f"{k!r}: {v}" for k, v in rules.items())}}})
sys.meta_path.insert(0, trap)
result = {{}}
try:
    import {MODULE_NAME} as m
except BaseException as e:
    result["error"] = [type(e).__name__, str(e)]
else:
    names = ["pyflakes_api", "pyflakes_reporter", "uris", "Config", "Workspace", "Document"]
    result["bound"] = [n for n in names if hasattr(m, n)]
    result["flags"] = [m.PYFLAKES_AVAILABLE, m.PYLSP_AVAILABLE]
{after}
print("RESULT" + json.dumps(result))
"""
    proc = run_python(code)
    lines = [l for l in proc.stdout.splitlines() if l.startswith("RESULT")]
    assert lines, proc.stderr
    return json.loads(lines[-1][len("RESULT"):])


# pyflakes.api imports pyflakes.reporter itself: load it first, then make the reporter vanish.
API_WITHOUT_REPORTER = """
import pyflakes.api, pyflakes
del sys.modules["pyflakes.reporter"], pyflakes.reporter
"""


@pytest.mark.parametrize("rules, before, bound, flags", [
    ({"pyflakes": "ModuleNotFoundError"}, "", ["uris", "Config", "Workspace", "Document"], [False, True]),
    ({"pyflakes.reporter": "ImportError"}, API_WITHOUT_REPORTER,
     ["pyflakes_api", "uris", "Config", "Workspace", "Document"], [False, True]),
    ({"pylsp": "ModuleNotFoundError"}, "", ["pyflakes_api", "pyflakes_reporter"], [True, False]),
    ({"pylsp.workspace": "ImportError"}, "", ["pyflakes_api", "pyflakes_reporter", "uris", "Config"], [True, False]),
])
def test_optional_imports(run_python, rules, before, bound, flags):
    result = run_import(run_python, rules, before=before)
    assert result.get("error") is None
    assert result["bound"] == bound and result["flags"] == flags


@pytest.mark.parametrize("rules, error", [
    ({"pyflakes.api": "SyntaxError"}, "SyntaxError"),
    ({"pylsp.uris": "AttributeError"}, "AttributeError"),
    ({"jedi": "ModuleNotFoundError"}, "ModuleNotFoundError"),
    ({"corvane_master.logging_config": "ModuleNotFoundError"}, "ModuleNotFoundError"),
])
def test_failed_import_runs_the_body_again_later(run_python, rules, error):
    after = f"""
sys.meta_path.remove(trap)
import {MODULE_NAME} as m
result["second"] = [m.PYFLAKES_AVAILABLE, m.PYLSP_AVAILABLE, m.LSPBridge.__qualname__]
"""
    result = run_import(run_python, rules, after)
    assert result["error"][0] == error
    assert result["second"] == [True, True, "LSPBridge"]


def test_host_logging_module_needs_both_names(run_python):
    code = f"""
import sys, types
fake = types.ModuleType("corvane_master.logging_config")
fake.get_logger = lambda name: None
sys.modules["corvane_master.logging_config"] = fake
try:
    import {MODULE_NAME}
except ImportError as e:
    print("ImportError", "setup_logging_subprocess" in str(e))
"""
    assert run_python(code).stdout.split() == ["ImportError", "True"]


def test_second_interpreter_is_refused(run_python):
    code = f"""
import os, sys, tempfile
import {MODULE_NAME}
try:
    import _xxsubinterpreters as subs
except ImportError:
    print("SKIP"); raise SystemExit
out = tempfile.mktemp()
interp = subs.create()
subs.run_string(interp, '''
import sys
sys.path.insert(0, {DEVHOST!r})
try:
    import {MODULE_NAME}
    text = "imported"
except ImportError as e:
    text = "ImportError: " + str(e)
with open({{out!r}}, "w") as f:
    f.write(text)
'''.replace("{{out!r}}", repr(out)))
subs.destroy(interp)
print(open(out).read())
"""
    proc = run_python(code)
    if proc.stdout.strip() == "SKIP":
        pytest.skip("no sub-interpreter support in this interpreter")
    assert proc.stdout.strip() == (
        "ImportError: Interpreter change detected - this module can only be loaded into one "
        "interpreter per process."
    ), proc.stderr


def test_no_version_warning_when_versions_match(run_python):
    proc = run_python(f"import warnings; warnings.simplefilter('error'); import {MODULE_NAME}; print('ok')")
    assert proc.stdout.strip() == "ok", proc.stderr
