"""The shape of every request's answer, checked the same way by the fuzz, soak and concurrency
runs: exactly the result keys in order, `error` None or a non-empty str, empty content with an
error, and every item or marker with the keys of its record in order.

`check_answer` raises AssertionError naming what is wrong; with `strict` it also checks the
value types that real jedi and pyflakes produce (fakes may hand back anything)."""

from public_surface import JEDI_REQUESTS, REQUESTS, RESULT_KEYS  # noqa: F401

COMPLETION_ITEM = (("label", "kind", "insertText"), ("detail", "documentation"))
SIGNATURE = (("label", "documentation", "parameters"), ())
PARAMETER = (("label",), ("documentation",))
MARKER = (("startLineNumber", "startColumn", "endLineNumber", "endColumn", "message", "severity"), ())
HOVER_CONTENTS = (("kind", "value"), ())


def check_record(record, shape, what):
    """The record's keys are the required ones, then some of the optional ones, all in order."""
    required, optional = shape
    assert type(record) is dict, f"{what}: {type(record).__name__} instead of dict"
    keys = list(record)
    assert tuple(keys[:len(required)]) == required, f"{what}: keys {keys}"
    extra = keys[len(required):]
    assert extra == [k for k in optional if k in extra], f"{what}: keys {keys}"


def _check_list(items, shape, what):
    assert type(items) is list, f"{what}: {type(items).__name__} instead of list"
    for i, item in enumerate(items):
        check_record(item, shape, f"{what}[{i}]")


def _check_completions(result, strict):
    _check_list(result["completions"], COMPLETION_ITEM, "completion item")
    if strict:
        for item in result["completions"]:
            assert type(item["label"]) is str and type(item["kind"]) is int, item
            assert item["label"] == item["insertText"], item


def _check_hover(result, strict):
    contents = result["contents"]
    if contents is not None:
        check_record(contents, HOVER_CONTENTS, "hover contents")
        assert contents["kind"] == "markdown", contents
        assert type(contents["value"]) is str and contents["value"], contents


def _check_signature_help(result, strict):
    signatures = result["signatures"]
    _check_list(signatures, SIGNATURE, "signature")
    assert len(signatures) <= 1, signatures
    assert result["activeSignature"] == 0, result
    for signature in signatures:
        _check_list(signature["parameters"], PARAMETER, "parameter")
        if strict:
            assert type(signature["label"]) is str and type(signature["documentation"]) is str, signature
    if strict:
        assert type(result["activeParameter"]) is int, result


def _check_diagnostics(result, strict):
    markers = result["diagnostics"]
    _check_list(markers, MARKER, "marker")
    severities = [m["severity"] for m in markers]
    assert severities == sorted(severities, reverse=True), severities
    if strict:
        for m in markers:
            assert m["severity"] in (4, 8) and type(m["message"]) is str, m
            assert all(type(m[k]) is int for k in MARKER[0][:4]), m


CONTENT_CHECKS = {
    "get_completions": _check_completions,
    "get_hover": _check_hover,
    "get_signature_help": _check_signature_help,
    "get_diagnostics": _check_diagnostics,
}
EMPTY_CONTENT = {
    "get_completions": {"completions": []},
    "get_hover": {"contents": None},
    "get_signature_help": {"signatures": [], "activeSignature": 0, "activeParameter": 0},
    "get_diagnostics": {"diagnostics": []},
}


def check_answer(method, result, strict=False):
    assert type(result) is dict, f"{method} answered {type(result).__name__}"
    assert tuple(result) == RESULT_KEYS[method], f"{method} keys {list(result)}"
    error = result["error"]
    assert error is None or (type(error) is str and error), f"{method} error {error!r}"
    if error is not None:
        assert {k: result[k] for k in EMPTY_CONTENT[method]} == EMPTY_CONTENT[method], result
    CONTENT_CHECKS[method](result, strict)
    return result
