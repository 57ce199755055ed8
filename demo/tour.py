"""A terminal walk-through of lsp_bridge as a host uses it: construct one bridge, sync a small
multi-module project, ask for completion, hover, signature help and diagnostics, update the
search paths, clean up. The module's own log lines are shown as they happen."""
import json
import logging
import os
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost"))

from corvane_master.logging_config import setup_logging_subprocess  # noqa: E402

PROJECT = {
    "shapes": (
        "class Circle:\n"
        "    \"\"\"A circle given by its radius.\"\"\"\n"
        "    def __init__(self, radius: float):\n"
        "        self.radius = radius\n"
        "    def area(self) -> float:\n"
        "        \"\"\"The area of the circle.\"\"\"\n"
        "        return 3.14159 * self.radius ** 2\n"
    ),
    "utils": (
        "def greet(name: str, count: int = 1) -> str:\n"
        "    \"\"\"Say hello to someone, count times.\"\"\"\n"
        "    return ('Hello, ' + name + '! ') * count\n"
    ),
}
# unsaved editor text of `shapes`: a class the saved file does not have yet
DIRTY = {"shapes": PROJECT["shapes"] + "class Square:\n    def __init__(self, side: float): ...\n"}


def step(title):
    print(f"\n=== {title}", flush=True)


def show(result):
    print(json.dumps(result, indent=2, ensure_ascii=False)[:1500], flush=True)


def labels(result, limit=12):
    return [item["label"] for item in result["completions"][:limit]]


def wait_for_warmup():
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join(60)


def main():
    setup_logging_subprocess(logging.DEBUG)
    # jedi's own debug output is not part of the tour
    logging.getLogger("parso").setLevel(logging.WARNING)
    logging.getLogger("jedi").setLevel(logging.WARNING)

    step("import corvane_master.python_server.lsp_bridge and construct one LSPBridge")
    from corvane_master.python_server.lsp_bridge import LSPBridge

    bridge = LSPBridge()
    wait_for_warmup()

    step("sync the user's modules (the dirty text of 'shapes' wins)")
    bridge.sync_modules(PROJECT, DIRTY)
    print(sorted(os.listdir(bridge._temp_dir.name)))

    step("update the search paths with the kernel's sys.path")
    bridge.update_sys_paths(sys.path[:4])

    step("completion: 'import shapes; shapes.' sees the unsaved class Square")
    code = "import shapes\nshapes."
    print(labels(bridge.get_completions(code, 2, 7, path="main", modules=PROJECT, dirty_files=DIRTY)))

    step("completion on the host's own module: 'import corvane; corvane.'")
    print(labels(bridge.get_completions("import corvane\ncorvane.", 2, 8)))

    step("completion of attributes: Circle(1).")
    code = "from shapes import Circle\nCircle(1)."
    show(bridge.get_completions(code, 2, 10, path="main")["completions"][:2])

    code = "from utils import greet\ngreet('Ada', 2)\n"
    step("hover on 'greet', compact mode")
    show(bridge.get_hover(code, 2, 2, path="main"))
    step("hover on 'greet', detailed mode")
    bridge.set_hover_mode("detailed")
    show(bridge.get_hover(code, 2, 2, path="main"))
    bridge.set_hover_mode("compact")

    step("signature help inside greet('Ada', |)")
    show(bridge.get_signature_help("from utils import greet\ngreet('Ada', ", 2, 13, path="main"))

    step("diagnostics: a syntax error")
    show(bridge.get_diagnostics("def broken(:\n    pass\n", "main"))
    step("diagnostics: unused and undefined names")
    show(bridge.get_diagnostics("import os\n\nprint(undefined_name)\n", "main"))
    step("diagnostics: an unresolved import next to a synced one")
    show(bridge.get_diagnostics("import shapes\nimport nosuchmodule\n", "main"))

    step("a bad position is answered, not raised")
    show(bridge.get_completions("x = 1", 0, 0))

    step("delete a module and clean up")
    bridge.delete_module("utils")
    print(sorted(os.listdir(bridge._temp_dir.name)))
    bridge.cleanup()
    bridge.cleanup()  # a second call does nothing


if __name__ == "__main__":
    main()
