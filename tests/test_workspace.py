"""The module sync directory, the jedi project and the workspace record."""
import os
from unittest import mock

import pytest


def files(bridge):
    d = bridge._temp_dir.name
    return {n: open(os.path.join(d, n), encoding="utf-8").read() for n in sorted(os.listdir(d))}


@pytest.fixture
def sync_bridge(fresh_bridge):
    return fresh_bridge


def test_sync_merges_dirty_files(sync_bridge, logs):
    modules = {"a": "x = 1"}
    sync_bridge.sync_modules(modules, {"a": "x = 2", "b": "y = 3"})
    assert files(sync_bridge) == {"a.py": "x = 2", "b.py": "y = 3"}
    assert modules == {"a": "x = 1"}
    d = sync_bridge._temp_dir.name
    assert logs.calls == [("DEBUG", "[LSP] Synced module '%s' to %s", ("a", os.path.join(d, "a.py"))),
                          ("DEBUG", "[LSP] Synced module '%s' to %s", ("b", os.path.join(d, "b.py")))]


@pytest.mark.parametrize("dirty", [None, {}])
def test_sync_without_dirty_files(sync_bridge, dirty):
    sync_bridge.sync_modules({"m": "pass\n"}, dirty)
    assert files(sync_bridge) == {"m.py": "pass\n"}


def test_sync_keeps_old_files_and_rewrites_every_time(sync_bridge, logs):
    sync_bridge.sync_modules({"a": "1", "b": "2"})
    sync_bridge.sync_modules({"b": "3", "pkg.mod": "4", "naïve": "é"})
    assert files(sync_bridge) == {"a.py": "1", "b.py": "3", "naïve.py": "é", "pkg.mod.py": "4"}
    logs.clear()
    sync_bridge.sync_modules({})
    assert logs.calls == []


def test_sync_failure_of_one_module_keeps_the_others(sync_bridge, logs):
    sync_bridge.sync_modules({"bad": None, "good": "ok", "long" * 100: "x"})
    assert files(sync_bridge) == {"bad.py": "", "good.py": "ok"}
    warnings = [(fmt, args[0], type(args[1])) for level, fmt, args in logs.calls if level == "WARNING"]
    assert warnings == [("[LSP] Failed to sync module '%s': %s", "bad", TypeError),
                        ("[LSP] Failed to sync module '%s': %s", "long" * 100, OSError)]


def test_non_str_names_are_formatted(sync_bridge):
    sync_bridge.sync_modules({1: "one"})
    assert files(sync_bridge) == {"1.py": "one"}


def test_after_cleanup(sync_bridge):
    sync_bridge.cleanup()
    with pytest.raises(AttributeError):
        sync_bridge.sync_modules({"a": "1"})
    with pytest.raises(AttributeError):
        sync_bridge.delete_module("a")
    assert sync_bridge.sync_modules({}) is None
    assert sync_bridge._is_module_name("a") is True


def test_delete_module(sync_bridge, logs):
    sync_bridge.sync_modules({"a": "1"})
    logs.clear()
    assert sync_bridge.delete_module("gone") is None
    assert logs.calls == []
    sync_bridge.delete_module("a")
    assert files(sync_bridge) == {}
    assert logs.calls == [("DEBUG", "[LSP] Deleted module file '%s'", ("a",))]


def test_delete_failure_is_a_warning(sync_bridge, logs):
    os.mkdir(os.path.join(sync_bridge._temp_dir.name, "d.py"))
    sync_bridge.delete_module("d")
    [(level, fmt, args)] = logs.calls
    assert (level, fmt, args[0]) == ("WARNING", "[LSP] Failed to delete module file '%s': %s", "d")
    assert os.path.isdir(os.path.join(sync_bridge._temp_dir.name, "d.py"))


UNSAFE = ["../x", "/abs/path", "a/b", "a\\b", ".", "..", "../../etc/passwd", "x\0y", "sub/../../up"]


def snapshot(root):
    result = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for n in dirnames + filenames:
            p = os.path.join(dirpath, n)
            result[p] = open(p, "rb").read() if os.path.isfile(p) else None
    return result


