"""HTTP server of the editor demo: the page, Monaco's files and the JSON API.

Run:  build/venv39/bin/python demo/server.py [--port 8765] [--fake]
Port 0 picks a free port; the chosen address is printed as
"listening on http://127.0.0.1:PORT/".
"""

import argparse
import json
import logging
import os
import signal
import socket
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from api import MAX_BODY_BYTES, ROUTES, Api, RequestError
from backend import BackendError, load_bridge
from static_files import StaticError, StaticFiles

DEMO_DIR = os.path.dirname(os.path.abspath(__file__))
STATIC_DIR = os.path.join(DEMO_DIR, "static")
MONACO_DIR = os.path.join(DEMO_DIR, "node_modules", "monaco-editor", "min", "vs")
SAMPLE_DIR = os.path.join(DEMO_DIR, "sample")
SAMPLE_MODULES = ("main", "shapes", "utils")
SAMPLE_ROUTE = "/api/sample"

log = logging.getLogger("demo.server")


class _ClientGone(Exception):
    """The client stopped sending; there is nobody to answer."""


# A client that hangs up mid-request (a reload, a closed tab, a stopped curl) is routine for a
# local tool: one log line, not a traceback.
HANG_UPS = (ConnectionError, socket.timeout)


def log_hang_up(address, error):
    log.info("%s hung up mid-request: %s", address, error)


def load_sample():
    modules = []
    for name in SAMPLE_MODULES:
        with open(os.path.join(SAMPLE_DIR, name + ".py"), encoding="utf-8") as f:
            modules.append({"name": name, "code": f.read()})
    return {"modules": modules}


class Handler(BaseHTTPRequestHandler):
    server_version = "lsp-bridge-demo"
    # A client that stops sending must not hold a thread for ever.
    timeout = 30

    # -- dispatch -------------------------------------------------------
    def do_GET(self):
        self._started = time.monotonic()
        path = self.path.split("?", 1)[0]
        if path == SAMPLE_ROUTE:
            self._send_json(200, load_sample())
        elif path in ROUTES:
            self._send_error(405, "use POST", allow="POST")
        elif path.startswith("/api/"):
            self._send_error(404, f"no such route: {path}")
        else:
            self._send_static()

    def do_HEAD(self):
        self.do_GET()

    def do_POST(self):
        self._started = time.monotonic()
        path = self.path.split("?", 1)[0]
        if path not in ROUTES:
            if path == SAMPLE_ROUTE or not path.startswith("/api/"):
                self._send_error(405, "method not allowed", allow="GET, HEAD")
            else:
                self._send_error(404, f"no such route: {path}")
            return
        try:
            body = self._read_body()
            data = json.dumps(self.server.api.handle(path, body)).encode("utf-8")
        except _ClientGone as gone:
            self.close_connection = True
            log_hang_up(self.address_string(), gone)
            return
        except RequestError as e:
            self._send_error(e.status, e.message)
            return
        except Exception as e:  # noqa: BLE001 - answer 500 rather than drop the connection
            log.exception("request %s failed", path)
            # A local tool: the page shows the reason in its status bar.
            self._send_error(500, f"the bridge failed: {type(e).__name__}: {e}")
            return
        self._send(200, data, "application/json")

    def _refuse_method(self):
        self._started = time.monotonic()
        self._send_error(405, "method not allowed", allow="GET, HEAD, POST")

    do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_TRACE = do_CONNECT = _refuse_method

    # -- request body ---------------------------------------------------
    def _read_body(self):
        if self.headers.get("Transfer-Encoding"):
            raise RequestError(411, "chunked bodies are not accepted; send Content-Length")
        lengths = self.headers.get_all("Content-Length") or []
        if not lengths:
            raise RequestError(411, "Content-Length is required")
        if len(lengths) > 1:
            raise RequestError(400, "more than one Content-Length")
        raw = lengths[0]
        if not (raw.strip().isascii() and raw.strip().isdigit()):
            raise RequestError(400, "invalid Content-Length")
        length = int(raw)
        if length > MAX_BODY_BYTES:
            raise RequestError(413, f"body larger than {MAX_BODY_BYTES} bytes")
        ctype = self.headers.get("Content-Type", "").split(";", 1)[0].strip().lower()
        # Also keeps other web pages from posting here with a plain form.
        if ctype != "application/json":
            raise RequestError(415, "Content-Type must be application/json")
        try:
            body = self.rfile.read(length)
        except OSError as e:  # timed out or reset while sending the body
            raise _ClientGone(e) from None
        if len(body) != length:
            raise RequestError(400, "request body shorter than Content-Length")
        return body

    # -- responses ------------------------------------------------------
    def _send_static(self):
        try:
            file_path, ctype = self.server.static.resolve(self.path)
            with open(file_path, "rb") as f:
                data = f.read()
        except StaticError as e:
            self._send_error(e.status, e.message)
            return
        except OSError:
            self._send_error(404, "not found")
            return
        self._send(200, data, ctype, cache="no-cache")

    def _send_json(self, status, payload, allow=None):
        data = json.dumps(payload).encode("utf-8")
        self._send(status, data, "application/json", allow=allow)

    def _send_error(self, status, message, allow=None):
        # The body was not read (or not all of it): this connection cannot be reused.
        self.close_connection = True
        self._send_json(status, {"error": message}, allow=allow)

    def _send(self, status, data, ctype, allow=None, cache="no-store"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", cache)
        self.send_header("X-Content-Type-Options", "nosniff")
        if allow:
            self.send_header("Allow", allow)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def log_request(self, code="-", size="-"):
        started = getattr(self, "_started", None)
        took = f" {1000 * (time.monotonic() - started):.0f} ms" if started else ""
        log.info("%s %s %s%s", self.command, self.path[:200], code, took)

    def log_message(self, format, *args):  # noqa: A002 - base class signature
        log.info("%s " + format, self.address_string(), *args)


class DemoServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, api, static):
        super().__init__(address, Handler)
        self.api = api
        self.static = static

    def handle_error(self, request, client_address):
        # Called inside the handler's `except`: a hang-up while the answer is written lands here.
        error = sys.exc_info()[1]
        if isinstance(error, HANG_UPS):
            log_hang_up(client_address[0], error)
        else:
            super().handle_error(request, client_address)


def make_server(api, host="127.0.0.1", port=0):
    static = StaticFiles([("/vs/", MONACO_DIR), ("/", STATIC_DIR)])
    return DemoServer((host, port), api, static)


def _stop(signum, frame):
    raise KeyboardInterrupt


def main(argv=None):
    parser = argparse.ArgumentParser(description="Monaco editor demo for lsp_bridge")
    parser.add_argument("--host", default="127.0.0.1", help="address to bind (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8765, help="port; 0 picks a free one (default 8765)")
    parser.add_argument("--fake", action="store_true", help="answer with jedi directly instead of lsp_bridge")
    args = parser.parse_args(argv)
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(levelname)s %(name)s %(message)s")

    if not os.path.isfile(os.path.join(MONACO_DIR, "loader.js")):
        log.warning("monaco-editor is missing; run `npm ci` in %s", DEMO_DIR)
    try:
        api = Api(load_bridge(fake=args.fake))
    except BackendError as e:
        print(e, file=sys.stderr)
        return 2
    try:
        server = make_server(api, args.host, args.port)
    except OSError as e:
        api.close()
        print(f"cannot listen on {args.host}:{args.port}: {e}", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, _stop)
    host, port = server.server_address[:2]
    print(f"listening on http://{host}:{port}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        api.close()
        log.info("bridge cleaned up; bye")
    return 0


if __name__ == "__main__":
    sys.exit(main())
