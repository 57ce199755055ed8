"""get_hover (compact and detailed) and get_signature_help against the floor (jedi's infer() or
help(), get_signatures(), and the reads of the jedi objects the answer is made of), the yardstick
class, and pylsp's pylsp_hover and pylsp_signature_help on the same documents.

pylsp's hover has one layout (signature plus docstring, close to the detailed mode) and no help
fallback: on a keyword it answers nothing.

    python bench/suite_hover.py [repeats]
"""
import common

import floor
import measure
from pylsp_baseline import Pylsp
from yardstick import SEP, PlainBridge

SUITE = "hover"
GOAL = "own overhead <= 2% of the floor"

LOCAL_CLASS = common.ACCOUNT_CLASS + "acct = Account('me')\n"

SYNCED_20 = common.synced_modules(
    20, "def helper%d(x: int, y: float = 2.0) -> float:\n    \"\"\"Helper %d.\"\"\"\n    return x * y\n")

FUNCTION = ("stdlib function", "import os\nos.path.join('a', 'b')\n", 2, 10)
CLASS = ("local class", LOCAL_CLASS, 9, 9)
MODULE = ("module", "import json\njson\n", 2, 2)
KEYWORD = ("keyword (help fallback)", "for i in range(3):\n    pass\n", 1, 1)

# (case, method, hover mode, code, line, column, modules, path)
CASES = [(f"hover {what}, {mode}", "hover", mode, code, line, column, None, None)
         for what, code, line, column in (FUNCTION, CLASS, MODULE, KEYWORD) for mode in ("compact", "detailed")]
CASES += [
    ("signature help, stdlib call", "signature", None, "import os\nos.path.join('a', ", 2, 18, None, None),
    ("signature help, synced module (20)", "signature", None, "from mod07 import helper7\nhelper7(1, ", 2, 11,
     SYNCED_20, "main"),
]


def gist(answer):
    """What the bridge and the yardstick must agree on. Docstrings are left out: jedi's caches
    make the text of some (a trailing rule after overloads) differ from one call to the next."""
    assert answer["error"] is None, answer["error"]
    if "contents" in answer:
        return answer["contents"] and answer["contents"]["value"].split(SEP)[0]
    return [s["label"] for s in answer["signatures"]], answer["activeParameter"]


def variants(bridge, plain, lsp, method, mode, code, line, column, modules, path):
    if method == "hover":
        def via_bridge():
            bridge._hover_mode = mode
            return bridge.get_hover(code, line, column, path, modules)

        def yardstick():
            plain._hover_mode = mode
            return plain.get_hover(code, line, column, path, modules)

        return {"bridge": via_bridge, "floor": lambda: floor.hover(bridge, mode, code, line, column, path, modules),
                "yardstick": yardstick, "pylsp": lambda: lsp.hover(code, line, column)}
    return {"bridge": lambda: bridge.get_signature_help(code, line, column, path, modules),
            "floor": lambda: floor.signature_help(bridge, code, line, column, path, modules),
            "yardstick": lambda: plain.get_signature_help(code, line, column, path, modules),
            "pylsp": lambda: lsp.signature_help(code, line, column)}


def run(repeats: int = 9) -> list:
    rows = []
    with common.ready_bridge() as bridge:
        if not common.has_hover(bridge):
            raise common.Skipped("this build of the module has no hover yet")
        plain = PlainBridge(bridge)
        lsp = Pylsp(bridge._temp_dir.name)
        for case, *args in CASES:
            v = variants(bridge, plain, lsp, *args)
            if gist(v["bridge"]()) != gist(v["yardstick"]()):
                raise AssertionError(f"{case}: the bridge and the yardstick disagree")
            rows.append(measure.result(SUITE, case, measure.rounds(v, repeats, warmup=2), goal=GOAL))
    return rows


if __name__ == "__main__":
    common.main(run, 9)
