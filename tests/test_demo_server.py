"""The editor demo's HTTP server: request checks, static files, the bridge calls."""

import http.client
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEMO = os.path.join(REPO, "demo")
sys.path.insert(0, DEMO)

from api import MAX_BODY_BYTES, Api, RequestError  # noqa: E402
from server import make_server  # noqa: E402
from static_files import StaticError, StaticFiles  # noqa: E402

CANNED = {
    "get_completions": {"completions": [{"label": "path", "kind": 7, "insertText": "path"}], "error": None},
    "get_hover": {"contents": {"kind": "markdown", "value": "```python\n(function) f()\n```"}, "error": None},
    "get_signature_help": {"signatures": [], "activeSignature": 0, "activeParameter": 0, "error": None},
    "get_diagnostics": {"diagnostics": [], "error": None},
    "sync_modules": None,
    "set_hover_mode": None,
    "delete_module": None,
    "cleanup": None,
}


class RecordingBridge:
    """Answers like the bridge and records every call, to see what got through."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        if name not in CANNED:
            raise AttributeError(name)

        def method(*args):
            self.calls.append((name, args))
            return CANNED[name]
        return method


@pytest.fixture
def served():
    bridge = RecordingBridge()
    api = Api(bridge)
    server = make_server(api, port=0)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    yield server.server_address[1], bridge, api
    server.shutdown()
    server.server_close()


def call(port, method, path, body=None, headers=None):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        resp = conn.getresponse()
        return resp.status, resp.headers, resp.read()
    finally:
        conn.close()


def post(port, path, payload):
    body = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
    status, _, data = call(port, "POST", path, body, {"Content-Type": "application/json"})
    return status, json.loads(data)


def raw(port, request_head):
    """Send a hand-written request head, return the status code."""
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(request_head.encode("latin-1"))
        return int(s.recv(4096).split(b" ", 2)[1])


GOOD = {"code": "import os\nos.pa", "line": 2, "column": 5}


@pytest.mark.parametrize("body", [
    b"{not json", b"[1, 2]", b'"text"', b"\xff\xfe{}", b'{"code": "x", "line": NaN, "column": 0}',
    dict(GOOD, code=1), dict(GOOD, line="2"), dict(GOOD, line=True), dict(GOOD, line=1.0),
    dict(GOOD, line=0), dict(GOOD, column=-1), dict(GOOD, line=10 ** 30),
    dict(GOOD, path="../main"), dict(GOOD, path="pkg/mod"), dict(GOOD, path="utils.py"), dict(GOOD, path=""),
    dict(GOOD, modules={"../../tmp/x": "x = 1"}), dict(GOOD, modules={"a": 1}), dict(GOOD, modules=["a"]),
    dict(GOOD, dirty_files={"/abs": ""}), dict(GOOD, dirty_files={"a\u0000b": ""}),
    dict(GOOD, extra=1), {"code": "x", "line": 1},
])
def test_bad_request_is_refused_before_the_bridge(served, body):
    port, bridge, _ = served
    status, answer = post(port, "/api/complete", body)
    assert status == 400
    assert answer["error"]
    assert bridge.calls == []


@pytest.mark.parametrize("route, payload", [
    ("/api/hover-mode", {"mode": "verbose"}),
    ("/api/hover-mode", {"mode": None}),
    ("/api/delete-module", {"name": "../../etc/passwd"}),
    ("/api/delete-module", {}),
    ("/api/diagnostics", {"code": "x", "path": "<editor>"}),
])
def test_bad_maintenance_request_is_refused(served, route, payload):
    port, bridge, _ = served
    assert post(port, route, payload)[0] == 400
    assert bridge.calls == []


def test_completion_round_trip_passes_exact_arguments(served):
    port, bridge, _ = served
    payload = dict(GOOD, path="main", modules={"shapes": "class A: pass"}, dirty_files={"shapes": "class B: pass"})
    status, answer = post(port, "/api/complete", payload)
    assert (status, answer) == (200, CANNED["get_completions"])
    assert bridge.calls == [("get_completions", ("import os\nos.pa", 2, 5, "main",
                                                 {"shapes": "class A: pass"}, {"shapes": "class B: pass"}))]


@pytest.mark.parametrize("payload, expected_calls", [
    ({"code": "import shapes"}, [("get_diagnostics", ("import shapes", None))]),
    ({"code": "import shapes", "path": "main", "modules": {"shapes": "x = 1"}, "dirty_files": {}},
     [("sync_modules", ({"shapes": "x = 1"}, {})), ("get_diagnostics", ("import shapes", "main"))]),
])
def test_diagnostics_sync_sibling_modules_first(served, payload, expected_calls):
    port, bridge, _ = served
    assert post(port, "/api/diagnostics", payload) == (200, CANNED["get_diagnostics"])
    assert bridge.calls == expected_calls


@pytest.mark.parametrize("route, payload, expected", [
    ("/api/hover-mode", {"mode": "detailed"}, ("set_hover_mode", ("detailed",))),
    ("/api/delete-module", {"name": "shapes"}, ("delete_module", ("shapes",))),
])
def test_maintenance_calls(served, route, payload, expected):
    port, bridge, _ = served
    assert post(port, route, payload)[0] == 200
    assert bridge.calls == [expected]


def test_body_at_the_limit_is_accepted_and_one_byte_more_is_not(served):
    port, bridge, _ = served
    envelope = len(json.dumps(dict(GOOD, code="")).encode())
    at_limit = json.dumps(dict(GOOD, code="#" * (MAX_BODY_BYTES - envelope))).encode()
    assert len(at_limit) == MAX_BODY_BYTES
    assert post(port, "/api/complete", at_limit)[0] == 200
    # Refused from the header alone: no body is sent, so a server that tried
    # to read it would hang here instead of answering.
    head = ("POST /api/complete HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
            f"Content-Length: {MAX_BODY_BYTES + 1}\r\n\r\n")
    assert raw(port, head) == 413
    assert len(bridge.calls) == 1


@pytest.mark.parametrize("length_header, status", [
    ("", 411), ("Content-Length: abc\r\n", 400), ("Content-Length: -1\r\n", 400),
    ("Content-Length: 2\r\nContent-Length: 40\r\n", 400), ("Content-Length: \u00b2\r\n", 400),
    ("Transfer-Encoding: chunked\r\n", 411),
])
def test_missing_or_invalid_content_length(served, length_header, status):
    port, bridge, _ = served
    head = f"POST /api/complete HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n{length_header}\r\n"
    assert raw(port, head) == status
    assert bridge.calls == []


def test_body_must_be_declared_json(served):
    port, bridge, _ = served
    status, _, _ = call(port, "POST", "/api/complete", json.dumps(GOOD).encode(), {"Content-Type": "text/plain"})
    assert status == 415
    assert bridge.calls == []


@pytest.mark.parametrize("method, path, status", [
    ("POST", "/api/nothing", 404), ("GET", "/api/nothing", 404), ("GET", "/no-such-file.js", 404),
    ("GET", "/api/complete", 405), ("POST", "/index.html", 405), ("POST", "/api/sample", 405),
    ("PUT", "/api/complete", 405), ("DELETE", "/", 405), ("OPTIONS", "/", 405),
])
def test_unknown_routes_and_wrong_methods(served, method, path, status):
    port, bridge, _ = served
    got, headers, body = call(port, method, path)
    assert got == status
    assert json.loads(body)["error"]
    if status == 405:
        assert headers["Allow"]
    assert bridge.calls == []


@pytest.mark.parametrize("path", [
    "/../api.py", "/%2e%2e/api.py", "/%2E%2E%2Fapi.py", "/vs/../../api.py", "/vs/%2e%2e/%2e%2e/%2e%2e/api.py",
    "//etc/passwd", "/%2fetc/passwd", "/..%5capi.py", "/./index.html", "/index.html%00.png",
])
def test_path_traversal_is_refused(served, path):
    port, _, _ = served
    status, _, body = call(port, "GET", path)
    # Newer http.server versions collapse a leading "//" themselves, which
    # leaves a plain missing file.
    assert status == 403 or (path.startswith("//") and status == 404)
    assert b"import" not in body and b"root:" not in body


@pytest.mark.parametrize("path, content_type, marker", [
    ("/", "text/html", b"<html"), ("/app.js", "text/javascript", b"import"), ("/style.css", "text/css", b"{"),
])
def test_static_files_are_served(served, path, content_type, marker):
    status, headers, body = call(served[0], "GET", path)
    assert status == 200
    assert headers["Content-Type"].startswith(content_type)
    assert marker in body


def test_sample_project_lists_the_three_modules(served):
    status, _, body = call(served[0], "GET", "/api/sample")
    assert status == 200
    modules = json.loads(body)["modules"]
    assert [m["name"] for m in modules] == ["main", "shapes", "utils"]
    assert "import shapes" in modules[0]["code"]


def test_symlinks_may_not_lead_out_of_a_static_folder(tmp_path):
    root, outside = tmp_path / "root", tmp_path / "secret.txt"
    root.mkdir()
    outside.write_text("secret")
    (root / "page.html").write_text("<p>")
    (root / "inside.html").symlink_to(root / "page.html")
    (root / "leak.txt").symlink_to(outside)
    (root / "dir").symlink_to(tmp_path, target_is_directory=True)
    static = StaticFiles([("/", str(root))])
    assert static.resolve("/inside.html")[0] == str(root / "page.html")
    for path in ("/leak.txt", "/dir/secret.txt"):
        with pytest.raises(StaticError) as refused:
            static.resolve(path)
        assert refused.value.status == 403


class SlowBridge(RecordingBridge):
    """Notes how many calls run at once."""

    def __init__(self):
        super().__init__()
        self.active = self.most = 0

    def get_hover(self, *args):
        self.active += 1
        self.most = max(self.most, self.active)
        time.sleep(0.02)
        self.active -= 1
        return CANNED["get_hover"]


def test_bridge_calls_never_overlap():
    bridge = SlowBridge()
    api = Api(bridge)
    body = json.dumps(GOOD).encode()
    threads = [threading.Thread(target=api.handle, args=("/api/hover", body)) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert bridge.most == 1


def test_failing_bridge_answers_500_and_server_keeps_serving(served):
    port, bridge, _ = served

    def broken(*args):
        raise RuntimeError("boom")
    bridge.get_hover = broken
    status, answer = post(port, "/api/hover", GOOD)
    assert status == 500 and "RuntimeError: boom" in answer["error"]
    assert post(port, "/api/complete", GOOD)[0] == 200


def _reset_while_sending_the_body(port, server):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(b"POST /api/complete HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                  b"Content-Length: 100\r\n\r\n{")
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))  # close with a reset


def _pipe_breaks_while_answering(port, server):
    try:
        raise BrokenPipeError(32, "Broken pipe")
    except BrokenPipeError:  # where socketserver reports a failed answer
        server.handle_error(None, ("127.0.0.1", port))


@pytest.mark.parametrize("hang_up", [_reset_while_sending_the_body, _pipe_breaks_while_answering])
def test_a_client_hanging_up_is_one_log_line(caplog, capsys, hang_up):
    server = make_server(Api(RecordingBridge()), port=0)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    try:
        with caplog.at_level("INFO", logger="demo.server"):
            hang_up(server.server_address[1], server)
            deadline = time.monotonic() + 20
            while "hung up" not in caplog.text and time.monotonic() < deadline:
                time.sleep(0.05)
    finally:
        server.shutdown()
        server.server_close()
    assert len([r for r in caplog.records if "hung up mid-request" in r.getMessage()]) == 1
    assert "Traceback" not in capsys.readouterr().err


def test_close_cleans_up_once_and_refuses_later_calls():
    bridge = RecordingBridge()
    api = Api(bridge)
    api.close()
    api.close()
    assert bridge.calls == [("cleanup", ())]
    with pytest.raises(RequestError) as refused:
        api.handle("/api/complete", json.dumps(GOOD).encode())
    assert refused.value.status == 503


@pytest.mark.parametrize("args", [["--fake"], []], ids=["fake", "lsp_bridge"])
def test_server_process_round_trip_and_sigterm_cleanup(args):
    proc = subprocess.Popen([sys.executable, os.path.join(DEMO, "server.py"), "--port", "0", *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = proc.stdout.readline()
        assert line.startswith("listening on http://127.0.0.1:"), proc.stderr.read() if not line else line
        port = int(line.rsplit(":", 1)[1].strip("/\n"))
        status, answer = post(port, "/api/complete", dict(GOOD, path="main"))
        assert status == 200
        assert set(answer) == {"completions", "error"}
        if args:
            assert "path" in [c["label"] for c in answer["completions"]]
        proc.send_signal(signal.SIGTERM)
        _, err = proc.communicate(timeout=20)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()
    assert proc.returncode == 0
    assert "bridge cleaned up" in err
