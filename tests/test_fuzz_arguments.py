"""Every method and the diagnostics sort key called with generated argument lists and keyword
dicts of every type, through every calling path. A model of the binding rules, written from the
documented contract, predicts each refusal (type and message); a call that binds must return,
and the methods with their own error handling must not raise at all.

Fake jedi keeps this fast; a smaller sample runs the request methods on real jedi."""
import ctypes
import threading

import pytest
from hypothesis import given, strategies as st

from support import fake_bridge, fuzz_settings
from support.hostile_values import FITTING, Boom, values

# tools/, on the path through support
import public_surface
from answer_shapes import MARKER, REQUESTS, check_answer, check_record
from soak import capture_sort_key

# IntReturnsBool's __int__ gives a bool, which int() accepts with a warning.
pytestmark = pytest.mark.filterwarnings("ignore:__int__ returned non-int")

# name -> parameters after self: (name, kind, defaults to None), from the one table
METHODS = {name: tuple(p[:3] for p in m.params) for name, m in public_surface.METHODS.items()}
SORT_KEY = "lambda"
# Methods that handle their own failures: once the call binds (on a real bridge) they return.
NEVER_RAISE = set(REQUESTS) | {
    "__init__", "preload_corvane_module", "preload_corvane_module_async", "cleanup", "set_hover_mode",
    "update_sys_paths", "_get_word_prefix", "_format_compact_hover", "_is_module_name", "set_workspace",
    "_run_pyflakes", "_parse_pyflakes_message", "_check_unresolved_imports",
}
TYPES = {"str": str, "dict": dict, "list": list}
HEAP_TYPE = 1 << 9


def signature(name):
    if name == SORT_KEY:
        return (("d", "untyped", False),)
    return (("self", "untyped", False),) + METHODS[name]


# --- the model of the binding rules ------------------------------------------------------------

class Refused(Exception):
    """The model's verdict: this exception, raised before the body runs."""

    def __init__(self, error):
        super().__init__(error)
        self.error = error


def type_error(text):
    return Refused(TypeError(text))


def arity(name, has_defaults, word_if_defaults, count, given):
    word = word_if_defaults if has_defaults else "exactly"
    plural = "" if count == 1 else "s"
    return type_error(f"{name}() takes {word} {count} positional argument{plural} ({given} given)")


def type_name(t):
    """As the interpreter names a type in messages: a class by its name, an extension type by
    the dotted name it declares (collections.OrderedDict)."""
    if t.__flags__ & HEAP_TYPE or t.__module__ == "builtins":
        return t.__name__
    return f"{t.__module__}.{t.__name__}"


def is_number(value):
    return isinstance(value, complex) or any(hasattr(type(value), m) for m in ("__int__", "__float__", "__index__"))


def bind(name, args, kwargs, mapping_call):
    """The bound values, or raises Refused."""
    params = signature(name)
    n = len(params)
    required = sum(1 for p in params if not p[2])
    has_defaults = required < n
    if mapping_call and any(not isinstance(k, str) for k in kwargs):
        raise type_error("keywords must be strings")
    if len(args) > n:
        raise arity(name, has_defaults, "at most", n, len(args))
    bound = list(args) + [None] * (n - len(args))
    filled = [True] * len(args) + [False] * (n - len(args))
    if not kwargs and len(args) < required:
        raise arity(name, has_defaults, "at least", required, len(args))
    for key, value in kwargs.items():
        index = next((i for i, p in enumerate(params) if key == p[0]), None)
        if index is None:
            raise type_error(f"{name}() got an unexpected keyword argument '{str.__str__(key)}'")
        if filled[index]:
            raise type_error(f"{name}() got multiple values for keyword argument '{str.__str__(key)}'")
        bound[index], filled[index] = value, True
    for i in range(len(args), required):
        if not filled[i]:
            raise arity(name, has_defaults, "at least", required, i)
    for i, (pname, kind, _) in enumerate(params):
        if kind == "int" and type(bound[i]) is not int:
            if not is_number(bound[i]):
                raise type_error(f"Argument '{pname}' has incorrect type (expected int, got {type_name(type(bound[i]))})")
            try:
                bound[i] = int(bound[i])
            except Exception as e:  # the conversion's own error reaches the caller
                raise Refused(e)
    for i, (pname, kind, defaults_to_none) in enumerate(params):
        expected = TYPES.get(kind)
        if expected is None or type(bound[i]) is expected or (bound[i] is None and defaults_to_none):
            continue
        note = ". " if isinstance(bound[i], expected) else ""
        raise type_error(f"Argument '{pname}' has incorrect type (expected {expected.__name__}, got "
                         f"{type_name(type(bound[i]))}){note}")
    return bound


# --- generating calls ---------------------------------------------------------------------------

ROUTES = ("bound", "class", "generic", "capi")


class OnTheBridge:
    """`self` for a call through the class: the bridge itself (a generated value otherwise)."""

    def __repr__(self):
        return "ON_THE_BRIDGE"


ON_THE_BRIDGE = OnTheBridge()
PyObject_Call = ctypes.pythonapi.PyObject_Call
PyObject_Call.restype = ctypes.py_object
PyObject_Call.argtypes = (ctypes.py_object, ctypes.py_object, ctypes.py_object)


