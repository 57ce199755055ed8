"""Hover: compact blocks and type descriptions, the hover request in both layouts with its help
fallback, the request preamble shared with signature help, and bad input."""
import os
import threading
import time
from unittest import mock

import pytest

from support import Fake, RaisingDescription, definition, fake_jedi, jedi_checked, recorded_jedi, script_with, signature
from support.samples import REALISTIC_MODULE, all_positions, bad_codes, bad_positions, sample_positions

OPEN, CLOSE, SEP = "```python\n", "\n```", "\n\n---\n\n"
NOTHING = {"contents": None, "error": None}


def block(line):
    return OPEN + line + CLOSE


def markdown(*parts):
    return {"contents": {"kind": "markdown", "value": SEP.join(parts)}, "error": None}


@pytest.fixture
def detailed(bridge):
    with mock.patch.object(bridge, "_hover_mode", "detailed"):
        yield bridge


def hover_with(lsp, bridge, **answers):
    with recorded_jedi(lsp, **answers):
        return bridge.get_hover("x = 1\n", 1, 0)


# --- _format_compact_hover and _get_type_description ------------------------------------------

GREET = signature("greet(name: str) -> str")


@pytest.mark.parametrize(
    "defn, line",
    [
        (definition("greet", "function", signatures=[GREET]), "(function) greet(name: str) -> str"),
        (definition("greet", "function", signatures=[GREET, signature("greet() -> None")]),
         "(function) greet(name: str) -> str"),
        (definition("greet", "function"), "(function) greet"),
        (definition("greet", "function", signatures=RuntimeError("no signatures")), "(function) greet"),
        (definition("Point", "class"), "(class) Point"),
        (definition("os", "module"), "(module) os"),
        (definition("counter", "instance", description="int"), "(instance) counter: int"),
        (definition("x", "statement"), "(statement) x: statement"),
        (definition("x", "param", description=""), "(param) x: param"),
        (definition(None, "class"), "(class) "),
        (definition("", "function", signatures=[GREET]), "(function) (name: str) -> str"),
        (definition("greet", "Function", description="fn"), "(Function) greet: fn"),
        (definition(42, "module"), "(module) 42"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_compact_block(bridge, logs, defn, line):
    assert bridge._format_compact_hover(defn) == block(line)
    assert logs.calls == []


class TypeRaises:
    name = "n"

    @property
    def type(self):
        raise RuntimeError("type 100% unknown %s")


@pytest.mark.parametrize(
    "defn, text",
    [
        (TypeRaises(), "type 100% unknown %s"),
        (RaisingDescription(), "no description today"),
        (definition("n", "instance", description=5), "Expected str, got int"),
        (definition("n", "instance", description=[1]), "Expected str, got list"),
        (definition("n", 7), "Argument 'fallback_type' has incorrect type (expected str, got int)"),
    ],
    ids=["type", "description", "int-description", "list-description", "non-str-type"],
)
def test_compact_failure_is_logged_once_and_gives_none(bridge, logs, defn, text):
    assert bridge._format_compact_hover(defn) is None
    assert len(logs.calls) == 1
    level, message, args = logs.calls[0]
    assert level == "DEBUG" and args == ()
    assert message == "[LSP] Error formatting compact hover: " + text


@pytest.mark.parametrize(
    "defn, expected",
    [
        (Fake(), "statement"),
        (Fake(description=""), "statement"),
        (Fake(description=None), "statement"),
        (Fake(description=0), "statement"),
        (Fake(description="int"), "int"),
    ],
)
def test_type_description(bridge, defn, expected):
    assert bridge._get_type_description(defn, "statement") == expected


class BadTruth:
    def __bool__(self):
        raise RuntimeError("no truth")


@pytest.mark.parametrize(
    "defn, error, text",
    [
        (RaisingDescription(), ValueError, "no description today"),
        (Fake(description=5), TypeError, "Expected str, got int"),
        (Fake(description=BadTruth()), RuntimeError, "no truth"),
    ],
    ids=["lookup-raises", "truthy-non-str", "truth-test-raises"],
)
def test_type_description_failures_reach_the_caller(bridge, defn, error, text):
    with pytest.raises(error) as info:
        bridge._get_type_description(defn, "statement")
    assert str(info.value) == text


# --- get_hover with fake jedi ------------------------------------------------------------------

def worked_example_definitions():
    return [
        definition("greet", "function", full_name="pkg.greet", signatures=[GREET], docstring="Say hello."),
        definition("counter", "instance", full_name="", description="int", docstring=""),
    ]


def test_worked_example_detailed(lsp, detailed, logs):
    result = hover_with(lsp, detailed, infer=worked_example_definitions())
    assert result == markdown(block("pkg.greet(name: str) -> str"), "Say hello.", block("counter: int"))
    assert result["contents"]["value"].split("\n") == [
        "```python", "pkg.greet(name: str) -> str", "```", "", "---", "", "Say hello.", "", "---", "",
        "```python", "counter: int", "```",
    ]
    assert ("DEBUG", "[LSP] Hover: found %d definitions", (2,)) in logs.calls


def test_worked_example_compact(lsp, bridge):
    result = hover_with(lsp, bridge, infer=worked_example_definitions())
    assert result == markdown(block("(function) greet(name: str) -> str"), block("(instance) counter: int"))


def test_worked_example_help_fallback(lsp, bridge, logs):
    h = Fake(name="if", description="keyword", docstring=lambda: "T")
    assert hover_with(lsp, bridge, infer=[], help=[h]) == markdown(block("(keyword) if"), "T")
    assert logs.calls[1:] == [
        ("DEBUG", "[LSP] infer() returned empty, trying help() as fallback", ()),
        ("DEBUG", "[LSP] Hover (from help()): found %d results", (1,)),
    ]


@pytest.mark.parametrize(
    "defn, parts",
    [
        (definition("f", "function", full_name="m.f"), [block("m.f")]),
        (definition("f", "function", full_name="m.f", signatures=RuntimeError("x"), docstring="D"),
         [block("m.f"), "D"]),
        (definition("P", "class", full_name="m.P", docstring=RuntimeError("no doc")), [block("class m.P")]),
        (definition("os", "module", full_name=None), [block("module os")]),
        (definition("x", "statement", full_name="m.x"), [block("m.x: statement")]),
        (definition("x", "instance", full_name="m.x", description="x: int"), [block("m.x: x: int")]),
    ],
    ids=["no-signature", "signature-raises", "docstring-raises", "no-full-name", "fallback-type", "described"],
)
def test_detailed_blocks(lsp, detailed, defn, parts):
    assert hover_with(lsp, detailed, infer=[defn]) == markdown(*parts)


@pytest.mark.parametrize("mode, line", [("compact", "(function) f"), ("detailed", "m.f")])
def test_signature_formatter_failure_gives_plain_block(lsp, bridge, logs, mode, line):
    defn = definition("f", "function", full_name="m.f", signatures=[GREET])
    with mock.patch.object(bridge, "_hover_mode", mode), \
            mock.patch.object(bridge, "_format_signature", side_effect=ValueError("bad")):
        assert hover_with(lsp, bridge, infer=[defn]) == markdown(block(line))
    assert logs.formats("ERROR") == []


@pytest.mark.parametrize("mode", ["detailed", "Compact", "", "anything"])
def test_any_mode_but_compact_is_detailed(lsp, bridge, mode):
    defn = definition("P", "class", full_name="m.P", docstring="Doc")
    with mock.patch.object(bridge, "_hover_mode", mode):
        assert hover_with(lsp, bridge, infer=[defn, defn]) == markdown(block("class m.P"), "Doc", block("class m.P"), "Doc")


def test_mode_is_read_for_each_definition(lsp, bridge):
    real = bridge._format_compact_hover

    def switch_after_first(defn):
        bridge._hover_mode = "detailed"
        return real(defn)

    defn = definition("P", "class", full_name="m.P", docstring="Doc")
    with mock.patch.object(bridge, "_hover_mode", "compact"), \
            mock.patch.object(bridge, "_format_compact_hover", side_effect=switch_after_first):
        assert hover_with(lsp, bridge, infer=[defn, defn]) == markdown(block("(class) P"), block("class m.P"), "Doc")


def test_compact_without_any_block_has_no_contents(lsp, bridge, logs):
    assert hover_with(lsp, bridge, infer=[TypeRaises(), TypeRaises()]) == NOTHING
    assert ("DEBUG", "[LSP] Hover: found %d definitions", (2,)) in logs.calls


@pytest.mark.parametrize(
    "help_results, parts",
    [
        ([Fake(name="len", description="", docstring=lambda: "")], [block("len")]),
        ([Fake(name="len", docstring=lambda: "L")], [block("len"), "L"]),
        ([Fake(name=None, description="keyword", docstring=lambda: "only doc")], ["only doc"]),
        ([Fake(name="a", description="d", docstring=lambda: 1 / 0)], [block("(d) a")]),
        ([Fake(name="a", description=3, docstring=lambda: "")], [block("(3) a")]),
    ],
    ids=["falsy-description", "no-description", "no-name", "docstring-raises", "non-str-description"],
)
def test_help_fallback_parts(lsp, bridge, help_results, parts):
    assert hover_with(lsp, bridge, infer=[], help=help_results) == markdown(*parts)


@pytest.mark.parametrize(
    "help_answer, failure",
    [
        ([], None),
        ([Fake(name="", description="x", docstring=lambda: "")], None),
        (RuntimeError("help broke"), "help broke"),
        ([Fake(name="ok", description="d", docstring=lambda: ""), RaisingDescription()], "no description today"),
        ([Fake(name="ok", docstring=lambda: 5)], "sequence item 1: expected str instance, int found"),
    ],
    ids=["empty", "nothing-collected", "help-raises", "description-raises", "non-str-docstring"],
)
def test_help_fallback_without_parts(lsp, bridge, logs, help_answer, failure):
    assert hover_with(lsp, bridge, infer=[], help=help_answer) == NOTHING
    tail = [(level, msg) for level, msg, _ in logs.calls[2:]]
    if failure is None:
        assert tail == [("DEBUG", "[LSP] No type information found for hover")]
    else:
        assert tail == [("DEBUG", "[LSP] help() fallback failed: %s"), ("DEBUG", "[LSP] No type information found for hover")]
        assert str(logs.calls[2][2][0]) == failure


@pytest.mark.parametrize(
    "infer, text",
    [
        (ValueError("infer broke"), "infer broke"),
        (RuntimeError(), "RuntimeError"),
        ([RaisingDescription()], "no description today"),
        ([definition("n", "instance", description=5)], "Expected str, got int"),
        ([definition("x", "class", docstring=b"bytes")], "sequence item 1: expected str instance, bytes found"),
    ],
    ids=["infer-raises", "empty-text", "description-raises", "int-description", "non-str-docstring"],
)
def test_detailed_failures_answer_with_error(lsp, detailed, logs, infer, text):
    assert hover_with(lsp, detailed, infer=infer) == {"contents": None, "error": text}
    assert logs.calls[-1] == ("ERROR", "[LSP] Error in get_hover: %s", (text,))


def test_description_error_in_compact_mode_drops_only_that_block(lsp, bridge):
    result = hover_with(lsp, bridge, infer=[RaisingDescription(), definition("P", "class")])
    assert result == markdown(block("(class) P"))


def test_base_exceptions_pass_through_and_release_the_jedi_lock(lsp, bridge):
    defn = definition("P", "class", docstring=KeyboardInterrupt())
    with mock.patch.object(bridge, "_hover_mode", "detailed"), pytest.raises(KeyboardInterrupt):
        hover_with(lsp, bridge, infer=[defn])
    # Another thread can still take the lock afterwards.
    results = []
    t = threading.Thread(target=lambda: results.append(hover_with(lsp, bridge, infer=[definition("P", "class")])))
    t.start()
    t.join(60)
    assert results == [markdown(block("(class) P"))]


def test_jedi_work_of_two_requests_does_not_interleave(lsp, bridge):
    events = []

    def slow_infer_then_answer(**position):
        events.append("first infer starts")
        other.start()
        time.sleep(0.3)  # gives the other request every chance to run now, were it not locked out
        events.append("first infer ends")
        return [definition("P", "class")]

    class Script(script_with(infer=slow_infer_then_answer)):
        def __init__(self, **kwargs):
            events.append("script for " + kwargs["code"])
            super().__init__(**kwargs)

    other = threading.Thread(target=lambda: bridge.get_signature_help("f(", 1, 2))
    with fake_jedi(lsp, Script):
        bridge.get_hover("x", 1, 0)
        other.join(60)
    assert events == ["script for x", "first infer starts", "first infer ends", "script for f("]


# --- the request preamble, shared by hover and signature help ----------------------------------

REQUESTS = ["get_hover", "get_signature_help"]


@pytest.mark.parametrize("method", REQUESTS)
@pytest.mark.parametrize(
    "line, column, message",
    [
        (0, 0, "line must be a positive integer (1-based)"),
        (-3, -1, "line must be a positive integer (1-based)"),
        (1, -1, "column must be a non-negative integer (0-based)"),
    ],
)
def test_bad_position_answers_before_sync_and_jedi(lsp, bridge, logs, method, line, column, message):
    with recorded_jedi(lsp) as script, mock.patch.object(bridge, "sync_modules") as sync:
        result = getattr(bridge, method)("x = 1", line, column, None, {"m": "y = 2"})
    assert result["error"] == message
    assert script.created == [] and not sync.called
    assert logs.calls == [
        ("DEBUG", "[LSP] Request: %s line=%%d, column=%%d, path=%%s" % method, (line, column, None)),
        ("ERROR", "[LSP] Error in %s: %%s" % method, (message,)),
    ]


@pytest.mark.parametrize("method", REQUESTS)
@pytest.mark.parametrize("line, column, sent", [(3.9, 2.2, (3, 2)), (True, False, (1, 0))])
def test_numbers_reach_jedi_as_ints(lsp, bridge, method, line, column, sent):
    with recorded_jedi(lsp) as script:
        getattr(bridge, method)("a\nb\nc\n", line, column)
    name, position = script.asked[0]
    assert position == {"line": sent[0], "column": sent[1]}
    assert all(type(v) is int for v in position.values())


@pytest.mark.parametrize("method", REQUESTS)
@pytest.mark.parametrize(
    "modules, dirty, expected",
    [
        ({}, None, None),
        (None, {}, None),
        (None, {"a": "x = 1"}, ({}, {"a": "x = 1"})),
        ({"a": "x = 1"}, None, ({"a": "x = 1"}, None)),
        ({"a": "1"}, {}, ({"a": "1"}, {})),
    ],
)
def test_sync_only_with_modules_or_dirty_files(lsp, bridge, method, modules, dirty, expected):
    with recorded_jedi(lsp), mock.patch.object(bridge, "sync_modules") as sync:
        getattr(bridge, method)("x", 1, 0, None, modules, dirty)
    assert sync.call_args_list == ([] if expected is None else [mock.call(*expected)])


@pytest.mark.parametrize("method", REQUESTS)
@pytest.mark.parametrize("path", [None, "", "shapes", "D:/work/a.py", "<stdin>", "pkg.mod"])
def test_script_path_and_project(lsp, bridge, method, path):
    with recorded_jedi(lsp) as script:
        getattr(bridge, method)("x", 1, 0, path)
    expected = {None: "<editor>", "": "<editor>", "shapes": os.path.join(bridge._temp_dir.name, "shapes.py")}
    created = script.created
    assert created[0]["code"] == "x"
    assert created[0]["path"] == expected.get(path, path)
    assert created[0]["project"] is bridge._jedi_project


def test_after_cleanup_only_sync_directory_requests_fail(fresh_bridge):
    fresh_bridge.cleanup()
    code = "import os\nos.path.join('a', )\n"
    for method in REQUESTS:
        request = getattr(fresh_bridge, method)
        for result in [
            request(code, 2, 10, None, {"m": "y = 2"}),
            request(code, 2, 10, None, None, {"m": "y = 2"}),
            request(code, 2, 10, "shapes"),
        ]:
            assert result["error"] == "'NoneType' object has no attribute 'name'"
    assert fresh_bridge.get_hover(code, 2, 10, "D:/work/a.py")["contents"] is not None
    assert fresh_bridge.get_signature_help(code, 2, 18)["signatures"]


# --- real jedi ---------------------------------------------------------------------------------

GREET_CODE = 'def greet(name: str, count=1) -> str:\n    """Say hello."""\n    return name * count\n\ngreet("a", )\n'


def test_real_function_compact_and_detailed(bridge):
    assert bridge.get_hover(GREET_CODE, 5, 2) == markdown(block("(function) greet(name: str, count=1) -> str"))
    with mock.patch.object(bridge, "_hover_mode", "detailed"):
        result = bridge.get_hover(GREET_CODE, 5, 2)
    value = result["contents"]["value"]
    assert value.startswith(block("__main__.greet(name: str, count=1) -> str") + SEP)
    assert value.endswith("Say hello.")


def test_real_keyword_uses_help(bridge, logs):
    value = bridge.get_hover("if True:\n    pass\n", 1, 1)["contents"]["value"]
    assert value.startswith(block("(keyword if) if") + SEP)
    assert "[LSP] infer() returned empty, trying help() as fallback" in logs.formats("DEBUG")


def test_real_multi_module_project(bridge):
    modules = {"shapes": 'class Point:\n    """A point."""\n', "main": "from shapes import Point\nPoint\n"}
    dirty = {"shapes": 'class Point:\n    """A dirty point."""\n'}
    result = bridge.get_hover(modules["main"], 2, 2, "main", modules, dirty)
    assert result == markdown(block("(class) Point"))
    with mock.patch.object(bridge, "_hover_mode", "detailed"):
        value = bridge.get_hover(modules["main"], 2, 2, "main", modules, dirty)["contents"]["value"]
    assert value.startswith(block("class shapes.Point") + SEP) and "A dirty point." in value


# --- bad input ---------------------------------------------------------------------------------

# Awkward but possible answers from jedi, one per accepted position in turn.
ROTATION = [
    {"infer": [definition("f", "function", full_name="m.f", signatures=[GREET], docstring="D")]},
    {"infer": [definition("P", "class", full_name="m.P"), definition("os", "module")]},
    {"infer": [definition(None, "instance", description=None, docstring=RuntimeError("x"))]},
    {"infer": [definition("v", "Function", full_name="m.v", description="d"), definition(7, "param")]},
    {"infer": [], "help": [Fake(name="if", description="keyword", docstring=lambda: "T")]},
    {"infer": [], "help": []},
    {"infer": [], "help": [Fake(name=None, docstring=lambda: "")]},
]


def assert_hover_shape(result):
    assert list(result) == ["contents", "error"]
    assert result["error"] is None or (isinstance(result["error"], str) and result["error"])
    if result["contents"] is not None:
        assert result["error"] is None
        assert list(result["contents"]) == ["kind", "value"]
        assert result["contents"]["kind"] == "markdown"
        assert isinstance(result["contents"]["value"], str) and result["contents"]["value"]


@pytest.mark.parametrize("mode", ["compact", "detailed"])
def test_every_position_of_a_module_answers(lsp, bridge, mode):
    code = REALISTIC_MODULE
    lines = code.split("\n")
    with mock.patch.object(bridge, "_hover_mode", mode), jedi_checked(lsp, ROTATION):
        for line, column in all_positions(code):
            result = bridge.get_hover(code, line, column)
            assert_hover_shape(result)
            inside = 1 <= line <= len(lines) and 0 <= column <= len(lines[line - 1])
            assert (result["error"] is None) == inside, (line, column, result)


@pytest.mark.parametrize("mode", ["compact", "detailed"])
def test_real_jedi_sample_of_positions(bridge, mode):
    with mock.patch.object(bridge, "_hover_mode", mode):
        results = [bridge.get_hover(REALISTIC_MODULE, line, column) for line, column in sample_positions(REALISTIC_MODULE)]
    for result in results:
        assert_hover_shape(result)
    assert sum(r["contents"] is not None for r in results) > 40


@pytest.mark.parametrize("code_id, code", bad_codes(), ids=[c[0] for c in bad_codes()])
def test_bad_code_grid(bridge, code_id, code):
    for line, column in bad_positions(code):
        for mode in ("compact", "detailed"):
            with mock.patch.object(bridge, "_hover_mode", mode):
                assert_hover_shape(bridge.get_hover(code, line, column))
