"""get_hover and get_signature_help against the same work done directly in Python with jedi: one
jedi.Script over the same code and project, infer() (help() when that finds nothing) or
get_signatures(), the same reads of every jedi object, the same text built, the same debug log
calls, and for the synced-module case the same modules written to the same folder. Runs are
interleaved (alternating which goes first) after a warm-up.

    python bench/bench_hover.py [repeats]

run(repeats) returns one dict per case: case, bridge_median_s, direct_median_s, ratio (bridge /
direct of the medians), spread (the larger relative interquartile range of the two series) and
paired_ratio (the median of the ratios of neighbouring runs, which slow phases of the machine
affect less).

The module sync folder goes to /dev/shm when there is one and TMPDIR is not set, so that stalls
of a shared disk do not swamp what is measured here, the bridge's own share.
"""
import logging
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

log = logging.getLogger(lsp_bridge.__name__)
SEP = "\n\n---\n\n"

LOCAL_CLASS = (
    "class Account:\n"
    "    \"\"\"A bank account.\"\"\"\n"
    "    def __init__(self, owner: str, balance: float = 0.0):\n"
    "        self.owner = owner\n"
    "        self.balance = balance\n"
    "    def deposit(self, amount: float) -> float:\n"
    "        \"\"\"Add money.\"\"\"\n"
    "        return self.balance + amount\n"
    "acct = Account('me')\n"
)

SYNCED = {
    "mod%02d" % i: "import os\n\nclass Thing%d:\n    def run(self, n: int) -> int:\n        return n\n\n"
    "def helper%d(x: int, y: float = 2.0) -> float:\n    \"\"\"Helper %d.\"\"\"\n    return x * y\n" % (i, i, i)
    for i in range(20)
}

# (case, method, mode, code, line, column, modules, path)
CASES = [
    ("hover stdlib function, compact", "hover", "compact", "import os\nos.path.join('a', 'b')\n", 2, 10, None, None),
    ("hover stdlib function, detailed", "hover", "detailed", "import os\nos.path.join('a', 'b')\n", 2, 10, None, None),
    ("hover local class, compact", "hover", "compact", LOCAL_CLASS, 9, 9, None, None),
    ("hover local class, detailed", "hover", "detailed", LOCAL_CLASS, 9, 9, None, None),
    ("hover module, compact", "hover", "compact", "import json\njson\n", 2, 2, None, None),
    ("hover keyword (help fallback)", "hover", "compact", "for i in range(3):\n    pass\n", 1, 1, None, None),
    ("signature help, stdlib call", "signature", None, "import os\nos.path.join('a', ", 2, 18, None, None),
    ("signature help, synced module (20)", "signature", None, "from mod07 import helper7\nhelper7(1, ", 2, 11,
     SYNCED, "main"),
]


def direct_script(bridge, code, modules, path):
    if modules:
        for name, text in modules.items():
            with open(os.path.join(bridge._temp_dir.name, name + ".py"), "w", encoding="utf-8") as f:
                f.write(text)
    script_path = os.path.join(bridge._temp_dir.name, path + ".py") if path else "<editor>"
    return jedi.Script(code=code, path=script_path, project=bridge._jedi_project)


def short_signature(sig):
    text = sig.to_string()
    return text[text.find("("):]


def compact_block(d):
    name = d.name or ""
    t = d.type
    if t == "function":
        sigs = d.get_signatures()
        return f"```python\n(function) {name}{short_signature(sigs[0]) if sigs else ''}\n```"
    if t in ("class", "module"):
        return f"```python\n({t}) {name}\n```"
    desc = d.description if hasattr(d, "description") and d.description else t
    return f"```python\n({t}) {name}: {desc}\n```"


def detailed_parts(d):
    full_name = d.full_name or d.name
    t = d.type
    if t == "function":
        sigs = d.get_signatures()
        parts = [f"```python\n{full_name}{short_signature(sigs[0]) if sigs else ''}\n```"]
    elif t in ("class", "module"):
        parts = [f"```python\n{t} {full_name}\n```"]
    else:
        desc = d.description if hasattr(d, "description") and d.description else t
        parts = [f"```python\n{full_name}: {desc}\n```"]
    docstring = d.docstring()
    return parts + [docstring] if docstring else parts