@st.composite
def calls(draw, names=tuple(METHODS) + (SORT_KEY,), routes=ROUTES):
    name = draw(st.sampled_from(names))
    params = signature(name)[0 if name == SORT_KEY else 1:]
    chosen = [draw(FITTING[kind] if draw(st.integers(0, 4)) else values) for _, kind, _ in params]
    split = draw(st.integers(0, len(chosen)))
    args = chosen[:split]
    if draw(st.integers(0, 9)) == 0:
        args += draw(st.lists(values, min_size=1, max_size=2))
    kwargs = {params[i][0]: chosen[i] for i in range(split, len(chosen)) if draw(st.integers(0, 5))}
    if draw(st.integers(0, 7)) == 0:
        kwargs[draw(st.sampled_from([p[0] for p in params] + ["self", "colum", "d"]) | FITTING["str"])] = draw(values)
    route = "direct" if name == SORT_KEY else draw(st.sampled_from(routes))
    if route == "capi" and draw(st.integers(0, 5)) == 0:
        kwargs[draw(st.integers() | st.none())] = 1
    self_value = draw(st.one_of(st.just(ON_THE_BRIDGE), st.just(ON_THE_BRIDGE), values))
    return name, route, self_value, tuple(args), kwargs


def perform(bridge, key, call):
    """Runs one generated call; returns (model verdict, result or exception, whether it raised)."""
    name, route, self_value, args, kwargs = call
    if name == SORT_KEY:
        func, full_args = key, args
    else:
        func = getattr(type(bridge), name)
        first = bridge if route == "bound" or self_value is ON_THE_BRIDGE else self_value
        full_args = (first,) + args
    try:
        expected = bind(name, full_args, kwargs, mapping_call=route == "capi")
    except Refused as r:
        expected = r
    try:
        if route == "bound":
            outcome = getattr(bridge, name)(*args, **kwargs)
        elif route in ("class", "direct"):
            outcome = func(*full_args, **kwargs)
        elif route == "generic":
            outcome = type(func).__call__(func, *full_args, **kwargs)
        else:
            outcome = PyObject_Call(func, full_args, kwargs)
    except Exception as e:  # anything else (a crash, a KeyboardInterrupt) fails the test loudly
        return expected, e, True
    return expected, outcome, False


def check_result(name, value):
    if name in REQUESTS:
        check_answer(name, value)
    elif name in ("_run_pyflakes", "_check_unresolved_imports"):
        assert type(value) is list
        for marker in value:
            check_record(marker, MARKER, name)
    elif name == "_parse_pyflakes_message":
        assert value is None or check_record(value, MARKER, name) is None
    elif name in ("_get_word_prefix", "_format_signature"):
        assert type(value) is str
    elif name in ("_is_module_name", "_can_resolve_import"):
        assert type(value) is bool


def check_call(bridge, key, call, logs):
    name, route, self_value, args, kwargs = call
    logs.clear()
    expected, outcome, raised = perform(bridge, key, call)
    mine = [r for r in logs.records if r.thread == threading.get_ident()]
    assert not isinstance(outcome, SystemError), f"{call}: {outcome!r}"
    if isinstance(expected, Refused):
        assert raised, f"{call}: bound, expected {expected.error!r}"
        assert type(outcome) is type(expected.error), f"{call}: {outcome!r} vs {expected.error!r}"
        if isinstance(outcome, TypeError) or isinstance(outcome, Boom):
            assert str(outcome).startswith(str(expected.error)), f"{call}: {outcome} vs {expected.error}"
        assert mine == [], f"{call}: a refusal logged {mine}"
        return
    on_the_bridge = name != SORT_KEY and expected[0] is bridge
    if raised:
        assert not (on_the_bridge and name in NEVER_RAISE), f"{call}: raised {outcome!r}"
        return
    if on_the_bridge:
        check_result(name, outcome)
    if name == "_is_module_name":
        assert outcome is expected[1].isidentifier()


@pytest.fixture(scope="module")
def sort_key(bridge):
    return capture_sort_key(bridge)


@fuzz_settings(2000)
@given(batch=st.lists(calls(), min_size=1, max_size=3))
def test_every_method_on_fake_jedi(lsp, sort_key, logs, batch):
    with fake_bridge(lsp) as bridge:
        for call in batch:
            check_call(bridge, sort_key, call, logs)


@fuzz_settings(80)
@given(call=calls(names=REQUESTS, routes=("bound",)))
def test_requests_on_real_jedi(bridge, sort_key, logs, call):
    check_call(bridge, sort_key, call, logs)


def test_the_model_knows_the_documented_refusals(lsp, bridge):
    # A few fixed cases, so that a wrong model cannot agree with a wrong module.
    cases = [
        (("get_completions", "bound", ON_THE_BRIDGE, ("x",), {}), "get_completions() takes at least 4 positional arguments (2 given)"),
        (("get_completions", "bound", ON_THE_BRIDGE, ("x", 1), {"column": 0, "code": "y"}),
         "get_completions() got multiple values for keyword argument 'code'"),
        (("cleanup", "bound", ON_THE_BRIDGE, (1,), {}), "cleanup() takes exactly 1 positional argument (2 given)"),
        (("sync_modules", "bound", ON_THE_BRIDGE, (None,), {}), "Argument 'modules' has incorrect type (expected dict, got NoneType)"),
        (("get_completions", "bound", ON_THE_BRIDGE, (5, "1", 0), {}), "Argument 'line' has incorrect type (expected int, got str)"),
        (("cleanup", "capi", ON_THE_BRIDGE, (), {1: 2}), "keywords must be strings"),
    ]
    for call, message in cases:
        expected, outcome, raised = perform(bridge, None, call)
        assert str(expected.error) == message and raised and str(outcome) == message
