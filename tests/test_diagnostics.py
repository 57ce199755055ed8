"""get_diagnostics: the syntax check, the merge of pyflakes and import markers, the sort, the
error answer, and a grid of hostile input that must always come back as a result dict."""
import ast
import gc
import types
from unittest import mock

import pytest

MARKER_KEYS = ["startLineNumber", "startColumn", "endLineNumber", "endColumn", "message", "severity"]


def parser_error(code):
    try:
        ast.parse(code, filename="<editor>")
    except SyntaxError as e:
        return e
    raise AssertionError("expected a syntax error")


def assert_markers(markers):
    for m in markers:
        assert list(m) == MARKER_KEYS
    assert len({id(m) for m in markers}) == len(markers)


@pytest.mark.parametrize(
    "code",
    [
        "def f(:\n    pass\n",  # unclosed parenthesis in a header on line 1
        "if True:\npass\n",  # IndentationError
        "if True:\n\tx = 1\n        y = 2\n",  # TabError
        "import os\nundefined_name\nx = (\n",  # would also have pyflakes findings
        "import no_such_module_xyz\nclass :\n",  # would also have an unresolved import
    ],
)
def test_syntax_error_is_the_only_marker(bridge, logs, code):
    e = parser_error(code)
    result = bridge.get_diagnostics(code)
    assert result == {
        "diagnostics": [
            {
                "startLineNumber": e.lineno,
                "startColumn": e.offset,
                "endLineNumber": e.lineno,
                "endColumn": e.offset + 1,
                "message": e.msg,
                "severity": 8,
            }
        ],
        "error": None,
    }
    assert_markers(result["diagnostics"])
    assert ("DEBUG", "[LSP] Syntax error at line %d, col %d: %s", (e.lineno, e.offset, e.msg)) in logs.calls
    assert "[LSP] Pyflakes returned %d diagnostics" not in logs.formats()


@pytest.mark.parametrize(
    "error, expected",
    [
        (SyntaxError("", ("<editor>", None, None, None)), (1, 1, 2, "Syntax error")),
        (SyntaxError("bad", ("<editor>", 0, 0, None)), (1, 1, 2, "bad")),
        (IndentationError("odd", ("<editor>", 3, 5, "x")), (3, 5, 6, "odd")),
    ],
)
def test_syntax_error_fallbacks(lsp, bridge, error, expected):
    with mock.patch.object(lsp.ast, "parse", side_effect=error):
        result = bridge.get_diagnostics("x = 1\n")
    line, start, end, message = expected
    assert result["diagnostics"] == [
        {"startLineNumber": line, "startColumn": start, "endLineNumber": line, "endColumn": end,
         "message": message, "severity": 8}
    ]
    assert result["error"] is None


def test_empty_code(bridge, logs):
    assert bridge.get_diagnostics("") == {"diagnostics": [], "error": None}
    assert logs.calls[0] == ("DEBUG", "[LSP] Request: get_diagnostics, code_length=%d", (0,))


@pytest.mark.parametrize(
    "args, filename",
    [((), "<editor>"), ((None,), "<editor>"), (("",), "<editor>"), (("pkg_mod",), "<pkg_mod>")],
)
def test_analysis_file_name_and_module_name(lsp, bridge, monkeypatch, args, filename):
    seen = {}
    real_parse = ast.parse

    def parse(code, *a, **kw):
        seen.setdefault("parse", (a, kw))
        return real_parse(code, *a, **kw)

    monkeypatch.setattr(lsp.ast, "parse", parse)
    monkeypatch.setattr(bridge, "_run_pyflakes", lambda code, fn: seen.update(pyflakes=fn) or [])
    monkeypatch.setattr(bridge, "_check_unresolved_imports", lambda code, mn: seen.update(imports=mn) or [])
    assert bridge.get_diagnostics("x = 1\n", *args) == {"diagnostics": [], "error": None}
    assert seen["parse"] == ((), {"filename": filename})
    assert seen["pyflakes"] == filename
    assert seen["imports"] == (args[0] if args else None)


def test_import_errors_before_pyflakes_warnings(bridge):
    code = "print(undefined_one)\nimport os\n\n\nimport no_such_module_abc\nundefined_two\n"
    result = bridge.get_diagnostics(code)
    assert result["error"] is None
    markers = result["diagnostics"]
    assert_markers(markers)
    assert markers[0]["message"] == "import 'no_such_module_abc' could not be resolved"
    assert markers[0]["startLineNumber"] == 5
    assert [m["severity"] for m in markers] == [8] + [4] * (len(markers) - 1)
    warnings = [(m["startLineNumber"], m["message"]) for m in markers[1:]]
    assert (1, "undefined name 'undefined_one'") in warnings
    assert (6, "undefined name 'undefined_two'") in warnings


