"""_run_pyflakes and _parse_pyflakes_message: the two streams, the line shape, the quoted-name
widening, and the failure paths that must end in a log line and a list."""
import io
from types import SimpleNamespace

import pytest


def marker(line, start, end, message, severity):
    return {"startLineNumber": line, "startColumn": start, "endLineNumber": line, "endColumn": end,
            "message": message, "severity": severity}


@pytest.mark.parametrize(
    "line, expected",
    [
        ("<editor>:3:1: 'ab' imported but unused", marker(3, 1, 3, "'ab' imported but unused", 4)),
        ("<editor>:3:5: undefined name 'x'", marker(3, 5, 6, "undefined name 'x'", 4)),
        ("<editor>:2:4: '' is odd", marker(2, 4, 5, "'' is odd", 4)),
        ("<editor>:2:4: 'unclosed quote", marker(2, 4, 5, "'unclosed quote", 4)),
        ("<editor>:7: 'abc' without a column", marker(7, 1, 4, "'abc' without a column", 4)),
        ("C:\\src\\m.py:12:1: 'os' imported but unused", marker(12, 1, 3, "'os' imported but unused", 4)),
        ("a:b:c:5:2: text", marker(5, 2, 3, "text", 4)),
        ("<editor>:3: ", marker(3, 1, 2, " ", 4)),  # not stripped here: the blank is the message
        ("<editor>:3:7:", marker(3, 1, 2, "7:", 4)),  # no message text: the column becomes it
        ("<editor>:٣:٥: 'é' arabic-indic digits", marker(3, 5, 6, "'é' arabic-indic digits", 4)),
    ],
)
def test_parse_line(bridge, logs, line, expected):
    assert bridge._parse_pyflakes_message(line, 4) == expected
    assert list(bridge._parse_pyflakes_message(line, 4)) == list(expected)
    assert logs.calls == []


@pytest.mark.parametrize("line", ["", "<editor>:3:", "no shape here", "<editor>: problem decoding source"])
def test_lines_without_the_shape_give_none_silently(bridge, logs, line):
    assert bridge._parse_pyflakes_message(line, 4) is None
    assert logs.calls == []


@pytest.mark.parametrize(
    "line",
    ["<editor>:" + "1" * 5000 + ":1: too many digits for int()", "<editor>:1:" + "2" * 5000 + ": same for the column"],
)
def test_parse_failure_logs_at_debug(bridge, logs, line):
    assert bridge._parse_pyflakes_message(line, 4) is None
    [(level, fmt, args)] = logs.calls
    assert (level, fmt, args[0]) == ("DEBUG", "[LSP] Failed to parse pyflakes message '%s': %s", line)
    assert isinstance(args[1], ValueError)


def test_run_real_pyflakes(bridge, logs):
    code = "import os\nimport sys as system\n\ndef f():\n    return undefined_thing\n"
    result = bridge._run_pyflakes(code, "<mod>")
    assert result == [
        marker(1, 1, 3, "'os' imported but unused", 4),
        marker(2, 1, 14, "'sys as system' imported but unused", 4),
        marker(5, 12, 13, "undefined name 'undefined_thing'", 4),
    ]
    assert logs.calls[-1] == ("DEBUG", "[LSP] Pyflakes returned %d diagnostics", (3,))


@pytest.fixture
def fake_pyflakes(lsp, monkeypatch):
    """pyflakes replaced by fakes that write chosen lines into the reporter's streams."""
    fake = SimpleNamespace(warning_lines=[], error_lines=[], calls=[], fail=None)

    class Reporter:
        def __init__(self, warning_stream, error_stream):
            fake.calls.append(("Reporter", warning_stream.order, error_stream.order))
            self.streams = warning_stream, error_stream

    def check(code, filename, reporter):
        fake.calls.append(("check", code, filename))
        if fake.fail:
            raise fake.fail
        reporter.streams[0].write("".join(fake.warning_lines))
        reporter.streams[1].write("".join(fake.error_lines))
        return 99

    created = []

    class CountedStringIO(io.StringIO):
        def __init__(self, *args):
            super().__init__(*args)
            self.order = len(created)
            created.append(self)

    monkeypatch.setattr(lsp, "pyflakes_reporter", SimpleNamespace(Reporter=Reporter))
    monkeypatch.setattr(lsp, "pyflakes_api", SimpleNamespace(check=check))
    monkeypatch.setattr(lsp.io, "StringIO", CountedStringIO)
    return fake


def test_stream_order_and_severity(bridge, fake_pyflakes):
    fake_pyflakes.warning_lines = ["<f>:2:1: 'w2' late\n", "\n", "   \n", "junk line\n", "  <f>:1:1: w1  \r\n"]
    fake_pyflakes.error_lines = ["<f>:1:3: e1\n", "<f>:9: e2"]
    assert bridge._run_pyflakes("code", "<f>") == [
        marker(2, 1, 3, "'w2' late", 4),
        marker(1, 1, 2, "w1", 4),
        marker(1, 3, 4, "e1", 8),
        marker(9, 1, 2, "e2", 8),
    ]
    assert fake_pyflakes.calls == [("Reporter", 0, 1), ("check", "code", "<f>")]


def test_markers_gathered_before_a_failing_parse_are_kept(bridge, fake_pyflakes, monkeypatch, logs):
    fake_pyflakes.warning_lines = ["<f>:1:1: a\n", "<f>:2:1: b\n"]
    real = bridge._parse_pyflakes_message

    def parse(line, severity):
        if line.startswith("<f>:2:"):
            raise RuntimeError("parser broke")
        return real(line, severity)

    monkeypatch.setattr(bridge, "_parse_pyflakes_message", parse)
    assert bridge._run_pyflakes("code", "<f>") == [marker(1, 1, 2, "a", 4)]
    assert logs.formats("WARNING") == ["[LSP] Pyflakes check failed: %s"]


@pytest.mark.parametrize("exc", [RuntimeError("checker broke"), RecursionError("deep")])
def test_check_raising(bridge, fake_pyflakes, logs, exc):
    fake_pyflakes.fail = exc
    assert bridge._run_pyflakes("code", "<f>") == []
    assert [c for c in logs.calls if c[0] == "WARNING"] == [("WARNING", "[LSP] Pyflakes check failed: %s", (exc,))]


def test_missing_reporter_module_takes_the_failure_path(lsp, bridge, monkeypatch, logs):
    monkeypatch.delattr(lsp, "pyflakes_reporter")
    assert bridge._run_pyflakes("import os\n", "<f>") == []
    [(level, fmt, (error,))] = logs.calls
    assert (level, fmt, type(error), str(error)) == (
        "WARNING", "[LSP] Pyflakes check failed: %s", NameError, "name 'pyflakes_reporter' is not defined")
    # The request still answers, with the import check's markers.
    result = bridge.get_diagnostics("import os\nimport no_such_module_mno\n")
    assert [m["message"] for m in result["diagnostics"]] == ["import 'no_such_module_mno' could not be resolved"]
