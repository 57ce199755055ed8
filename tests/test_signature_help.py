"""Signature help: the first signature as a Monaco signature, its parameters, the active
parameter, failures, and bad input. The preamble it shares with hover is tested there."""
from unittest import mock

import pytest

from support import Fake, jedi_checked, recorded_jedi
from support.samples import REALISTIC_MODULE, all_positions, bad_codes, bad_positions, sample_positions

EMPTY = {"signatures": [], "activeSignature": 0, "activeParameter": 0, "error": None}


def param(name, **attrs):
    return Fake(name=name, **attrs)


def sig(name="greet", params=(), index=None, text=None, docstring="Doc."):
    def doc(raw=False):
        assert raw is True
        if isinstance(docstring, BaseException):
            raise docstring
        return docstring

    text = text if text is not None else "%s(%d params)" % (name or "", len(params))
    return Fake(name=name, params=list(params), index=index, to_string=lambda: text, docstring=doc)


def help_with(lsp, bridge, signatures):
    with recorded_jedi(lsp, get_signatures=signatures) as script:
        result = bridge.get_signature_help("f(", 1, 2)
    assert script.asked == [("get_signatures", {"line": 1, "column": 2})]
    return result


def answer(label, documentation, parameters, active=0):
    return {
        "signatures": [{"label": label, "documentation": documentation, "parameters": parameters}],
        "activeSignature": 0,
        "activeParameter": active,
        "error": None,
    }


# --- with fake jedi ----------------------------------------------------------------------------

def test_signature_and_log(lsp, bridge, logs):
    s = sig(params=[param("name", description="param name: str"), param("count", description="param count=1")],
            index=1, text="greet(name: str, count=1) -> str", docstring="Say hello.")
    assert help_with(lsp, bridge, [s]) == answer(
        "greet(name: str, count=1) -> str",
        "Say hello.",
        [{"label": "name", "documentation": "param name: str"}, {"label": "count", "documentation": "param count=1"}],
        active=1,
    )
    assert logs.calls[-1] == ("DEBUG", "[LSP] Signature help: %s, activeParam=%d", ("greet", 1))


class DescriptionRaises:
    def __init__(self, error):
        self.error = error

    name = "p"

    @property
    def description(self):
        raise self.error


@pytest.mark.parametrize(
    "p, expected",
    [
        (param("p"), {"label": "p"}),
        (param("p", description=""), {"label": "p"}),
        (param("p", description=None), {"label": "p"}),
        (param("p", description="param p"), {"label": "p", "documentation": "param p"}),
        (param("p", description=3), {"label": "p", "documentation": 3}),
        (DescriptionRaises(AttributeError("gone")), {"label": "p"}),
        (DescriptionRaises(TypeError("odd")), {"label": "p"}),
    ],
    ids=["absent", "empty", "none", "text", "as-given", "attribute-error", "type-error"],
)
def test_parameters(lsp, bridge, p, expected):
    assert help_with(lsp, bridge, [sig(params=[p])])["signatures"][0]["parameters"] == [expected]


@pytest.mark.parametrize("index, active", [(None, 0), (0, 0), (2, 2), (7, 7)])
def test_active_parameter_is_jedi_index(lsp, bridge, index, active):
    assert help_with(lsp, bridge, [sig(index=index)])["activeParameter"] == active


@pytest.mark.parametrize(
    "docstring, documentation",
    [("Doc.", "Doc."), ("", ""), (None, ""), (AttributeError("x"), ""), (TypeError("x"), "")],
)
def test_documentation(lsp, bridge, docstring, documentation):
    assert help_with(lsp, bridge, [sig(docstring=docstring)])["signatures"][0]["documentation"] == documentation


@pytest.mark.parametrize("name", [None, ""])
def test_nameless_signature_is_labelled_function(lsp, bridge, logs, name):
    result = help_with(lsp, bridge, [sig(name=name, text="(a, b=2)")])
    assert result["signatures"][0]["label"] == "function(a, b=2)"
    assert logs.calls[-1] == ("DEBUG", "[LSP] Signature help: %s, activeParam=%d", (name, 0))


def test_only_the_first_signature(lsp, bridge):
    result = help_with(lsp, bridge, [sig(name="f", text="f(a)"), sig(name="f", text="f(a, b)")])
    assert [s["label"] for s in result["signatures"]] == ["f(a)"]
    assert result["activeSignature"] == 0


def test_no_signatures(lsp, bridge, logs):
    assert help_with(lsp, bridge, []) == EMPTY
    assert logs.calls[-1] == ("DEBUG", "[LSP] No signatures found", ())


class Raising:
    def __init__(self, **errors):
        self.errors = errors
        self.name, self.index, self.params = "f", None, []

    def __getattribute__(self, attr):
        errors = object.__getattribute__(self, "errors")
        if attr in errors:
            raise errors[attr]
        return object.__getattribute__(self, attr)

    def to_string(self):
        return "f()"

    def docstring(self, raw):
        return ""


