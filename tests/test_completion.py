"""get_completions: the request around jedi (checked with a stand-in for jedi.Script), then end to
end with real jedi, and a grid of bad input."""
import os
import threading
from contextlib import contextmanager
from unittest import mock

import pytest

from support import recorded_jedi, script_with

REQUEST = "[LSP] Request: get_completions %s"
ALIAS = "[LSP] In import alias context, returning empty completions"
JEDI_COUNT = "[LSP] Jedi returned %d completions"
RESPONSE = "[LSP] Response: %d completions returned"
SAMPLE = "[LSP] Sample completions: %s%s"
ERROR = "[LSP] Error in get_completions: %s"


def fail(error):
    if isinstance(error, BaseException):
        raise error
    return error


class FakeCompletion:
    def __init__(self, name, type="statement", signatures=(), doc=""):
        self._name, self.type, self.signatures, self.doc = name, type, signatures, doc
        self.signature_calls = 0

    @property
    def name(self):
        return fail(self._name)

    def get_signatures(self):
        self.signature_calls += 1
        return fail(self.signatures)

    def docstring(self):
        return fail(self.doc)


@contextmanager
def jedi_completing(lsp, *completions, error=None):
    """jedi.Script replaced by the shared fake answering `completions`, or failing with `error`
    when it is built; yields the fake (`created`: its keywords, `asked`: its questions)."""
    answers = {"complete": list(completions)}
    if error is not None:
        answers["Script"] = error
    with recorded_jedi(lsp, **answers) as script:
        yield script


@contextmanager
def recorded_sync(bridge):
    with mock.patch.object(bridge, "sync_modules") as sync:
        yield sync


def names(result):
    return [item["label"] for item in result["completions"]]


# --- the request around jedi -------------------------------------------------------------------


@pytest.mark.parametrize(
    "line, column, message",
    [
        (0, 0, "line must be a positive integer (1-based)"),
        (-3, 0, "line must be a positive integer (1-based)"),
        (1, -1, "column must be a non-negative integer (0-based)"),
        (0, -1, "line must be a positive integer (1-based)"),
    ],
)
def test_bad_position_is_answered(bridge, lsp, logs, line, column, message):
    with jedi_completing(lsp) as script, recorded_sync(bridge) as sync:
        result = bridge.get_completions("x", line, column, modules={"m": "x = 1"})
    assert result == {"completions": [], "error": message}
    assert not script.created and not sync.called
    assert logs.formats() == [REQUEST, ERROR]
    assert logs.calls[-1][2] == (message,) and logs.records[-1].exc_info is None


@pytest.mark.parametrize("length, preview_length", [(0, 0), (100, 100), (101, 100), (5000, 100)])
def test_request_summary(bridge, lsp, logs, length, preview_length):
    code = ("abcdefghi\n" * 600)[:length]
    with jedi_completing(lsp):
        bridge.get_completions(code, 1, 0, path="a.py")
    level, fmt, info = logs.calls[0]
    assert (level, fmt) == ("DEBUG", REQUEST)
    assert list(info.items()) == [
        ("line", 1), ("column", 0), ("path", "a.py"), ("code_length", length), ("code_preview", code[:preview_length])
    ]


@pytest.mark.parametrize(
    "text, column, alias",
    [
        ("import numpy as n", None, True),
        ("from os import path as ", None, True),
        ("import numpy as", None, True),
        ("    import os.path as p", None, True),
        ("import numpy as np", None, True),
        ("import numpy as", 99, True),  # past the end: the whole line
        ("import numpy", None, False),
        ("import numpy as np ", None, False),
        ("import os, numpy as n", None, False),
        ("import os as x", 10, False),  # text after the cursor plays no part
    ],
)
def test_import_alias_context(bridge, lsp, logs, text, column, alias):
    code = "x = 1\n" + text + "\ny = 2"
    column = len(text) if column is None else column
    with jedi_completing(lsp) as script, recorded_sync(bridge) as sync:
        result = bridge.get_completions(code, 2, column, modules={"m": "x = 1"})
    assert result == {"completions": [], "error": None}
    assert bool(script.created) is not alias and sync.called is not alias
    assert (ALIAS in logs.formats()) is alias


@pytest.mark.parametrize(
    "modules, dirty_files, synced",
    [
        (None, {"a": "x"}, True),
        ({"a": "1"}, None, True),
        ({"a": "1"}, {}, True),
        ({}, {}, False),
        (None, None, False),
        ({}, None, False),
    ],
)
def test_sync_only_when_there_is_something(bridge, lsp, modules, dirty_files, synced):
    with jedi_completing(lsp), recorded_sync(bridge) as sync:
        bridge.get_completions("x", 1, 0, modules=modules, dirty_files=dirty_files)
    if synced:
        (passed_modules, passed_dirty), _ = sync.call_args
        assert passed_modules == (modules or {}) and passed_dirty is dirty_files
    else:
        assert not sync.called