def direct_hover(bridge, mode, code, line, column, modules, path):
    """What get_hover does, written in Python."""
    log.debug("[LSP] Request: get_hover line=%d, column=%d, path=%s", line, column, path)
    script = direct_script(bridge, code, modules, path)
    inferred = script.infer(line=line, column=column)
    parts = []
    if not inferred:
        log.debug("[LSP] infer() returned empty, trying help() as fallback")
        found = script.help(line=line, column=column)
        for h in found:
            name, desc = h.name or "", h.description if hasattr(h, "description") else ""
            parts.append(f"```python\n({desc}) {name}\n```" if name and desc else f"```python\n{name}\n```")
            docstring = h.docstring()
            if docstring:
                parts.append(docstring)
        log.debug("[LSP] Hover (from help()): found %d results", len(found))
    else:
        for d in inferred:
            parts.extend([compact_block(d)] if mode == "compact" else detailed_parts(d))
        log.debug("[LSP] Hover: found %d definitions", len(inferred))
    return {"contents": {"kind": "markdown", "value": SEP.join(parts)} if parts else None, "error": None}


def direct_signature_help(bridge, code, line, column, modules, path):
    """What get_signature_help does, written in Python."""
    log.debug("[LSP] Request: get_signature_help line=%d, column=%d, path=%s", line, column, path)
    script = direct_script(bridge, code, modules, path)
    signatures = script.get_signatures(line=line, column=column)
    sig = signatures[0]
    params = []
    for p in sig.params:
        info = {"label": p.name}
        if p.description:
            info["documentation"] = p.description
        params.append(info)
    label = (sig.name or "function") + short_signature(sig)
    docstring = sig.docstring(raw=True) or ""
    index = sig.index
    active = index if index is not None else 0
    log.debug("[LSP] Signature help: %s, activeParam=%d", sig.name, active)
    return {"signatures": [{"label": label, "documentation": docstring, "parameters": params}],
            "activeSignature": 0, "activeParameter": active, "error": None}


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def relative_iqr(samples):
    q1, _, q3 = statistics.quantiles(samples, n=4)
    return (q3 - q1) / statistics.median(samples)


def gist(answer):
    """What both ways must agree on. Docstrings are left out: jedi's own caches make the text of
    some (a trailing rule after overloads) differ from one call to the next."""
    if "contents" in answer:
        return answer["contents"] and answer["contents"]["value"].split(SEP)[0]
    return [s["label"] for s in answer["signatures"]], answer["activeParameter"]


def pair(bridge, method, mode, code, line, column, modules, path):
    """(via the bridge, direct): two callables that must give the same answer."""
    if method == "hover":
        def via_bridge():
            bridge._hover_mode = mode
            return bridge.get_hover(code, line, column, path, modules)

        return via_bridge, lambda: direct_hover(bridge, mode, code, line, column, modules, path)
    return (lambda: bridge.get_signature_help(code, line, column, path, modules),
            lambda: direct_signature_help(bridge, code, line, column, modules, path))


def run(repeats: int = 15) -> list:
    if not os.environ.get("TMPDIR") and os.path.isdir("/dev/shm"):
        tempfile.tempdir = "/dev/shm"
    bridge = lsp_bridge.LSPBridge()
    for thread in threading.enumerate():
        if thread.name == "LSP-corvane-preload":
            thread.join()
    results = []
    try:
        for case, *args in CASES:
            via_bridge, direct = pair(bridge, *args)
            for _ in range(2):  # warm jedi's caches for both, and check they agree
                answer = via_bridge()
                assert answer["error"] is None and gist(answer) == gist(direct()), (case, answer)
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
    print("%-36s %12s %12s %7s %7s %7s" % ("case", "bridge (ms)", "direct (ms)", "ratio", "spread", "paired"))
    for r in run(repeats):
        print("%-36s %12.2f %12.2f %7.3f %7.3f %7.3f" % (
            r["case"], r["bridge_median_s"] * 1e3, r["direct_median_s"] * 1e3, r["ratio"], r["spread"],
            r["paired_ratio"]))


if __name__ == "__main__":
    main()
