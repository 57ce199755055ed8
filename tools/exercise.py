"""Calls every method of LSPBridge, every request type, and the usual failures, once or a few
times: the representative workload for memory checkers (make valgrind) and quick smoke runs."""
import collections
import logging
import os
import sys
import threading
from unittest import mock

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))

logging.basicConfig(level=logging.DEBUG, stream=open(os.devnull, "w"))

from corvane_master.python_server import lsp_bridge  # noqa: E402
from public_surface import REQUESTS, call_args  # noqa: E402

MODULES = {"shapes": "class Circle:\n    def area(self) -> float:\n        return 1.0\n",
           "utils": "def greet(name: str, count=1) -> str:\n    \"\"\"Say hello.\"\"\"\n    return name\n"}
CODE = "import shapes\nfrom utils import greet\nshapes.Circle().area()\ngreet('a', )\nimport nosuch\nx = undefined\n"


class Fake:
    name = "f"
    type = "function"
    full_name = "m.f"
    description = "desc"
    params = ()

    def get_signatures(self):
        return [self]

    def to_string(self):
        return "f(a, b=1) -> int"

    def docstring(self, raw=False):
        return "doc"


LONG_LINE = "x = " + " + ".join(["1"] * 3000)


def ask_every(b, prelude="", **values):
    """Every request at its sample after `prelude`, with those of `values` that are its parameters."""
    for method in REQUESTS:
        getattr(b, method)(*call_args(method, prelude, **values))


def expect_refusal(call):
    try:
        call()
    except (TypeError, ValueError, OverflowError):
        return
    raise AssertionError("call was not refused")


def main(rounds=2):
    b = lsp_bridge.LSPBridge()
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join(120)
    for _ in range(rounds):
        b.preload_corvane_module()
        b.set_hover_mode("detailed")
        b.set_hover_mode("nope")
        b.update_sys_paths(sys.path[:3] + ["/x", "/x"])
        b.set_workspace("/tmp/ws")
        b.sync_modules(MODULES, {"utils": MODULES["utils"] + "\n", "../escape": "no"})
        b._is_module_name("shapes")
        b._get_word_prefix(CODE, 3, 8)
        b._format_signature(Fake())
        b._format_signature(object())
        b._format_compact_hover(Fake())
        b._format_compact_hover(object())
        b._get_type_description(Fake(), "x")
        b._run_pyflakes(CODE, "<editor>")
        b._parse_pyflakes_message("<editor>:1:2: 'x' unused", 4)
        b._parse_pyflakes_message("nonsense", 8)
        b._check_unresolved_imports(CODE)
        b._can_resolve_import("os.path")
        for mode in ("compact", "detailed"):
            b.set_hover_mode(mode)
            b.get_hover(CODE, 3, 9, "main", MODULES)
            ask_every(b, line=99, column=0)  # past the text's end; diagnostics as usual
        ask_every(b, CODE, path="main", module_name="main", modules=MODULES, dirty_files={"shapes": MODULES["shapes"]})
        b.get_completions(CODE, 3, 7, "main", MODULES, {"shapes": MODULES["shapes"]})
        b.get_completions("import numpy as n", 1, 17)
        b.get_completions(CODE, 0, 0)
        b.get_signature_help(CODE, 4, 11, "main", MODULES)
        b.get_diagnostics("def broken(:\n", None)
        b.get_diagnostics("(" * 300)
        with mock.patch.object(lsp_bridge.jedi, "Script", side_effect=MemoryError()):
            b.get_completions(CODE, 1, 0)
        # Requests stopped by their time budget inside jedi, parso and pyflakes, then a value
        # that is no budget (one warning, the default used).
        os.environ["LSP_BRIDGE_REQUEST_BUDGET"] = "0.05"
        ask_every(b, LONG_LINE + "\n")
        b.get_diagnostics("".join(f"import m{i}\n" for i in range(300)))
        os.environ["LSP_BRIDGE_REQUEST_BUDGET"] = "soon"
        b.get_diagnostics(CODE, "main")
        del os.environ["LSP_BRIDGE_REQUEST_BUDGET"]
        expect_refusal(lambda: b.get_completions(None, 1, 0))
        expect_refusal(lambda: b.get_hover("x", float("nan"), 0))
        expect_refusal(lambda: b.sync_modules(collections.OrderedDict()))
        expect_refusal(lambda: b.get_diagnostics("x", module_name=1))
        expect_refusal(lambda: b.cleanup(1))
        b.delete_module("utils")
        b.delete_module("../escape")
    b.cleanup()
    b.cleanup()
    ask_every(b, CODE, path="main", modules=MODULES)  # after cleanup: error results
    b.update_sys_paths([])
    print("exercise done")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2)