@pytest.mark.parametrize("path", ["shapes", "D:/work/a.py", "<stdin>", None, ""])
def test_script_and_complete_arguments(bridge, lsp, path):
    code = "import os\nos.pa"
    with jedi_completing(lsp) as script:
        assert bridge.get_completions(code, 2, 5, path=path) == {"completions": [], "error": None}
    expected = {"shapes": os.path.join(bridge._temp_dir.name, "shapes.py"), None: "<editor>", "": "<editor>"}
    (built,) = script.created
    assert built == {"code": code, "path": expected.get(path, path), "project": bridge._jedi_project}
    assert built["project"] is bridge._jedi_project
    assert script.asked == [("complete", {"line": 2, "column": 5})]


@pytest.mark.parametrize(
    "code, shown",
    [
        ("obj.", ["visible"]),
        ("obj.vi", ["visible"]),
        ("obj._", ["visible", "_private", "__class__"]),
        ("obj.__in", ["visible", "_private", "__class__"]),
    ],
)
def test_underscore_rule(bridge, lsp, code, shown):
    completions = [FakeCompletion(n) for n in ["visible", "_private", "__class__"]]
    with jedi_completing(lsp, *completions):
        assert names(bridge.get_completions(code, 1, len(code))) == shown


def test_word_prefix_comes_from_the_method_on_self(bridge, lsp):
    with jedi_completing(lsp, FakeCompletion("_private")), mock.patch.object(bridge, "_get_word_prefix", return_value="_"):
        assert names(bridge.get_completions("obj.", 1, 4)) == ["_private"]


def test_items(bridge, lsp):
    completions = [
        FakeCompletion("fn", "function", ["first", "second"], "Does things."),
        FakeCompletion("nosig", "function", []),
        FakeCompletion("cls", "class", ["sig"], "A class."),
        FakeCompletion("broken", "function", RuntimeError("no signature"), ValueError("no doc")),
        FakeCompletion("odd", "no-such-type"),
        FakeCompletion("kw", "keyword", doc=""),
        FakeCompletion("fails_format", "function", ["explode"]),
    ]

    def format_signature(signature):
        if signature == "explode":
            raise ValueError("format failed")
        return "formatted " + signature

    with jedi_completing(lsp, *completions), mock.patch.object(bridge, "_format_signature", format_signature):
        result = bridge.get_completions("", 1, 0)
    assert result["error"] is None
    assert result["completions"] == [
        {"label": "fn", "kind": 1, "insertText": "fn", "detail": "formatted first", "documentation": "Does things."},
        {"label": "nosig", "kind": 1, "insertText": "nosig"},
        {"label": "cls", "kind": 5, "insertText": "cls", "documentation": "A class."},
        {"label": "broken", "kind": 1, "insertText": "broken"},
        {"label": "odd", "kind": 4, "insertText": "odd"},
        {"label": "kw", "kind": 13, "insertText": "kw"},
        {"label": "fails_format", "kind": 1, "insertText": "fails_format"},
    ]
    assert list(result["completions"][0]) == ["label", "kind", "insertText", "detail", "documentation"]
    assert completions[2].signature_calls == 0  # only functions are asked for signatures


@pytest.mark.parametrize(
    "options, completions, message",
    [
        ({"error": ValueError("bad script")}, [], "bad script"),
        ({"error": MemoryError()}, [], "MemoryError"),  # an empty text must not look like success
        ({"error": KeyError("")}, [], "''"),
        ({}, [FakeCompletion("ok"), FakeCompletion(RuntimeError("no name"))], "no name"),
        ({}, [FakeCompletion("ok", type=[])], "unhashable type: 'list'"),  # the kind look-up
    ],
)
def test_failure_answers_with_error(bridge, lsp, logs, options, completions, message):
    with jedi_completing(lsp, *completions, **options):
        result = bridge.get_completions("x", 1, 0)
    assert result == {"completions": [], "error": message}
    assert logs.calls[-1] == ("ERROR", ERROR, (message,)) and logs.records[-1].exc_info is None
    assert RESPONSE not in logs.formats()


def test_failed_sync_answers_with_error(bridge, lsp):
    with jedi_completing(lsp), mock.patch.object(bridge, "sync_modules", side_effect=OSError("disk full")):
        assert bridge.get_completions("x", 1, 0, modules={"m": ""}) == {"completions": [], "error": "disk full"}


