"""get_completions against the same work done directly in Python with jedi: one jedi.Script and
complete() over the same code and project, docstring() on every item and get_signatures() on
every function item, the items built as dicts, and for the cross-module case the same modules
written to the same folder. Runs are interleaved (alternating which goes first) after a warm-up.

    python bench/bench_completion.py [repeats]

run(repeats) returns one dict per case: case, bridge_median_s, direct_median_s, ratio (bridge /
direct of the medians), spread (the larger relative interquartile range of the two series) and
paired_ratio (the median of the ratios of neighbouring runs, which slow phases of the machine
affect less).

The module sync folder goes to /dev/shm when there is one and TMPDIR is not set: file-system
stalls of a shared disk otherwise swamp what is measured here, the bridge's own share.
"""
import os
import statistics
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEVHOST = os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(ROOT, "devhost")
if DEVHOST not in sys.path:
    sys.path.insert(0, DEVHOST)

import jedi  # noqa: E402

from corvane_master.python_server import lsp_bridge  # noqa: E402

KIND = {"function": 1, "class": 5, "module": 7, "property": 8, "instance": 4, "param": 4, "statement": 4,
        "keyword": 13, "path": 17}

LOCAL_CLASS = (
    "class Account:\n"
    "    \"\"\"A bank account.\"\"\"\n"
    "    def __init__(self, owner: str, balance: float = 0.0):\n"
    "        self.owner = owner\n"
    "        self.balance = balance\n"
    "    def deposit(self, amount: float) -> float:\n"
    "        \"\"\"Add money.\"\"\"\n"
    "        return self.balance + amount\n"
    "    def withdraw(self, amount: float) -> float:\n"
    "        return self.balance - amount\n"
    "acct = Account('me')\n"
    "acct."
)


def cross_module_case():
    modules = {
        "mod%02d" % i: "import os\n\nclass Thing%d:\n    def run(self, n: int) -> int:\n        return n\n\n"
        "def helper%d(x, y=2):\n    \"\"\"Helper %d.\"\"\"\n    return x\n" % (i, i, i)
        for i in range(50)
    }
    code = "import mod07\nfrom mod12 import helper12\nmod07."
    return code, 3, 6, modules


CASES = [
    ("os. (hundreds of items)", "import os\nos.", 2, 3, None),
    ("json.lo", "import json\njson.lo", 2, 7, None),
    ("local class attribute", LOCAL_CLASS, 12, 5, None),
    ("cross-module, 50 synced modules", *cross_module_case()),
]


def direct_completions(bridge, code, line, column, modules):
    """What the bridge does, written in Python."""
    if modules:
        for name, text in modules.items():
            with open(os.path.join(bridge._temp_dir.name, name + ".py"), "w", encoding="utf-8") as f:
                f.write(text)
    prefix = code.split("\n")[line - 1][:column]
    show_underscores = prefix.rstrip("abcdefghijklmnopqrstuvwxyz0123456789").endswith("_")
    script = jedi.Script(code=code, path="<editor>", project=bridge._jedi_project)
    items = []
    for completion in script.complete(line=line, column=column):
        name = completion.name
        if not show_underscores and name.startswith("_"):
            continue
        type_ = completion.type
        item = {"label": name, "kind": KIND.get(type_, 4), "insertText": name}
        if type_ == "function":
            signatures = completion.get_signatures()
            if signatures:
                text = signatures[0].to_string()
                item["detail"] = text[text.find("("):]
        docstring = completion.docstring()
        if docstring:
            item["documentation"] = docstring
        items.append(item)
    return {"completions": items, "error": None}


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def relative_iqr(samples):
    q1, _, q3 = statistics.quantiles(samples, n=4)
    return (q3 - q1) / statistics.median(samples)


def run(repeats: int = 15) -> list:
    if not os.environ.get("TMPDIR") and os.path.isdir("/dev/shm"):
        tempfile.tempdir = "/dev/shm"
    bridge = lsp_bridge.LSPBridge()
    for thread in threading.enumerate():
        if thread.name == "LSP-corvane-preload":
            thread.join()
    results = []
    try:
        for case, code, line, column, modules in CASES:
            def via_bridge():
                answer = bridge.get_completions(code, line, column, modules=modules)
                assert answer["error"] is None and answer["completions"], answer["error"]

            def direct():
                direct_completions(bridge, code, line, column, modules)

            for _ in range(2):  # warm jedi's caches for both
                via_bridge()
                direct()
            bridge_times, direct_times = [], []
            for i in range(repeats):
                if i % 2:
                    direct_times.append(timed(direct))
                    bridge_times.append(timed(via_bridge))
                else:
                    bridge_times.append(timed(via_bridge))
                    direct_times.append(timed(direct))
            b, d = statistics.median(bridge_times), statistics.median(direct_times)
            results.append({
                "case": case,
                "bridge_median_s": b,
                "direct_median_s": d,
                "ratio": b / d,
                "spread": max(relative_iqr(bridge_times), relative_iqr(direct_times)),
                "paired_ratio": statistics.median(x / y for x, y in zip(bridge_times, direct_times)),
            })
    finally:
        bridge.cleanup()
    return results


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    print("%-34s %12s %12s %7s %7s %7s" % ("case", "bridge (ms)", "direct (ms)", "ratio", "spread", "paired"))
    for r in run(repeats):
        print("%-34s %12.2f %12.2f %7.3f %7.3f %7.3f" % (
            r["case"], r["bridge_median_s"] * 1e3, r["direct_median_s"] * 1e3, r["ratio"], r["spread"],
            r["paired_ratio"]))


if __name__ == "__main__":
    main()