@pytest.mark.parametrize("code, module_name", [
    ("import os\nimport no_such_module_jkl\nundefined\n", None),
    ("from typing import List\nx = []  # type: List[Missing]\ndef f(a):\n    # type: (Gone) -> None\n    pass\n",
     "pkg_mod"),
])
def test_text_parsed_once_with_the_answers_of_the_checks_alone(lsp, bridge, logs, monkeypatch, code, module_name):
    # pyflakes and the import check walk the syntax check's tree; on their own they parse the text
    # themselves, and the request answers and logs exactly what they do then.
    alone = bridge._run_pyflakes(code, f"<{module_name}>" if module_name else "<editor>")
    alone += bridge._check_unresolved_imports(code, module_name)
    alone_records = logs.calls
    logs.clear()
    parses, real_parse = [], ast.parse
    monkeypatch.setattr(lsp.ast, "parse", lambda text, *a, **kw: parses.append(text) or real_parse(text, *a, **kw))
    result = bridge.get_diagnostics(code, module_name)
    assert parses.count(code) == 1  # pyflakes also parses the type comments, on their own
    assert result == {"diagnostics": sorted(alone, key=lambda d: -d["severity"]), "error": None}
    assert logs.calls[1:] == alone_records


@pytest.mark.parametrize("replace, called", [
    (lambda real, calls: lambda *args: calls.append(args[:2]) or real(*args), [("import os\n", "<pkg_mod>")]),
    (lambda real, calls: types.FunctionType(real.__code__, real.__globals__), []),  # pyflakes' own, rebound
])
def test_check_replaced_after_the_first_request(lsp, bridge, monkeypatch, replace, called):
    import pyflakes.api

    first, calls, parses, real_parse = bridge.get_diagnostics("import os\n", "pkg_mod"), [], [], ast.parse
    monkeypatch.setattr(pyflakes.api, "check", replace(pyflakes.api.check, calls))
    monkeypatch.setattr(lsp.ast, "parse", lambda text, *a, **kw: parses.append(text) or real_parse(text, *a, **kw))
    assert bridge.get_diagnostics("import os\n", "pkg_mod") == first
    assert calls == called and len(parses) == 1 + len(called)  # only a replacement parses again


def test_sort_is_stable_and_descending(bridge, monkeypatch):
    def marker(tag, severity):
        return {"startLineNumber": 1, "startColumn": 1, "endLineNumber": 1, "endColumn": 2, "message": tag,
                "severity": severity}

    flakes = [marker("w1", 4), marker("e1", 8), {"message": "none"}, marker("w2", 4), marker("e2", 8)]
    imports = [marker("i1", 8), marker("i2", 8)]
    monkeypatch.setattr(bridge, "_run_pyflakes", lambda code, fn: list(flakes))
    monkeypatch.setattr(bridge, "_check_unresolved_imports", lambda code, mn: list(imports))
    result = bridge.get_diagnostics("x = 1\n")
    assert [m["message"] for m in result["diagnostics"]] == ["e1", "e2", "i1", "i2", "w1", "w2", "none"]


def test_without_pyflakes_the_import_check_still_runs(lsp, bridge, monkeypatch):
    monkeypatch.setattr(lsp, "PYFLAKES_AVAILABLE", False)
    monkeypatch.setattr(bridge, "_run_pyflakes", mock.Mock(side_effect=AssertionError("must not run")))
    result = bridge.get_diagnostics("import os\nimport no_such_module_def\nundefined\n")
    assert [m["message"] for m in result["diagnostics"]] == ["import 'no_such_module_def' could not be resolved"]


def test_sort_key_is_a_new_lambda_each_call(lsp, bridge, monkeypatch):
    keys = []
    method_type = type(lsp.LSPBridge.get_diagnostics)

    class Marker(dict):
        def get(self, *args):
            assert args == ("severity", 0)
            keys.extend(o for o in gc.get_objects()
                        if type(o) is method_type and o.__name__ == "<lambda>" and all(o is not k for k in keys))
            return super().get(*args)

    monkeypatch.setattr(bridge, "_check_unresolved_imports", lambda code, mn: [Marker(severity=8)])
    bridge.get_diagnostics("x = 1\n")
    bridge.get_diagnostics("x = 1\n")
    assert len(keys) == 2 and keys[0] is not keys[1]
    key = keys[0]
    assert (key.__qualname__, key.__name__, key.__module__, key.__doc__, key.__annotations__, key.__defaults__) == (
        "LSPBridge.get_diagnostics.<locals>.<lambda>", "<lambda>", lsp.__name__, None, {}, None)
    assert key({"severity": 4}) == 4 and key({}) == 0 and key(d={"severity": 8}) == 8
    with pytest.raises(TypeError, match=r"^lambda\(\) takes exactly 1 positional argument \(2 given\)$"):
        key({}, {})
    with pytest.raises(TypeError, match=r"^lambda\(\) got an unexpected keyword argument 'x'$"):
        key(x=1)


