"""Construction, hover mode, clean-up and the warm-up thread."""
import os
import threading
from unittest import mock

import pytest

from support import WARMUP_THREAD, recorded_jedi, wait_for_warmups

INIT_FORMAT = ("[LSP] LSPBridge initialized (pylsp_available=%s, pyflakes_available=%s, temp_dir=%s, "
               "python_server=%s, stubs=%s)")


def warmup_records(logs):
    return [r for r in logs.records if r.threadName == WARMUP_THREAD]


def test_construction(lsp, logs):
    b = lsp.LSPBridge()
    try:
        wait_for_warmups()
        assert list(vars(b)) == ["_workspace_path", "_temp_dir", "_python_server_path", "_stubs_path",
                                 "_jedi_project", "_hover_mode"]
        assert b._workspace_path is None and b._hover_mode == "compact"
        assert os.path.isdir(b._temp_dir.name) and os.listdir(b._temp_dir.name) == []
        assert b._python_server_path == os.path.dirname(os.path.abspath(lsp.__file__))
        assert b._stubs_path == os.path.join(b._python_server_path, "stubs")
        assert str(b._jedi_project.path) == b._temp_dir.name
        assert [str(p) for p in b._jedi_project.added_sys_path] == [b._stubs_path]
        main = [r for r in logs.records if r.threadName != WARMUP_THREAD]
        assert [(r.levelname, r.msg, r.args) for r in main] == [
            ("INFO", INIT_FORMAT, (True, True, b._temp_dir.name, b._python_server_path, b._stubs_path)),
            ("DEBUG", "[LSP] Started async corvane module preloading", ()),
        ]
        [warm] = warmup_records(logs)
        assert (warm.levelname, warm.msg) == ("INFO", "[LSP] Preloaded corvane module cache (%d completions found)")
        assert warm.args[0] > 10  # the stub of the host's module is found
    finally:
        b.cleanup()


def test_two_bridges_have_two_directories(lsp):
    a, b = lsp.LSPBridge(), lsp.LSPBridge()
    try:
        assert a._temp_dir.name != b._temp_dir.name
    finally:
        wait_for_warmups()
        a.cleanup()
        b.cleanup()


def test_construction_failure_escapes(lsp):
    with mock.patch.object(lsp.jedi, "Project", side_effect=RuntimeError("no project")):
        with pytest.raises(RuntimeError, match="no project"):
            lsp.LSPBridge()


def test_cleanup_twice(fresh_bridge, logs):
    path = fresh_bridge._temp_dir.name
    assert fresh_bridge.cleanup() is None
    assert not os.path.exists(path) and fresh_bridge._temp_dir is None
    assert fresh_bridge.cleanup() is None
    assert logs.calls == [("INFO", "[LSP] Cleaned up temporary directory", ())]


def test_cleanup_failure_is_logged_and_clears_the_attribute(fresh_bridge, logs):
    real = fresh_bridge._temp_dir
    with mock.patch.object(real, "cleanup", side_effect=OSError("busy")):
        assert fresh_bridge.cleanup() is None
    assert fresh_bridge._temp_dir is None
    [(level, fmt, args)] = logs.calls
    assert (level, fmt, str(args[0])) == ("WARNING", "[LSP] Failed to cleanup temporary directory: %s", "busy")
    real.cleanup()


def test_cleanup_clears_the_attribute_even_when_a_base_exception_escapes(fresh_bridge):
    real = fresh_bridge._temp_dir
    with mock.patch.object(real, "cleanup", side_effect=KeyboardInterrupt):
        with pytest.raises(KeyboardInterrupt):
            fresh_bridge.cleanup()
    assert fresh_bridge._temp_dir is None
    real.cleanup()


@pytest.mark.parametrize("mode, level, message, result", [
    ("detailed", "INFO", "[LSP] Hover mode set to: detailed", "detailed"),
    ("compact", "INFO", "[LSP] Hover mode set to: compact", "compact"),
    ("verbose", "WARNING", "[LSP] Invalid hover mode 'verbose', keeping current: compact", "compact"),
    ("Detailed", "WARNING", "[LSP] Invalid hover mode 'Detailed', keeping current: compact", "compact"),
    ("", "WARNING", "[LSP] Invalid hover mode '', keeping current: compact", "compact"),
    ("100%s", "WARNING", "[LSP] Invalid hover mode '100%s', keeping current: compact", "compact"),
])
def test_set_hover_mode(bridge, logs, mode, level, message, result):
    try:
        assert bridge.set_hover_mode(mode) is None
        assert bridge._hover_mode == result
        assert logs.calls == [(level, message, ())]
    finally:
        bridge._hover_mode = "compact"


def test_invalid_mode_shows_the_current_value_as_text(bridge, logs):
    bridge._hover_mode = 42
    try:
        bridge.set_hover_mode("x")
        assert logs.messages() == ["[LSP] Invalid hover mode 'x', keeping current: 42"]
    finally:
        bridge._hover_mode = "compact"


def test_preload_runs_on_the_callers_thread(bridge, logs):
    assert bridge.preload_corvane_module() is None
    [record] = logs.records
    assert record.threadName == threading.current_thread().name
    assert record.msg == "[LSP] Preloaded corvane module cache (%d completions found)"


def test_preload_failure_is_a_warning(lsp, bridge, logs):
    with mock.patch.object(lsp.jedi, "Script", side_effect=ValueError("broken stub")):
        assert bridge.preload_corvane_module() is None
    [(level, fmt, args)] = logs.calls
    assert (level, fmt, str(args[0])) == ("WARNING", "[LSP] Failed to preload corvane module: %s", "broken stub")


def test_preload_uses_the_current_project(lsp, bridge):
    with recorded_jedi(lsp, complete=lambda **position: iter(["a", "b"])) as script:
        bridge.preload_corvane_module()
    assert script.created == [{"code": "import corvane\ncorvane.", "path": "<warmup>", "project": bridge._jedi_project}]
    assert script.asked == [("complete", {"line": 2, "column": 8})]


def test_preload_async_starts_a_daemon_thread_each_time(lsp, bridge, logs):
    started = []
    real_thread = threading.Thread

    def spy(**kw):
        t = real_thread(**kw)
        started.append(t)
        return t

    with mock.patch.object(lsp.threading, "Thread", side_effect=spy):
        bridge.preload_corvane_module_async()
        bridge.preload_corvane_module_async()
    wait_for_warmups()
    assert [(t.name, t.daemon) for t in started] == [(WARMUP_THREAD, True)] * 2
    assert logs.formats("DEBUG") == ["[LSP] Started async corvane module preloading"] * 2
    assert len(warmup_records(logs)) == 2


def test_thread_start_failure_escapes_before_the_log(lsp, bridge, logs):
    with mock.patch.object(lsp.threading.Thread, "start", side_effect=RuntimeError("can't start new thread")):
        with pytest.raises(RuntimeError):
            bridge.preload_corvane_module_async()
    assert logs.calls == []


def test_warmup_without_stubs_still_works(lsp, bridge, logs):
    """A project without the stubs path finds no corvane: 0 completions or a warning."""
    saved = bridge._jedi_project
    bridge._jedi_project = lsp.jedi.Project(path=bridge._temp_dir.name, added_sys_path=[])
    try:
        bridge.preload_corvane_module()
    finally:
        bridge._jedi_project = saved
    [record] = logs.records
    assert record.args == (0,) or record.levelname == "WARNING"
