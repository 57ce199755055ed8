"""pyright as a peer to measure against: its language server over stdio (the npm package
pinned in bench/package.json, installed into bench/node_modules by `npm ci`), asked for
completions as an editor asks, without resolving any item's documentation.

    client = Pyright.start(workspace_folder)   # None when node or the package is missing
    seconds, items = client.complete(text, line, column)   # line 1-based, column 0-based
    client.close()

A document is opened at its first question and changed at each later one (the whole text, a
trailing line break put on or taken off, so that it is new to pyright), so pyright parses, binds
and evaluates it again as after a keystroke; the time is the completion request's, from its send
to its response. pyright checks an open file about 250 ms after the last request, whole and in
its one thread, which would land in whatever is measured next (the other tools' time on two
cores, or pyright's own next request): so each question returns once the check of its version
has published its diagnostics.
"""
import itertools
import json
import os
import queue
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "node_modules", "pyright", "langserver.index.js")
TIMEOUT_S = 60


def unavailable():
    """Why pyright cannot run here, or None."""
    if not shutil.which("node"):
        return "node is not installed"
    if not os.path.exists(SERVER):
        return "pyright is not installed (cd bench && npm ci)"
    return None


def version():
    with open(os.path.join(HERE, "node_modules", "pyright", "package.json"), encoding="utf-8") as f:
        return json.load(f)["version"]


class Pyright:
    def __init__(self, process, folder):
        self._process = process
        self._folder = folder
        self._ids = itertools.count(1)
        self._responses = {}
        self._arrived = threading.Condition()
        self._versions = itertools.count(1)
        self._errors = queue.Queue()
        self._open = set()
        self._checked = {}  # uri -> version of the last diagnostics published
        self._reader = threading.Thread(target=self._read, name="pyright-reader", daemon=True)
        self._reader.start()

    @classmethod
    def start(cls, folder, python=sys.executable):
        if unavailable():
            return None
        process = subprocess.Popen(["node", SERVER, "--stdio"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        client = cls(process, folder)
        client._python = python
        uri = "file://" + folder
        client.request("initialize", {
            "processId": os.getpid(), "rootUri": uri, "workspaceFolders": [{"uri": uri, "name": "bench"}],
            "capabilities": {"workspace": {"configuration": True},
                             "textDocument": {"completion": {"completionItem": {"snippetSupport": False}}}},
        })
        client.notify("initialized", {})
        return client

    # -- the wire

    def _send(self, message):
        body = json.dumps(message).encode("utf-8")
        self._process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self._process.stdin.flush()

    def _read(self):
        stream = self._process.stdout
        try:
            while True:
                length = None
                while True:
                    line = stream.readline()
                    if not line:
                        return
                    line = line.strip()
                    if not line:
                        break
                    name, _, value = line.partition(b":")
                    if name.lower() == b"content-length":
                        length = int(value)
                message = json.loads(stream.read(length))
                if message.get("method") == "textDocument/publishDiagnostics":
                    with self._arrived:
                        params = message["params"]
                        self._checked[params["uri"]] = params.get("version")
                        self._arrived.notify_all()
                if "method" in message and "id" in message:
                    self._send({"jsonrpc": "2.0", "id": message["id"], "result": self._answer(message)})
                elif "id" in message:
                    with self._arrived:
                        self._responses[message["id"]] = (time.perf_counter(), message)
                        self._arrived.notify_all()
        except Exception as e:  # the waiting request reports it
            self._errors.put(e)
            with self._arrived:
                self._arrived.notify_all()

    def _answer(self, message):
        """Requests from the server: settings, and registrations it only announces."""
        if message["method"] == "workspace/configuration":
            settings = {"python": {"pythonPath": self._python},
                        "python.analysis": {"typeCheckingMode": "off", "diagnosticMode": "openFilesOnly",
                                            "autoImportCompletions": False},
                        "pyright": {}}
            return [settings.get(item.get("section"), {}) for item in message["params"]["items"]]
        return None

    def notify(self, method, params):
        self._send({"jsonrpc": "2.0", "method": method, "params": params})

    def request(self, method, params):
        """(seconds from the send to the response, result)."""
        number = next(self._ids)
        start = time.perf_counter()
        self._send({"jsonrpc": "2.0", "id": number, "method": method, "params": params})
        deadline = start + TIMEOUT_S
        with self._arrived:
            while number not in self._responses:
                if not self._errors.empty():
                    raise self._errors.get()
                if self._process.poll() is not None:
                    raise RuntimeError("pyright's server ended")
                if not self._arrived.wait(deadline - time.perf_counter()):
                    raise TimeoutError(f"pyright did not answer {method} in {TIMEOUT_S} s")
            arrived, message = self._responses.pop(number)
        if "error" in message:
            raise RuntimeError(f"pyright: {message['error']}")
        return arrived - start, message.get("result")

    # -- questions

    def complete(self, text, line, column, name="site.py", change=True):
        """(seconds, labels) of a completion at (1-based line, column) of `text`; with change
        False, asked again of the document as pyright has checked it (opened if it is not)."""
        uri = "file://" + os.path.join(self._folder, name)
        sent = change or uri not in self._open
        version = next(self._versions) if sent else None
        typed = text.split("\n")[line - 1][:column]
        # Right after a dot the editor triggers the completion with it; after a name, by hand.
        context = {"triggerKind": 2, "triggerCharacter": "."} if typed.endswith(".") else {"triggerKind": 1}
        if not sent:
            pass
        elif uri in self._open:
            self.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": version},
                                                   "contentChanges": [{"text": text + "\n" * (version % 2)}]})
        else:
            self._open.add(uri)
            self.notify("textDocument/didOpen", {"textDocument": {
                "uri": uri, "languageId": "python", "version": version, "text": text + "\n" * (version % 2)}})
        seconds, result = self.request("textDocument/completion", {
            "textDocument": {"uri": uri}, "position": {"line": line - 1, "character": column}, "context": context})
        if sent:
            self._wait_checked(uri, version)
        items = result.get("items", []) if isinstance(result, dict) else (result or [])
        return seconds, [item["label"] for item in items]

    def _wait_checked(self, uri, version):
        deadline = time.perf_counter() + TIMEOUT_S
        with self._arrived:
            while (self._checked.get(uri) or 0) < version and self._process.poll() is None:
                if not self._arrived.wait(deadline - time.perf_counter()):
                    raise TimeoutError(f"pyright did not check {uri} in {TIMEOUT_S} s")

    def forget(self, name="site.py"):
        """Closes the document: pyright drops what it holds of it."""
        uri = "file://" + os.path.join(self._folder, name)
        if uri in self._open:
            self._open.discard(uri)
            self.notify("textDocument/didClose", {"textDocument": {"uri": uri}})

    def close(self):
        try:
            self.request("shutdown", None)
            self.notify("exit", None)
            self._process.wait(5)
        except Exception:
            self._process.kill()
            self._process.wait()