@pytest.mark.parametrize(
    "signatures, text",
    [
        (RuntimeError("jedi broke"), "jedi broke"),
        (KeyError(), "KeyError"),
        ([Raising(params=ValueError("params"))], "params"),
        ([Raising(index=ValueError("index"))], "index"),
        ([Raising(name=RuntimeError("name"))], "name"),
        ([Raising(docstring=ValueError("doc"))], "doc"),
        ([sig(params=[DescriptionRaises(ValueError("desc"))])], "desc"),
        ([sig(params=[Fake()])], "'Fake' object has no attribute 'name'"),
        ([sig(name=3)], "unsupported operand type(s) for +: 'int' and 'str'"),
        ([Fake(name="f", params=[], to_string=lambda: "f()", docstring=lambda raw: "")],
         "'Fake' object has no attribute 'index'"),
    ],
    ids=["jedi", "empty-text", "params", "index", "name", "docstring-value-error", "param-description",
         "param-name", "non-str-name", "no-index"],
)
def test_failures_answer_with_error(lsp, bridge, logs, signatures, text):
    assert help_with(lsp, bridge, signatures) == dict(EMPTY, error=text)
    assert logs.calls[-1] == ("ERROR", "[LSP] Error in get_signature_help: %s", (text,))


def test_label_is_name_and_signature_formatter_text(lsp, bridge):
    s = sig(name="f")
    with mock.patch.object(bridge, "_format_signature", return_value="<formatted>") as formatter:
        assert help_with(lsp, bridge, [s])["signatures"][0]["label"] == "f<formatted>"
    formatter.assert_called_once_with(s)
    with mock.patch.object(bridge, "_format_signature", side_effect=ValueError("fmt")):
        assert help_with(lsp, bridge, [s]) == dict(EMPTY, error="fmt")


def test_base_exceptions_pass_through(lsp, bridge):
    with pytest.raises(KeyboardInterrupt):
        help_with(lsp, bridge, [sig(docstring=KeyboardInterrupt())])


# --- real jedi ---------------------------------------------------------------------------------

GREET_CODE = 'def greet(name: str, count=1) -> str:\n    """Say hello."""\n    return name * count\n\ngreet(name, )\n'


def test_worked_example_with_real_jedi(bridge, logs):
    result = bridge.get_signature_help(GREET_CODE, 5, 12)
    assert result == answer(
        "greet(name: str, count=1) -> str",
        "Say hello.",
        [{"label": "name", "documentation": "param name: str"}, {"label": "count", "documentation": "param count=1"}],
        active=1,
    )
    assert ("DEBUG", "[LSP] Signature help: %s, activeParam=%d", ("greet", 1)) in logs.calls


def test_real_outside_any_call(bridge, logs):
    assert bridge.get_signature_help(GREET_CODE, 3, 4) == EMPTY
    assert "[LSP] No signatures found" in logs.formats("DEBUG")


def test_real_function_of_a_synced_module(bridge):
    modules = {"tools": "def scale(value: float, factor: float = 2.0) -> float:\n    return value * factor\n"}
    code = "import tools\ntools.scale(1.5, "
    result = bridge.get_signature_help(code, 2, len("tools.scale(1.5, "), "main", modules)
    assert result["signatures"][0]["label"] == "scale(value: float, factor: float=2.0) -> float"
    assert [p["label"] for p in result["signatures"][0]["parameters"]] == ["value", "factor"]
    assert result["activeParameter"] == 1


# --- bad input ---------------------------------------------------------------------------------

ROTATION = [
    {"get_signatures": [sig(params=[Fake(name="a", description="param a")], index=0)]},
    {"get_signatures": []},
    {"get_signatures": [sig(name=None, params=[], index=None, docstring=None)]},
    {"get_signatures": [sig(name="f", params=[DescriptionRaises(TypeError("x"))], index=5), sig(name="g")]},
]


def assert_help_shape(result):
    assert list(result) == ["signatures", "activeSignature", "activeParameter", "error"]
    assert result["activeSignature"] == 0 and isinstance(result["activeParameter"], int)
    assert result["error"] is None or (isinstance(result["error"], str) and result["error"])
    assert len(result["signatures"]) <= 1
    if result["error"] is not None:
        assert result["signatures"] == [] and result["activeParameter"] == 0
    for s in result["signatures"]:
        assert list(s) == ["label", "documentation", "parameters"]
        assert isinstance(s["label"], str) and isinstance(s["documentation"], str)


def test_every_position_of_a_module_answers(lsp, bridge):
    code = REALISTIC_MODULE
    lines = code.split("\n")
    with jedi_checked(lsp, ROTATION):
        for line, column in all_positions(code):
            result = bridge.get_signature_help(code, line, column)
            assert_help_shape(result)
            inside = 1 <= line <= len(lines) and 0 <= column <= len(lines[line - 1])
            assert (result["error"] is None) == inside, (line, column, result)


def test_real_jedi_sample_of_positions(bridge):
    results = [bridge.get_signature_help(REALISTIC_MODULE, line, column)
               for line, column in sample_positions(REALISTIC_MODULE, every=1)]
    for result in results:
        assert_help_shape(result)
        assert result["error"] is None
    assert sum(bool(r["signatures"]) for r in results) > 20


@pytest.mark.parametrize("code_id, code", bad_codes(), ids=[c[0] for c in bad_codes()])
def test_bad_code_grid(bridge, code_id, code):
    for line, column in bad_positions(code):
        assert_help_shape(bridge.get_signature_help(code, line, column))
