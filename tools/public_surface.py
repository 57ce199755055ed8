"""The module's public surface, written once for the tests and the tools: the module's names in
binding order, the class docstring, the LSPBridge methods in class-body order with their
parameters and return annotations, the docstring of get_completions, and the keys of each
request's answer in order. A new method or request is one row here."""

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

# name -> (parameters after self, return annotation or None), in class-body order.
METHODS = {
    "__init__": ((), None),
    "preload_corvane_module": ((), "None"),
    "preload_corvane_module_async": ((), "None"),
    "cleanup": ((), "None"),
    "set_hover_mode": ((("mode", "str", False, None),), "None"),
    "update_sys_paths": ((("new_paths", "list", False, "List[str]"),), "None"),
    "_get_word_prefix": ((("code", "str", False, None), ("line", "int", False, None),
                          ("column", "int", False, None)), "str"),
    "_format_signature": ((("signature", "untyped", False, None),), "str"),
    "_format_compact_hover": ((("definition", "untyped", False, None),), "Optional[str]"),
    "_get_type_description": ((("definition", "untyped", False, None), ("fallback_type", "str", False, None)),
                              "str"),
    "_is_module_name": ((("path", "str", False, None),), "bool"),
    "sync_modules": ((("modules", "dict", False, "Dict[str, str]"),
                      ("dirty_files", "dict", True, "Optional[Dict[str, str]]")), "None"),
    "delete_module": ((("module_name", "str", False, None),), None),
    "get_completions": (REQUEST_PARAMS, ANSWER),
    "set_workspace": ((("workspace_path", "str", False, None),), None),
    "get_signature_help": (REQUEST_PARAMS, ANSWER),
    "get_hover": (REQUEST_PARAMS, ANSWER),
    "get_diagnostics": ((("code", "str", False, None), ("module_name", "str", True, "Optional[str]")), ANSWER),
    "_run_pyflakes": ((("code", "str", False, None), ("filename", "str", False, None)), "List[Dict[str, Any]]"),
    "_parse_pyflakes_message": ((("message", "str", False, None), ("severity", "int", False, None)),
                                "Optional[Dict[str, Any]]"),
    "_check_unresolved_imports": ((("code", "str", False, None), ("module_name", "str", True, "Optional[str]")),
                                  "List[Dict[str, Any]]"),
    "_can_resolve_import": ((("module_name", "str", False, None),), "bool"),
}
METHOD_ORDER = list(METHODS)

# The requests: method -> the keys of its answer, in order.
RESULT_KEYS = {
    "get_completions": ("completions", "error"),
    "get_hover": ("contents", "error"),
    "get_signature_help": ("signatures", "activeSignature", "activeParameter", "error"),
    "get_diagnostics": ("diagnostics", "error"),
}
REQUESTS = tuple(RESULT_KEYS)
JEDI_REQUESTS = tuple(name for name in REQUESTS if METHODS[name][0] == REQUEST_PARAMS)


def annotations(name):
    """The method's __annotations__: each typed parameter, then the return annotation."""
    params, returns = METHODS[name]
    result = {p: annotation or kind for p, kind, _, annotation in params if kind != "untyped"}
    if returns:
        result["return"] = returns
    return result


def defaults(name):
    """The method's __defaults__: None for each parameter that defaults to None, or None."""
    count = sum(optional for _, _, optional, _ in METHODS[name][0])
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