def test_unsafe_names_never_leave_the_directory(sync_bridge, logs, tmp_path, monkeypatch):
    sandbox = tmp_path / "sandbox"
    (sandbox / "inner").mkdir(parents=True)
    (sandbox / "x.py").write_text("keep")
    (sandbox / "inner" / "y.py").write_text("keep")
    monkeypatch.chdir(sandbox / "inner")
    names = UNSAFE + [str(sandbox / "x"), str(sandbox / "inner" / "y")]
    before = snapshot(tmp_path)
    sync_bridge.sync_modules(dict({n: "evil" for n in names}, fine="ok"))
    for n in names:
        sync_bridge.delete_module(n)
    assert snapshot(tmp_path) == before
    assert files(sync_bridge) == {"fine.py": "ok"}
    refused = [args[0] for level, fmt, args in logs.calls if fmt == "[LSP] Refusing unsafe module name '%s'"]
    assert refused.count("../x") == 2 and set(refused) == set(names)


@pytest.mark.parametrize("path, expected", [
    ("utils", True), ("my_mod2", True), ("", False), ("utils.py", False), ("pkg.mod", False),
    ("pkg/mod", False), ("pkg\\mod", False), ("<editor>", False), (".hidden", False), ("1abc", False),
    ("class", True), ("naïve", True), ("a b", False), ("_", True),
])
def test_is_module_name(bridge, path, expected):
    assert bridge._is_module_name(path) is expected
    assert bridge._is_module_name(path) == path.isidentifier()


def test_is_module_name_reads_the_separator_at_call_time(lsp, bridge):
    with mock.patch.object(lsp.os.path, "sep", "q"):
        assert bridge._is_module_name("query") is False


def project_paths(bridge):
    return [str(p) for p in bridge._jedi_project.added_sys_path]


def test_update_sys_paths(fresh_bridge, logs):
    b = fresh_bridge
    fixed = [b._stubs_path, b._python_server_path]
    b.update_sys_paths(["/a", "/b", "/a"])
    assert project_paths(b) == fixed + ["/a", "/b"]
    assert str(b._jedi_project.path) == b._temp_dir.name
    assert logs.calls == [("INFO", "[LSP] Updated jedi project with %d total paths (%d package paths, stubs path: %s)",
                           (4, 3, b._stubs_path))]
    b.update_sys_paths([])
    assert project_paths(b) == fixed
    b.update_sys_paths([b._stubs_path, "/c"])
    assert project_paths(b) == fixed + ["/c"]
    assert logs.calls[-1][2] == (3, 2, b._stubs_path)


def test_update_sys_paths_after_cleanup_has_no_root(lsp, fresh_bridge):
    fresh_bridge.cleanup()
    with mock.patch.object(lsp.jedi, "Project", wraps=lsp.jedi.Project) as project:
        fresh_bridge.update_sys_paths(["/x"])
    assert project.call_args.kwargs["path"] is None


def test_update_sys_paths_failure_keeps_the_project(lsp, fresh_bridge, logs):
    old = fresh_bridge._jedi_project
    with mock.patch.object(lsp.jedi, "Project", side_effect=ValueError("bad path")):
        assert fresh_bridge.update_sys_paths(["/x"]) is None
    assert fresh_bridge._jedi_project is old
    [record] = logs.records
    assert (record.levelname, record.msg, str(record.args[0])) == (
        "ERROR", "[LSP] Failed to update sys paths: %s", "bad path")
    assert record.exc_info and record.exc_info[0] is ValueError


def test_set_workspace(fresh_bridge, logs):
    project = fresh_bridge._jedi_project
    assert fresh_bridge.set_workspace("C:/work/proj") is None
    assert fresh_bridge._workspace_path == "C:/work/proj" and fresh_bridge._jedi_project is project
    assert logs.calls == [("INFO", "[LSP] Workspace path recorded: %s (using temp_dir for jedi.Project)",
                           ("C:/work/proj",))]
