"""The call boundary: method attributes, binding rules, conversions, type checks and refusals."""
import collections
import ctypes
import math
import sys

import pytest

from support import METHOD_ORDER, MODULE_NAME

# tools/, on the path through support
import public_surface as surface


def method(lsp, name):
    return vars(lsp.LSPBridge)[name]


@pytest.mark.parametrize("name", METHOD_ORDER)
def test_method_attributes(lsp, name):
    m = method(lsp, name)
    annotations, defaults = surface.annotations(name), surface.defaults(name)
    assert m.__name__ == name
    assert m.__qualname__ == "LSPBridge." + name
    assert m.__module__ == MODULE_NAME
    assert list(m.__annotations__.items()) == list(annotations.items())
    assert m.__defaults__ == defaults
    first, blank, summary = m.__doc__.split("\n")[:3]
    assert first.startswith("LSPBridge." + name + "(self") and blank == ""
    assert summary
    # the signature line names each typed parameter with its type, then its annotation
    for param, text in annotations.items():
        if param != "return":
            assert f" {param}: {text}" in first
    assert repr(m).startswith(f"<function LSPBridge.{name} at ")


def test_docstrings(lsp):
    assert method(lsp, "get_completions").__doc__ == surface.COMPLETIONS_DOC
    assert method(lsp, "set_hover_mode").__doc__.endswith('Args:\n    mode: Either "compact" or "detailed"')
    assert method(lsp, "_format_signature").__doc__.split("\n")[2] == (
        "Format a Jedi signature object into a clean, human-readable string.")


def test_binds_like_a_function(lsp, bridge):
    cls = lsp.LSPBridge
    m = method(lsp, "_is_module_name")
    assert cls._is_module_name is m
    assert m.__get__(None, cls) is m
    bound = bridge._is_module_name
    assert bound.__self__ is bridge and bound.__func__ is m
    assert bound("utils") is True and cls._is_module_name(bridge, "utils") is True
    assert cls._is_module_name(None, path="a.b") is False  # no test applies to self


@pytest.mark.parametrize("call, message", [
    (lambda b: b.get_completions("x"), "get_completions() takes at least 4 positional arguments (2 given)"),
    (lambda b: b.get_completions("x", 1, 0, None, None, None, None),
     "get_completions() takes at most 7 positional arguments (8 given)"),
    (lambda b: b.get_completions(code="x", line=1), "get_completions() takes at least 4 positional arguments (3 given)"),
    (lambda b: b.get_completions(column=0), "get_completions() takes at least 4 positional arguments (1 given)"),
    (lambda b: b.get_completions("x", 1, column=0, code="y"),
     "get_completions() got multiple values for keyword argument 'code'"),
    (lambda b: b.get_completions("x", 1, 0, colum=0), "get_completions() got an unexpected keyword argument 'colum'"),
    (lambda b: b.cleanup(1), "cleanup() takes exactly 1 positional argument (2 given)"),
    (lambda b: b.set_hover_mode(), "set_hover_mode() takes exactly 2 positional arguments (1 given)"),
    (lambda b: b._get_type_description(fallback_type="x"),
     "_get_type_description() takes exactly 3 positional arguments (1 given)"),
    (lambda b: type(b)(1), "__init__() takes exactly 1 positional argument (2 given)"),
    (lambda b: type(b)(x=1), "__init__() got an unexpected keyword argument 'x'"),
    (lambda b: type(b).cleanup(), "cleanup() takes exactly 1 positional argument (0 given)"),
    (lambda b: b.get_completions(None, 1, 0), "Argument 'code' has incorrect type (expected str, got NoneType)"),
    (lambda b: b.get_completions("x", "1", 0), "Argument 'line' has incorrect type (expected int, got str)"),
    (lambda b: b.get_completions(5, "1", 0), "Argument 'line' has incorrect type (expected int, got str)"),
    (lambda b: b.get_completions("x", None, 0), "Argument 'line' has incorrect type (expected int, got NoneType)"),
    (lambda b: b.get_completions("x", 1, 0, b"p"), "Argument 'path' has incorrect type (expected str, got bytes)"),
    (lambda b: b.get_hover("x", 1, 0, modules=[]), "Argument 'modules' has incorrect type (expected dict, got list)"),
    (lambda b: b.sync_modules(None), "Argument 'modules' has incorrect type (expected dict, got NoneType)"),
    (lambda b: b.update_sys_paths(("a",)), "Argument 'new_paths' has incorrect type (expected list, got tuple)"),
    (lambda b: b.set_hover_mode(1), "Argument 'mode' has incorrect type (expected str, got int)"),
    (lambda b: b._parse_pyflakes_message("m", 1j), None),  # the conversion's own error
])
def test_refusals(bridge, call, message):
    with pytest.raises(TypeError) as info:
        call(bridge)
    if message is not None:
        assert str(info.value) == message


class MyStr(str):
    pass


class MyList(list):
    pass


@pytest.mark.parametrize("call, expected, got", [
    (lambda b: b.get_completions(MyStr("x"), 1, 0), "str", "MyStr"),
    (lambda b: b.sync_modules(collections.OrderedDict()), "dict", "collections.OrderedDict"),
    (lambda b: b.update_sys_paths(MyList()), "list", "MyList"),
])
def test_subclass_refusal_carries_the_note(bridge, call, expected, got):
    with pytest.raises(TypeError) as info:
        call(bridge)
    text = str(info.value)
    prefix = f"Argument '{text.split(chr(39))[1]}' has incorrect type (expected {expected}, got {got}). "
    assert text.startswith(prefix)
    note = text[len(prefix):]
    assert note.count(". ") == 1 and note.endswith(".")
    assert "Subclasses of built-in types are refused" in note and "-DLSP_BRIDGE_ACCEPT_SUBCLASSES=ON" in note


