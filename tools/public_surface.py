"""The module's public surface, written once for the tests and the tools: the module's names in
binding order, the class docstring, the LSPBridge methods in class-body order with their
parameters and return annotations, the docstring of get_completions, and what each
request's answer holds, what it asks and how to call it. A new method or request is one row here."""
from typing import Any, Callable, NamedTuple, Optional

MODULE_NAMES = [
    "ast", "importlib", "io", "logging", "os", "re", "sys", "tempfile", "threading",
    "Any", "Dict", "List", "Optional", "jedi",
    "pyflakes_api", "pyflakes_reporter", "PYFLAKES_AVAILABLE",
    "uris", "Config", "Workspace", "Document", "PYLSP_AVAILABLE",
    "setup_logging_subprocess", "get_logger", "logger",
    "JEDI_TO_MONACO_KIND", "MONACO_MARKER_SEVERITY_ERROR", "MONACO_MARKER_SEVERITY_WARNING",
    "PYFLAKES_MESSAGE_PATTERN", "IMPORT_ALIAS_PATTERN", "LSPBridge",
]

CLASS_DOC = (
    "\n    Bridge class for LSP-like functionality.\n    \n"
    "    Provides code completion and other language features using pylsp/jedi.\n"
    "    All interactions are logged with [LSP] prefix for debugging.\n    \n"
    "    Uses a \"Sync-to-Disk\" strategy to enable cross-module completion:\n"
    "    modules are written to a temporary directory so jedi can analyze them.\n    "
)

# A parameter after self: (name, kind, defaults to None, annotation); kind is "untyped", "str",
# "int", "dict" or "list", and an annotation of None means the kind's own type name.
REQUEST_PARAMS = (
    ("code", "str", False, None), ("line", "int", False, None), ("column", "int", False, None),
    ("path", "str", True, "Optional[str]"), ("modules", "dict", True, "Optional[Dict[str, str]]"),
    ("dirty_files", "dict", True, "Optional[Dict[str, str]]"),
)
ANSWER = "Dict[str, Any]"


# --- what the answers hold -----------------------------------------------------------------------

class Record(NamedTuple):
    """A dict of an answer: its required keys in order, then some of its optional ones in order.
    `lists`: the record of each item of a key that holds a list; `holds`: what is true of every
    record; `real`: what is true of those that real jedi and pyflakes give (a fake may give
    anything)."""
    required: tuple
    optional: tuple = ()
    lists: dict = {}
    holds: Optional[Callable] = None
    real: Optional[Callable] = None


class Key(NamedTuple):
    """A content key of an answer: its value when the request failed, what a value is (a Record,
    which may then also be None; a one-element list of one, for a list of such records; or None,
    for a plain value), and what is true of the value (`holds`), or of a real one (`real`)."""
    name: str
    empty: Any
    shape: Any = None
    holds: Optional[Callable] = None
    real: Optional[Callable] = None


COMPLETION_ITEM = Record(("label", "kind", "insertText"), ("detail", "documentation"),
                         real=lambda i: type(i["label"]) is str and type(i["kind"]) is int
                         and i["label"] == i["insertText"])
HOVER_CONTENTS = Record(("kind", "value"),
                        holds=lambda c: c["kind"] == "markdown" and type(c["value"]) is str and c["value"] != "")
PARAMETER = Record(("label",), ("documentation",))
SIGNATURE = Record(("label", "documentation", "parameters"), lists={"parameters": PARAMETER},
                   real=lambda s: type(s["label"]) is str and type(s["documentation"]) is str)
MARKER_PLACE = ("startLineNumber", "startColumn", "endLineNumber", "endColumn")
MARKER = Record(MARKER_PLACE + ("message", "severity"),
                real=lambda m: m["severity"] in (4, 8) and type(m["message"]) is str
                and all(type(m[k]) is int for k in MARKER_PLACE))


def by_severity(markers):
    severities = [m["severity"] for m in markers]
    return severities == sorted(severities, reverse=True)


class Request(NamedTuple):
    """What the tests and tools know of a request beyond its method row.

    answer: its content keys in order (`error` follows them);
    asks: what it asks, in order (a later one when the first found nothing): jedi.Script's
        methods, or the bridge's own (a name with a leading underscore) for a request without jedi;
    sample: the arguments of an ordinary call, one per required parameter, that answers without
        an error on real jedi and gives the same answer every time (see `call_args`);
    inner_log: the start of a log line it writes inside its question, and the warning of its own
        handler that takes a failure there, or None when the failure is the answer's error."""
    answer: tuple
    asks: tuple
    sample: tuple
    inner_log: tuple


class Method(NamedTuple):
    params: tuple  # the parameters after self
    returns: Optional[str] = None  # the return annotation
    request: Optional[Request] = None


