"""_check_unresolved_imports and _can_resolve_import: which names are checked, the marker over
the whole statement, the three resolution sources, and which failures mean "does not resolve"."""
import itertools
import sys
import textwrap
from unittest import mock

import pytest

_counter = itertools.count()


def unresolved(name, line, start, end_line, end):
    return {"startLineNumber": line, "startColumn": start, "endLineNumber": end_line, "endColumn": end,
            "message": f"import '{name}' could not be resolved", "severity": 8}


@pytest.mark.parametrize(
    "code, expected",
    [
        ("import os\nimport os.path\nfrom os import path\n", []),
        ("x = 1\nimport no_such_mod_a\n", [unresolved("no_such_mod_a", 2, 1, 2, 21)]),
        ("import os, no_such_mod_b as b, sys\n", [unresolved("no_such_mod_b", 1, 1, 1, 35)]),
        ("import no_such_mod_c, no_such_mod_d\n",
         [unresolved("no_such_mod_c", 1, 1, 1, 36), unresolved("no_such_mod_d", 1, 1, 1, 36)]),
        ("from no_such_mod_e import (\n    a,\n    b,\n)\n", [unresolved("no_such_mod_e", 1, 1, 4, 2)]),
        ("from . import x\nfrom .. import y\n", []),
        ("from .no_such_mod_f import x\n", [unresolved("no_such_mod_f", 1, 1, 1, 29)]),
        ("try:\n    import no_such_mod_g\nexcept ImportError:\n    pass\n", [unresolved("no_such_mod_g", 2, 5, 2, 25)]),
        # Offsets count UTF-8 bytes: "é" is two of them.
        ("s = 'é'; import no_such_mod_h\n", [unresolved("no_such_mod_h", 1, 11, 1, 31)]),
        ("import no_such_pkg_i.b.c.d\n", [unresolved("no_such_pkg_i.b.c.d", 1, 1, 1, 27)]),
    ],
)
def test_markers(bridge, logs, code, expected):
    assert bridge._check_unresolved_imports(code) == expected
    assert bridge._check_unresolved_imports(code, "some_module") == expected
    assert logs.calls[-1] == ("DEBUG", "[LSP] Import check found %d unresolved imports", (len(expected),))


def test_walk_order_puts_nested_imports_last(bridge):
    code = "def f():\n    import no_such_mod_j\nimport no_such_mod_j\n"
    assert bridge._check_unresolved_imports(code) == [
        unresolved("no_such_mod_j", 3, 1, 3, 21),
        unresolved("no_such_mod_j", 2, 5, 2, 25),
    ]


def test_resolution_sources_in_order(lsp, bridge, monkeypatch):
    seen = []
    real_find_spec = lsp.importlib.util.find_spec
    monkeypatch.setattr(lsp.importlib.util, "find_spec", lambda name: seen.append(name) or real_find_spec(name))
    monkeypatch.setitem(sys.modules, "only_in_sys_modules_k", object())
    monkeypatch.delitem(sys.modules, "colorsys", raising=False)
    bridge.sync_modules({"only_synced_k": "x = 1\n"})
    try:
        assert bridge._can_resolve_import("only_in_sys_modules_k") is True
        assert bridge._can_resolve_import("only_synced_k") is True
        assert bridge._can_resolve_import("colorsys") is True
        assert bridge._can_resolve_import("no_such_mod_k") is False
    finally:
        bridge.delete_module("only_synced_k")
    assert seen == ["colorsys", "no_such_mod_k"]


@pytest.mark.parametrize(
    "name", ["", ".relative", "os.path.join.x", "no_such_pkg_l.sub", "a\0b", "..", "x/../../etc"]
)
def test_odd_names_do_not_resolve_and_do_not_raise(bridge, name):
    assert bridge._can_resolve_import(name) is False


@pytest.mark.parametrize("exc", [ModuleNotFoundError("m"), ImportError("i"), ValueError("v"), AttributeError("a")])
def test_lookup_failures_that_mean_unresolved(lsp, bridge, logs, exc):
    with mock.patch.object(lsp.importlib.util, "find_spec", side_effect=exc):
        assert bridge._can_resolve_import("no_such_mod_m") is False
        assert bridge._check_unresolved_imports("import no_such_mod_m\n") == [unresolved("no_such_mod_m", 1, 1, 1, 21)]
    assert logs.formats("WARNING") == []


def test_other_failures_keep_the_markers_found_so_far(lsp, bridge, logs):
    def find_spec(name):
        if name == "no_such_mod_n2":
            raise RuntimeError("importer broke")
        return None

    code = "import no_such_mod_n1\nimport no_such_mod_n2\nimport no_such_mod_n3\n"
    with mock.patch.object(lsp.importlib.util, "find_spec", find_spec):
        with pytest.raises(RuntimeError, match="importer broke"):
            bridge._can_resolve_import("no_such_mod_n2")
        assert bridge._check_unresolved_imports(code) == [unresolved("no_such_mod_n1", 1, 1, 1, 22)]
    [(level, fmt, (error,))] = [c for c in logs.calls if c[0] == "WARNING"]
    assert (level, fmt, str(error)) == ("WARNING", "[LSP] Import check failed: %s", "importer broke")


@pytest.fixture
def broken_packages(tmp_path, monkeypatch):
    """Packages on sys.path whose __init__ fails when find_spec imports them for a dotted child."""
    n = next(_counter)
    bodies = {
        f"raises_runtime_{n}": "raise RuntimeError('package init failed')\n",
        f"raises_import_{n}": "raise ImportError('package init failed')\n",
        f"bad_syntax_{n}": "def broken(:\n",
    }
    for name, body in bodies.items():
        (tmp_path / name).mkdir()
        (tmp_path / name / "__init__.py").write_text(body)
    monkeypatch.syspath_prepend(str(tmp_path))
    yield list(bodies)
    for name in bodies:
        sys.modules.pop(name, None)


def test_broken_packages(bridge, logs, broken_packages):
    runtime, importerror, syntax = broken_packages
    # An ImportError from the package means "does not resolve".
    code = f"import no_such_mod_o\nimport {importerror}.child\nimport {runtime}.child\nimport no_such_mod_p\n"
    assert bridge._check_unresolved_imports(code) == [
        unresolved("no_such_mod_o", 1, 1, 1, 21),
        unresolved(f"{importerror}.child", 2, 1, 2, 14 + len(importerror)),
    ]
    assert logs.messages("WARNING") == ["[LSP] Import check failed: package init failed"]
    logs.clear()
    # A syntax error raised while importing a package ends the check without a word.
    code = f"import no_such_mod_q\nimport {syntax}.child\nimport no_such_mod_r\n"
    assert bridge._check_unresolved_imports(code) == [unresolved("no_such_mod_q", 1, 1, 1, 21)]
    assert logs.calls == []
    for name in broken_packages:
        result = bridge.get_diagnostics(f"import {name}.child\n")
        assert result["error"] is None and isinstance(result["diagnostics"], list)


def errors(result):
    return [m for m in result["diagnostics"] if m["severity"] == 8]


def test_synced_module_resolves_until_cleanup(fresh_bridge):
    code = textwrap.dedent(
        """\
        import synced_mod_t
        from synced_mod_t import x
        """
    )
    fresh_bridge.sync_modules({"synced_mod_t": "x = 1\n"})
    assert errors(fresh_bridge.get_diagnostics(code)) == []
    fresh_bridge.cleanup()
    assert errors(fresh_bridge.get_diagnostics(code)) == [unresolved("synced_mod_t", 1, 1, 1, 20), unresolved("synced_mod_t", 2, 1, 2, 27)]