@pytest.mark.parametrize("value, error", [
    (float("nan"), ValueError),
    (float("inf"), OverflowError),
    (-math.inf, OverflowError),
])
def test_int_conversion_errors_are_the_conversions_own(bridge, value, error):
    with pytest.raises(error) as info:
        bridge._get_word_prefix("x", value, 0)
    with pytest.raises(error) as direct:
        int(value)
    assert str(info.value) == str(direct.value)


def test_conversion_before_type_checks(bridge):
    # `code` is wrong too, but the first wrong int parameter is named first
    with pytest.raises(TypeError, match="Argument 'line'"):
        bridge._get_word_prefix(5, "1", 0)
    with pytest.raises(ValueError):
        bridge._get_word_prefix(5, float("nan"), 0)


def test_none_only_where_the_default_is_none(bridge):
    bridge.sync_modules({}, None)
    bridge.sync_modules({}, dirty_files=None)
    with pytest.raises(TypeError, match="expected str, got NoneType"):
        bridge.set_workspace(None)


def test_keywords_bind_like_positionals(bridge):
    before = bridge._workspace_path
    try:
        bridge.set_workspace(workspace_path="C:/work/proj")
        assert bridge._workspace_path == "C:/work/proj"
        bridge.set_workspace(MyStr("workspace_path") and "D:/x")
        assert bridge._workspace_path == "D:/x"
    finally:
        bridge._workspace_path = before


def test_str_subclass_keyword_name_is_compared_by_text(bridge):
    assert bridge._is_module_name(**{MyStr("path"): "abc"}) is True


def test_generic_call_refuses_non_str_keywords(lsp, bridge):
    api = ctypes.pythonapi
    api.PyObject_Call.restype = ctypes.py_object
    api.PyObject_Call.argtypes = [ctypes.py_object] * 3
    m = method(lsp, "_is_module_name")
    with pytest.raises(TypeError, match="^keywords must be strings$"):
        api.PyObject_Call(m, (bridge,), {1: "x"})
    assert api.PyObject_Call(m, (bridge,), {"path": "abc"}) is True


def test_vectorcall_refuses_non_str_keyword_names(lsp, bridge):
    api = ctypes.pythonapi
    if not hasattr(api, "PyObject_Vectorcall"):
        pytest.skip("PyObject_Vectorcall is not exported by this interpreter")
    api.PyObject_Vectorcall.restype = ctypes.py_object
    api.PyObject_Vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                                        ctypes.py_object]
    args = (ctypes.py_object * 2)(bridge, "abc")
    with pytest.raises(TypeError, match=r"^_is_module_name\(\) keywords must be strings$"):
        api.PyObject_Vectorcall(method(lsp, "_is_module_name"), args, 1, (1,))
    assert api.PyObject_Vectorcall(method(lsp, "_is_module_name"), args, 1, ("path",)) is True


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("index")


class RaisingEq(str):
    def __eq__(self, other):
        raise RuntimeError("eq")

    __hash__ = str.__hash__


BAD_VALUES = [None, True, 2**200, -2**70, 2.5, float("nan"), float("inf"), 1j, "s", MyStr("s"), b"b",
              {}, collections.OrderedDict(), [], MyList(), (), object(), RaisingIndex(), RaisingEq("x")]
SAFE_METHODS = ["set_hover_mode", "update_sys_paths", "_is_module_name", "set_workspace", "_get_type_description",
                "_format_signature", "_format_compact_hover", "_parse_pyflakes_message", "_get_word_prefix",
                "_can_resolve_import"]


@pytest.mark.parametrize("name", SAFE_METHODS)
def test_grid_of_bad_arguments_never_crashes(lsp, fresh_bridge, name):
    """Every position of every cheap method with every odd value: a result or an ordinary
    exception, and the bridge's state is unchanged by refused calls."""
    m = method(lsp, name)
    nparams = len(m.__doc__.split("(", 1)[1].split(")")[0].split(",")) - 1
    state = dict(vars(fresh_bridge))
    for position in range(nparams):
        for value in BAD_VALUES:
            args = ["x"] * nparams
            args[position] = value
            try:
                m(fresh_bridge, *args)
            except (TypeError, ValueError, OverflowError, RuntimeError, NotImplementedError):
                pass
    fresh_bridge._hover_mode = state["_hover_mode"]
    fresh_bridge._workspace_path = state["_workspace_path"]
    assert vars(fresh_bridge).keys() == state.keys()


def test_no_reference_leaks(bridge):
    code, paths, mods = "abc", ["/p"], {"m": "x = 1"}
    values = [code, paths, mods, None, True, False]
    calls = [lambda: bridge._is_module_name(code), lambda: bridge._is_module_name(path=code),
             lambda: bridge._is_module_name(None), lambda: bridge.sync_modules(paths),
             lambda: bridge.update_sys_paths(mods), lambda: bridge._is_module_name(code, code),
             lambda: bridge._get_word_prefix(code, 1.5, True)]

    def exercise(times):
        for _ in range(times):
            for call in calls:
                try:
                    call()
                except (TypeError, NotImplementedError):
                    pass

    exercise(10)  # one-time caches (interned names, exception types) settle first
    before = [sys.getrefcount(v) for v in values]
    exercise(2000)
    assert [sys.getrefcount(v) for v in values] == before
