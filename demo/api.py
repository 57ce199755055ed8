"""JSON API of the editor demo: request validation and the calls into the bridge.

Every request is checked here before anything reaches the bridge, because the
bridge turns module names into file names and refuses wrong argument types
with TypeError. The bridge is one object that is not safe to drive from two
threads at once, so every call into it holds one lock.
"""

import json
import threading

MAX_BODY_BYTES = 2 * 1024 * 1024
# Positions far past any real document are refused here rather than left
# to overflow a C int inside the bridge.
MAX_POSITION = 10_000_000
MAX_NAME_LENGTH = 100
HOVER_MODES = ("compact", "detailed")


class RequestError(Exception):
    """A request the server refuses; `status` is the HTTP status to answer with."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


def _bad(message):
    return RequestError(400, message)


def is_module_name(name):
    # Module names become file names inside the bridge's sync folder: only
    # plain identifiers, so no name can lead out of it ("../x", "/tmp/x").
    return isinstance(name, str) and name.isidentifier() and len(name) <= MAX_NAME_LENGTH


# -- field checks: each takes (field name, value) and returns the value ----

def _text(field, value):
    if not isinstance(value, str):
        raise _bad(f"'{field}' must be a string")
    return value


def _position(minimum):
    def check(field, value):
        # bool is an int subclass in Python but never a position.
        if type(value) is not int:
            raise _bad(f"'{field}' must be an integer")
        if not minimum <= value <= MAX_POSITION:
            raise _bad(f"'{field}' must be between {minimum} and {MAX_POSITION}")
        return value
    return check


def _module_name(field, value):
    if not is_module_name(value):
        raise _bad(f"'{field}' must be a module name (a Python identifier)")
    return value


def _optional(check):
    def optional(field, value):
        return None if value is None else check(field, value)
    return optional


def _module_texts(field, value):
    if not isinstance(value, dict):
        raise _bad(f"'{field}' must be an object mapping module names to source text")
    for name, text in value.items():
        if not is_module_name(name):
            raise _bad(f"'{field}' has an invalid module name: {name!r}")
        if not isinstance(text, str):
            raise _bad(f"'{field}[{name}]' must be a string")
    return value


def _hover_mode(field, value):
    if value not in HOVER_MODES:
        raise _bad(f"'{field}' must be one of: {', '.join(HOVER_MODES)}")
    return value


_CONTEXT = {
    "path": _optional(_module_name),
    "modules": _optional(_module_texts),
    "dirty_files": _optional(_module_texts),
}
_AT_POSITION = dict({"code": _text, "line": _position(1), "column": _position(0)}, **_CONTEXT)

# route -> (fields: name -> check, required field names)
ROUTES = {
    "/api/complete": (_AT_POSITION, ("code", "line", "column")),
    "/api/hover": (_AT_POSITION, ("code", "line", "column")),
    "/api/signature": (_AT_POSITION, ("code", "line", "column")),
    "/api/diagnostics": (dict({"code": _text}, **_CONTEXT), ("code",)),
    "/api/hover-mode": ({"mode": _hover_mode}, ("mode",)),
    "/api/delete-module": ({"name": _module_name}, ("name",)),
}


def _reject_constant(name):
    raise ValueError(f"{name} is not valid JSON")


def parse_body(body):
    """Decode a request body into a JSON object, or raise RequestError(400)."""
    try:
        payload = json.loads(body.decode("utf-8"), parse_constant=_reject_constant)
    except UnicodeDecodeError:
        raise _bad("request body is not UTF-8") from None
    except (ValueError, RecursionError) as e:
        raise _bad(f"malformed JSON: {e}") from None
    if not isinstance(payload, dict):
        raise _bad("request body must be a JSON object")
    return payload


def validate(route, payload):
    """Check a decoded payload against the route's fields; return the arguments."""
    fields, required = ROUTES[route]
    unknown = sorted(set(payload) - set(fields))
    if unknown:
        raise _bad(f"unknown field(s): {', '.join(unknown)}")
    missing = [name for name in required if name not in payload]
    if missing:
        raise _bad(f"missing field(s): {', '.join(missing)}")
    return {name: check(name, payload.get(name)) for name, check in fields.items()}


class Api:
    """Routes validated requests to one bridge, one call at a time."""

    def __init__(self, bridge):
        self._bridge = bridge
        self._lock = threading.Lock()
        self._closed = False

    def handle(self, route, body):
        args = validate(route, parse_body(body))
        with self._lock:
            if self._closed:
                raise RequestError(503, "server is shutting down")
            return self._dispatch(route, args)

    def _dispatch(self, route, a):
        b = self._bridge
        if route == "/api/complete":
            return b.get_completions(a["code"], a["line"], a["column"], a["path"], a["modules"], a["dirty_files"])
        if route == "/api/hover":
            return b.get_hover(a["code"], a["line"], a["column"], a["path"], a["modules"], a["dirty_files"])
        if route == "/api/signature":
            return b.get_signature_help(a["code"], a["line"], a["column"], a["path"], a["modules"], a["dirty_files"])
        if route == "/api/diagnostics":
            # Diagnostics do not sync by themselves; without this an import of
            # a sibling module that no other request has synced yet would be
            # flagged as unresolved.
            if a["modules"] or a["dirty_files"]:
                b.sync_modules(a["modules"] or {}, a["dirty_files"])
            return b.get_diagnostics(a["code"], a["path"])
        if route == "/api/hover-mode":
            b.set_hover_mode(a["mode"])
            return {"mode": a["mode"], "error": None}
        if route == "/api/delete-module":
            b.delete_module(a["name"])
            return {"deleted": a["name"], "error": None}
        raise RequestError(404, f"no such route: {route}")

    def close(self):
        """Release the bridge once; waits for a running call to finish."""
        with self._lock:
            if self._closed:
                return
            self._closed = True
            self._bridge.cleanup()