@pytest.mark.parametrize(
    "patch, error",
    [
        ({"parse": ValueError("no parse")}, "no parse"),
        ({"parse": MemoryError()}, "MemoryError"),  # an empty exception text becomes the class name
        ({"_run_pyflakes": RuntimeError("flakes broke")}, "flakes broke"),
        ({"_check_unresolved_imports": KeyError("k")}, "'k'"),
    ],
)
def test_failure_answer(lsp, bridge, logs, patch, error):
    name, exc = next(iter(patch.items()))
    target = lsp.ast if name == "parse" else bridge
    with mock.patch.object(target, name, side_effect=exc, create=True):
        result = bridge.get_diagnostics("import no_such_module_ghi\nundefined\n")
    assert result == {"diagnostics": [], "error": error}
    assert logs.calls[-1] == ("ERROR", "[LSP] Error in get_diagnostics: %s", (error,))


def test_request_log_stands_outside_the_guard(lsp, bridge, monkeypatch):
    logger = mock.Mock()
    logger.debug.side_effect = RuntimeError("logger broke")
    monkeypatch.setattr(lsp, "logger", logger)
    with pytest.raises(RuntimeError, match="logger broke"):
        bridge.get_diagnostics("x = 1\n")
    assert logger.error.call_count == 0


def test_keyboard_interrupt_is_not_an_answer(bridge, monkeypatch):
    monkeypatch.setattr(bridge, "_run_pyflakes", mock.Mock(side_effect=KeyboardInterrupt))
    with pytest.raises(KeyboardInterrupt):
        bridge.get_diagnostics("x = 1\n")


ANY = object()  # the interpreter's parser decides (its recursion limits differ by version)


@pytest.mark.parametrize(
    "code, error, count",
    [
        pytest.param("x = 1\0\n", "source code string cannot contain null bytes", 0, id="nul"),
        pytest.param("x = " + "-" * 100_000 + "1\n", "MemoryError", 0, id="deep-unary"),
        pytest.param("x = " + "+".join(["1"] * 100_000) + "\n", ANY, ANY, id="deep-binop"),
        pytest.param("x = a" + ".b" * 100_000 + "\n", ANY, ANY, id="deep-attribute"),
        pytest.param("(" * 300 + ")" * 300 + "\n", None, 1, id="too-many-parens"),
        pytest.param("a\ud800 = 1\n", ANY, 0, id="lone-surrogate"),
        pytest.param("s = '\udcff'\n", ANY, 0, id="lone-surrogate-in-string"),
        pytest.param("x = '" + "a" * 1_000_000 + "'\n", None, 0, id="1MB-line"),
        pytest.param("from . import x\nfrom .. import y\n", None, 2, id="relative-no-module"),
        pytest.param("import no_such_a.b.c.d\nfrom no_such_a.b.c import d\n", None, 4, id="dotted-missing"),
        pytest.param("import \ufeffos\n", None, 1, id="bom-inside"),
    ],
)
def test_hostile_input_gives_a_result(bridge, code, error, count):
    result = bridge.get_diagnostics(code)
    assert list(result) == ["diagnostics", "error"]
    assert isinstance(result["diagnostics"], list)
    assert_markers(result["diagnostics"])
    if result["error"] is not None:
        assert result["error"] and result["diagnostics"] == []
    if error is not ANY:
        assert result["error"] == error
    if count is not ANY:
        assert len(result["diagnostics"]) == count


def test_huge_unused_name_is_marked_over_its_length(bridge):
    name = "n" * 1_000_000
    result = bridge.get_diagnostics(f"import {name}\n")
    assert result["diagnostics"] == [
        {"startLineNumber": 1, "startColumn": 1, "endLineNumber": 1, "endColumn": 8 + len(name),
         "message": f"import '{name}' could not be resolved", "severity": 8},
        {"startLineNumber": 1, "startColumn": 1, "endLineNumber": 1, "endColumn": 1 + len(name),
         "message": f"'{name}' imported but unused", "severity": 4},
    ]


def test_fifty_thousand_imports(bridge):
    code = "import os\n" * 25_000 + "import no_such_module_jkl\n" * 25_000
    result = bridge.get_diagnostics(code)
    assert result["error"] is None
    errors = [m for m in result["diagnostics"] if m["severity"] == 8]
    assert len(errors) == 25_000
    assert [m["startLineNumber"] for m in errors] == list(range(25_001, 50_001))