# The methods in class-body order; a request is one row, with its Request.
METHODS = {
    "__init__": Method(()),
    "preload_corvane_module": Method((), "None"),
    "preload_corvane_module_async": Method((), "None"),
    "cleanup": Method((), "None"),
    "set_hover_mode": Method((("mode", "str", False, None),), "None"),
    "update_sys_paths": Method((("new_paths", "list", False, "List[str]"),), "None"),
    "_get_word_prefix": Method((("code", "str", False, None), ("line", "int", False, None),
                                ("column", "int", False, None)), "str"),
    "_format_signature": Method((("signature", "untyped", False, None),), "str"),
    "_format_compact_hover": Method((("definition", "untyped", False, None),), "Optional[str]"),
    "_get_type_description": Method((("definition", "untyped", False, None), ("fallback_type", "str", False, None)),
                                    "str"),
    "_is_module_name": Method((("path", "str", False, None),), "bool"),
    "sync_modules": Method((("modules", "dict", False, "Dict[str, str]"),
                            ("dirty_files", "dict", True, "Optional[Dict[str, str]]")), "None"),
    "delete_module": Method((("module_name", "str", False, None),)),
    "get_completions": Method(REQUEST_PARAMS, ANSWER, Request(
        answer=(Key("completions", [], [COMPLETION_ITEM]),),
        asks=("complete",),
        sample=("import json\njson.du", 2, 7),
        inner_log=("[LSP] Jedi returned", None))),
    "set_workspace": Method((("workspace_path", "str", False, None),)),
    "get_signature_help": Method(REQUEST_PARAMS, ANSWER, Request(
        answer=(Key("signatures", [], [SIGNATURE], holds=lambda s: len(s) <= 1),
                Key("activeSignature", 0, holds=lambda i: i == 0),
                Key("activeParameter", 0, real=lambda i: type(i) is int)),
        asks=("get_signatures",),
        sample=("import json\njson.dumps(", 2, 11),
        inner_log=("[LSP] Signature help:", None))),
    "get_hover": Method(REQUEST_PARAMS, ANSWER, Request(
        answer=(Key("contents", None, HOVER_CONTENTS),),
        asks=("infer", "help"),
        sample=("import json\njson.dumps", 2, 7),
        inner_log=("[LSP] Hover: found", None))),
    "get_diagnostics": Method((("code", "str", False, None), ("module_name", "str", True, "Optional[str]")), ANSWER,
                              Request(
        answer=(Key("diagnostics", [], [MARKER], holds=by_severity),),
        asks=("_run_pyflakes", "_check_unresolved_imports"),
        sample=("import os\nx = y\n",),
        # inside the import check, whose own handler takes the failure
        inner_log=("[LSP] Import check found", "[LSP] Import check failed: %s"))),
    "_run_pyflakes": Method((("code", "str", False, None), ("filename", "str", False, None)), "List[Dict[str, Any]]"),
    "_parse_pyflakes_message": Method((("message", "str", False, None), ("severity", "int", False, None)),
                                      "Optional[Dict[str, Any]]"),
    "_check_unresolved_imports": Method((("code", "str", False, None),
                                         ("module_name", "str", True, "Optional[str]")), "List[Dict[str, Any]]"),
    "_can_resolve_import": Method((("module_name", "str", False, None),), "bool"),
}
METHOD_ORDER = list(METHODS)

# The requests in class-body order, and their parts.
REQUESTS = tuple(name for name, m in METHODS.items() if m.request)
RESULT_KEYS = {name: tuple(k.name for k in METHODS[name].request.answer) + ("error",) for name in REQUESTS}
EMPTY_CONTENT = {name: {k.name: k.empty for k in METHODS[name].request.answer} for name in REQUESTS}


def request(name):
    return METHODS[name].request


def jedi_questions(name):
    """The jedi.Script methods the request asks, in order."""
    return tuple(q for q in request(name).asks if not q.startswith("_"))


JEDI_REQUESTS = tuple(name for name in REQUESTS if jedi_questions(name))
JEDI_QUESTIONS = tuple(dict.fromkeys(q for name in REQUESTS for q in jedi_questions(name)))


def param_names(name):
    return [p[0] for p in METHODS[name].params]


def call_args(name, prelude="", **values):
    """The positional arguments of a call of request `name`: its sample, with its text after
    `prelude` (whole lines) and its line moved down with it, then `values` by parameter name
    (those that are not the request's parameters are left out), up to the last one given."""
    assert prelude == "" or prelude.endswith("\n"), "the prelude is whole lines"
    params = param_names(name)
    sample = dict(zip(params, request(name).sample))
    sample["code"] = prelude + sample["code"]
    if "line" in sample:
        sample["line"] += prelude.count("\n")
    sample.update((k, v) for k, v in values.items() if k in params)
    count = max(params.index(k) + 1 for k in sample)
    return tuple(sample.get(p) for p in params[:count])


def annotations(name):
    """The method's __annotations__: each typed parameter, then the return annotation."""
    params, returns = METHODS[name].params, METHODS[name].returns
    result = {p: annotation or kind for p, kind, _, annotation in params if kind != "untyped"}
    if returns:
        result["return"] = returns
    return result


def defaults(name):
    """The method's __defaults__: None for each parameter that defaults to None, or None."""
    count = sum(optional for _, _, optional, _ in METHODS[name].params)
    return (None,) * count or None


COMPLETIONS_DOC = (
    "LSPBridge.get_completions(self, str code: str, int line: int, int column: int, str path: Optional[str] = None, "
    "dict modules: Optional[Dict[str, str]] = None, dict dirty_files: Optional[Dict[str, str]] = None) -> "
    "Dict[str, Any]\n\nGet code completions for the given position.\n\nArgs:\n    code: The source code text.\n"
    "    line: 1-based line number.\n    column: 0-based column number.\n    path: Optional file path (used for "
    "context).\n    modules: Optional dictionary of module names to source code.\n             If provided, these "
    "are synced to disk before completion.\n    dirty_files: Optional dictionary of module names to current editor "
    "content.\n                These override the corresponding entries in modules.\n    \nReturns:\n    Dict with:\n"
    "        - completions: List of completion items in Monaco format\n"
    "        - error: Optional error message if completion failed"
)
