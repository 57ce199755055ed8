"""The shape of every request's answer, checked the same way by the fuzz, soak and concurrency
runs: exactly the result keys in order, `error` None or a non-empty str, empty content with an
error, and every item or marker with the keys of its record in order, all as the request's row
of tools/public_surface.py describes them.

`check_answer` raises AssertionError naming what is wrong; with `strict` it also checks the
value types that real jedi and pyflakes produce (fakes may hand back anything)."""

from public_surface import (  # noqa: F401
    COMPLETION_ITEM, EMPTY_CONTENT, HOVER_CONTENTS, JEDI_REQUESTS, MARKER, PARAMETER, REQUESTS, RESULT_KEYS, SIGNATURE,
    request)


def check_record(record, shape, what, strict=False):
    """The record's keys are the required ones, then some of the optional ones, all in order;
    its lists hold their records, and what the record says holds."""
    assert type(record) is dict, f"{what}: {type(record).__name__} instead of dict"
    keys = list(record)
    assert tuple(keys[:len(shape.required)]) == shape.required, f"{what}: keys {keys}"
    extra = keys[len(shape.required):]
    assert extra == [k for k in shape.optional if k in extra], f"{what}: keys {keys}"
    for key, item_shape in shape.lists.items():
        _check_list(record[key], item_shape, f"{what} {key}", strict)
    assert shape.holds is None or shape.holds(record), f"{what}: {record}"
    assert not strict or shape.real is None or shape.real(record), f"{what}: {record}"


def _check_list(items, shape, what, strict):
    assert type(items) is list, f"{what}: {type(items).__name__} instead of list"
    for i, item in enumerate(items):
        check_record(item, shape, f"{what}[{i}]", strict)


def _check_content(method, key, value, strict):
    what = f"{method} {key.name}"
    if type(key.shape) is list:
        _check_list(value, key.shape[0], what, strict)
    elif key.shape is not None and not (value is None and key.empty is None):
        check_record(value, key.shape, what, strict)
    assert key.holds is None or key.holds(value), f"{what}: {value!r}"
    assert not strict or key.real is None or key.real(value), f"{what}: {value!r}"


def check_answer(method, result, strict=False):
    assert type(result) is dict, f"{method} answered {type(result).__name__}"
    assert tuple(result) == RESULT_KEYS[method], f"{method} keys {list(result)}"
    error = result["error"]
    assert error is None or (type(error) is str and error), f"{method} error {error!r}"
    if error is not None:
        assert {k: result[k] for k in EMPTY_CONTENT[method]} == EMPTY_CONTENT[method], result
    for key in request(method).answer:
        _check_content(method, key, result[key.name], strict)
    return result