def test_keyboard_interrupt_is_not_answered(bridge, lsp):
    with jedi_completing(lsp, error=KeyboardInterrupt()), pytest.raises(KeyboardInterrupt):
        bridge.get_completions("x", 1, 0)


@pytest.mark.parametrize("count, sample", [(0, None), (5, "..."), (6, "...")])
def test_response_logs(bridge, lsp, logs, count, sample):
    labels = ["n%d" % i for i in range(count)]
    with jedi_completing(lsp, *map(FakeCompletion, labels + ["_hidden"])):
        bridge.get_completions("x", 1, 0)
    expected = [("DEBUG", JEDI_COUNT, (count + 1,)), ("DEBUG", RESPONSE, (count,))]
    if count:
        expected.append(("DEBUG", SAMPLE, (labels[:5], "..." if count > 5 else "")))
    assert logs.calls[1:] == expected


def test_requests_take_turns_with_jedi(bridge, lsp):
    """A second thread's request waits while the first one is inside jedi."""
    second_built = threading.Event()
    second_results = []

    def inside_first_complete():
        second.start()
        assert not second_built.wait(0.5)  # waiting releases the GIL: only the lock holds it back

    first = script_with(complete=lambda **position: inside_first_complete() or [FakeCompletion("a")])

    def build(**kwargs):
        if threading.current_thread() is second:
            second_built.set()
            return script_with()(**kwargs)
        return first(**kwargs)

    second = threading.Thread(target=lambda: second_results.append(bridge.get_completions("x", 1, 0)))
    with mock.patch.object(lsp.jedi, "Script", build):
        assert names(bridge.get_completions("x", 1, 0)) == ["a"]
        second.join(30)
    assert second_results == [{"completions": [], "error": None}]


def test_after_cleanup_a_sync_fails_as_an_error(fresh_bridge):
    fresh_bridge.cleanup()
    result = fresh_bridge.get_completions("x", 1, 0, modules={"m": "x = 1"})
    assert result["completions"] == [] and result["error"]
    result = fresh_bridge.get_completions("x", 1, 0, path="m")
    assert result["completions"] == [] and result["error"]


# --- real jedi ---------------------------------------------------------------------------------

SHAPES = "class Circle:\n    def area(self): ...\n"


def test_cross_module(bridge):
    code = "import shapes\nshapes."
    assert "Circle" in names(bridge.get_completions(code, 2, 7, modules={"shapes": SHAPES}))
    dirty = {"shapes": "class Square:\n    pass\n"}
    offered = names(bridge.get_completions(code, 2, 7, modules={"shapes": SHAPES}, dirty_files=dirty))
    assert "Square" in offered and "Circle" not in offered


def test_module_path_analyses_code_as_that_module(bridge):
    modules = {"shapes": SHAPES, "helpers": "def helper(): ...\n"}
    code = "from .helpers import hel"
    assert names(bridge.get_completions(code, 1, len(code), path="shapes", modules=modules)) == ["helper"]
    assert names(bridge.get_completions(code, 1, len(code), path="<stdin>", modules=modules)) == []


def test_function_items_from_jedi(bridge):
    result = bridge.get_completions("import json\njson.lo", 2, 7)
    assert names(result) == ["load", "loads"]
    for item in result["completions"]:
        assert item["kind"] == 1 and item["detail"].startswith("(") and "-> Any" in item["detail"]
        assert item["documentation"]


BAD_CODES = {
    "empty": "",
    "one huge line": "x" * 1_000_000,
    "100000 lines": "a = 1\n" * 100_000,
    "NUL": "a\x00b = 1\na\x00",
    "lone surrogates": "x = '\ud800'\n\udc00x.",
    "CRLF": "import os\r\nos.pa\r\n",
    "CR": "import os\ros.pa",
    "tabs": "if 1:\n\tx = 1\n\tx.",
    "non-ASCII": "na\u00efve = 1\nna\u00ef",
}


@pytest.mark.parametrize("code", BAD_CODES.values(), ids=list(BAD_CODES))
def test_bad_input_gives_a_result(bridge, code):
    last = code.count("\n") + 1
    for line, column in [(1, 0), (0, 0), (-5, 2), (1, -1), (last, 3), (last + 1, 0), (1, 10**6), (2**70, 2**70)]:
        result = bridge.get_completions(code, line, column)
        assert list(result) == ["completions", "error"]
        assert isinstance(result["completions"], list)
        assert result["error"] is None or (result["error"] and not result["completions"])
