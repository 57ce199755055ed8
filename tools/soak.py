"""Soak run of one bridge: mixed requests on real jedi, then reference counts on fake jedi.

Mixed requests: N requests (each request at its sample after the module being edited, and
completion, hover in both modes and signature help on that module's names) on one bridge that syncs 20 modules with dirty files changing on every request, and deletes one
now and then. Measured: resident memory after the first 500 requests (or half of a shorter
run, as jedi's caches fill during the first few hundred) and at the end, open file descriptors
and threads before and after, and whether the sync directory holds exactly the expected files
with the expected contents. Every answer is checked for its shape.

Reference counts: every method and the diagnostics sort key called M times with the same
argument objects, jedi replaced by a fake: sys.getrefcount of each argument must not change,
and neither None/True/False nor the interpreter's count of allocated memory blocks may drift by
a share of the calls (one leaked object per call would add M blocks).

    python tools/soak.py [--requests 5000] [--refcount-calls 10000] [--json]

Prints the figures; exits 1 when a limit is broken."""
import argparse
import ctypes
import gc
import json
import os
import random
import sys
import threading
import time
from unittest import mock

TOOLS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.environ.get("LSP_BRIDGE_DEVHOST") or os.path.join(os.path.dirname(TOOLS), "devhost"))

from answer_shapes import check_answer  # noqa: E402
from jedi_fakes import FakeName, FakeScript, FakeSignature  # noqa: E402
from public_surface import REQUESTS, call_args, param_names  # noqa: E402

WARMUP_THREAD = "LSP-corvane-preload"
RSS_GROWTH_LIMIT = 0.05
# Under AddressSanitizer freed memory waits in a quarantine: resident memory tells nothing then.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
# None/True/False and the allocated blocks drift while the interpreter's caches settle (tens of
# blocks, not growing with the calls); a leak of one reference or object per call, or per few
# calls, would be a quarter of the calls or more. Slack: this share of the calls, and at least
# 200 references or 100 blocks.
SLACK = 0.25
SINGLETONS = (None, True, False)


def lsp_bridge():
    from corvane_master.python_server import lsp_bridge as module
    return module


def join_warmups():
    for t in threading.enumerate():
        if t.name == WARMUP_THREAD:
            t.join(120)


def rss_kb():
    """Resident memory after a collection, with the C allocator's free pages handed back, so
    that what is measured is memory in use rather than what malloc keeps in reserve."""
    gc.collect()
    try:
        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):  # not glibc
        pass
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def os_threads():
    return len(os.listdir("/proc/self/task"))


# --- mixed requests ------------------------------------------------------------------------------

def module_source(i, version):
    return (f'"""Module {i}, version {version}."""\nimport os\n\n\nclass Shape{i}:\n'
            f'    """A shape."""\n\n    def area(self, scale: int = {version}) -> float:\n'
            f'        """Area times scale."""\n        return {i} * scale\n\n\n'
            f'def make{i}(size, *, name="s{i}"):\n    return Shape{i}()\n')


def edited_code(i, other, version):
    """The module being edited, with the lines the requests point at appended, and the asks on its
    own names and another module's: (method, line, column)."""
    head = module_source(i, version) + f"\nfrom mod{other} import Shape{other}, make{other}\n"
    tail = [f"shape = make{other}(3, name='x')", "shape.ar", f"make{other}(1, ", "os.path.jo"]
    code = head + "\n".join(tail) + "\n"
    last = head.count("\n") + 1  # 1-based line of tail[0]
    return code, [("get_completions", last + 1, 8), ("get_hover", last, 3), ("get_signature_help", last + 2, 9),
                  ("get_completions", last + 3, 10)]


def mixed_requests(bridge, count, modules=20, seed=1, baseline_at=None):
    rnd = random.Random(seed)
    names = [f"mod{i}" for i in range(modules)]
    saved = {n: module_source(i, 0) for i, n in enumerate(names)}
    expected = {}
    figures = {"errors": 0, "answers": 0}
    baseline_at = baseline_at or min(500, max(1, count // 2))
    # every request at its sample after the edited module, then the asks on the module's names
    kinds = list(REQUESTS) + list(range(4))
    for n in range(count):
        i = rnd.randrange(modules)
        if n % 50 == 25:  # the user saves a module now and then
            saved[names[i]] = module_source(i, n)
        dirty = {names[j]: module_source(j, n) for j in rnd.sample(range(modules), rnd.randrange(1, 4))}
        code, asks = edited_code(i, (i + 1) % modules, n)
        kind = kinds[n % len(kinds)]
        if type(kind) is int:
            method, line, column = asks[kind]
            place = {"code": code, "line": line, "column": column}
        else:
            method, place = kind, {}
        if method == "get_hover":  # every other round in the detailed mode
            bridge.set_hover_mode("detailed" if n // len(kinds) % 2 else "compact")
        args = call_args(method, code, path=names[i], module_name=names[i], modules=saved, dirty_files=dirty, **place)
        answer = getattr(bridge, method)(*args)
        if "modules" in param_names(method):  # it synced them
            expected.update({f"{k}.py": v for k, v in {**saved, **dirty}.items()})
        check_answer(method, answer, strict=True)
        figures["answers"] += 1
        figures["errors"] += answer["error"] is not None
        if n % 97 == 96:
            gone = names[rnd.randrange(modules)]
            bridge.delete_module(gone)
            expected.pop(f"{gone}.py", None)
        if n + 1 == baseline_at:
            gc.collect()
            figures["rss_baseline_kb"], figures["baseline_after"] = rss_kb(), n + 1
        if (n + 1) % max(1, count // 10) == 0:
            figures.setdefault("rss_curve_kb", []).append(rss_kb())
    bridge.set_hover_mode("compact")
    return figures, expected


def sync_directory_matches(bridge, expected):
    folder = bridge._temp_dir.name
    found = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            found[name] = f.read()
    return found == expected


def soak_requests(count):
    lsp = lsp_bridge()
    bridge = lsp.LSPBridge()
    join_warmups()
    bridge.get_completions("import os\nos.", 2, 3)  # jedi's helper process is up from here on
    gc.collect()
    before = {"fds": open_fds(), "threads": threading.active_count(), "os_threads": os_threads(),
              "rss_start_kb": rss_kb()}
    started = time.perf_counter()
    figures, expected = mixed_requests(bridge, count)
    figures["seconds"] = round(time.perf_counter() - started, 1)
    gc.collect()
    figures.update(before)
    figures.update({"requests": count, "rss_end_kb": rss_kb(), "fds_after": open_fds(),
                    "threads_after": threading.active_count(), "os_threads_after": os_threads(),
                    "sync_dir_ok": sync_directory_matches(bridge, expected), "sync_dir_files": len(expected)})
    figures["rss_growth"] = round(figures["rss_end_kb"] / figures["rss_baseline_kb"] - 1, 4)
    bridge.cleanup()
    return figures


# --- reference counts ----------------------------------------------------------------------------

def capture_sort_key(bridge):
    """The key function that get_diagnostics makes for its sort, caught while the sort runs."""
    method_type = type(type(bridge).get_diagnostics)
    found = []

    class Marker(dict):
        def get(self, *args):
            found.extend(o for o in gc.get_objects() if type(o) is method_type and o.__name__ == "<lambda>")
            return dict.get(self, *args)

    bridge._check_unresolved_imports = lambda code, module_name: [Marker(severity=8)]
    try:
        bridge.get_diagnostics("x = 1\n")
    finally:
        del bridge._check_unresolved_imports
    return found[0]


def fresh(text):
    """A str object of its own (literals are shared and interned)."""
    return "".join(list(text))


def refcount_cases(bridge, key):
    """(label, callable, arguments); the arguments are the objects whose counts are watched."""
    code = fresh("import os\nimport no_such_module_z\nx = undefined_z\nos.pa")
    big = int("100000")  # beyond the small-int cache
    path = fresh("main_z")
    modules = {fresh("mod_z"): fresh("VALUE = 1\n")}
    dirty = {fresh("mod_z"): fresh("VALUE = 2\n")}
    definition = FakeName(fresh("greet"), signatures=[FakeSignature(fresh("greet"))])
    cls = type(bridge)

    def scratch_lifecycle():
        other = cls.__new__(cls)
        cls.__init__(other)
        join_warmups()
        other.cleanup()

    return [
        ("preload_corvane_module", bridge.preload_corvane_module, ()),
        ("preload_corvane_module_async", lambda: (bridge.preload_corvane_module_async(), join_warmups()), ()),
        ("set_hover_mode", bridge.set_hover_mode, (fresh("compact"),)),
        ("set_hover_mode invalid", bridge.set_hover_mode, (fresh("verbose"),)),
        ("update_sys_paths", bridge.update_sys_paths, ([fresh("/nowhere/a"), fresh("/nowhere/a")],)),
        ("_get_word_prefix", bridge._get_word_prefix, (code, 4, 5)),
        ("_format_signature", bridge._format_signature, (definition.get_signatures()[0],)),
        ("_format_compact_hover", bridge._format_compact_hover, (definition,)),
        ("_get_type_description", bridge._get_type_description, (definition, fresh("fallback"))),
        ("_is_module_name", bridge._is_module_name, (path,)),
        ("sync_modules", bridge.sync_modules, (modules, dirty)),
        ("delete_module", bridge.delete_module, (fresh("gone_z"),)),
    ] + [
        (method, getattr(bridge, method),
         call_args(method, code=code, line=4, column=5, path=path, module_name=path, modules=modules, dirty_files=dirty))
        for method in REQUESTS
    ] + [
        ("get_completions refused", bridge.get_completions, (code, fresh("4"), 5)),
        ("get_completions bad line", bridge.get_completions, (code, 0, big)),
        ("get_signature_help bad line", bridge.get_signature_help, (code, big, 5, path, modules, dirty)),
        ("set_workspace", bridge.set_workspace, (path,)),
        ("_run_pyflakes", bridge._run_pyflakes, (code, path)),
        ("_parse_pyflakes_message", bridge._parse_pyflakes_message, (fresh("<e>:3:1: 'x' unused"), big)),
        ("_check_unresolved_imports", bridge._check_unresolved_imports, (code, path)),
        ("_can_resolve_import", bridge._can_resolve_import, (fresh("no_such_module_z"),)),
        ("sort key", key, ({fresh("severity"): big},)),
        ("__init__+cleanup", scratch_lifecycle, ()),
    ]


def watched(args):
    """The arguments and what they hold; small ints are shared by the whole interpreter."""
    objects = []
    for a in args:
        objects.append(a)
        if isinstance(a, dict):
            objects += [o for kv in a.items() for o in kv]
        elif isinstance(a, list):
            objects += a
    return [o for o in objects if not (type(o) is int and -5 <= o <= 256)]


def refcounts(objects):
    return [sys.getrefcount(o) for o in objects]


def call_quietly(fn, args):
    try:
        fn(*args)
    except TypeError:  # the refused cases
        pass


def settle():
    """Collect garbage and empty the type attribute cache: from 3.10 on it keeps up to 4,096
    attribute-name strings alive, slotted by address, so a run of look-ups by freshly made
    names grows the allocated blocks by a few hundred without any leak."""
    sys._clear_type_cache()
    gc.collect()


def case_drift(fn, args, objects, calls):
    """How the counts of `objects`, of None/True/False and of allocated blocks change over
    `calls` calls of fn(*args)."""
    settle()
    singles, counts, blocks = refcounts(SINGLETONS), refcounts(objects), sys.getallocatedblocks()
    for _ in range(calls):
        call_quietly(fn, args)
    settle()
    singles_after, counts_after = refcounts(SINGLETONS), refcounts(objects)
    return {"arguments": [b - a for a, b in zip(counts, counts_after)],
            "singletons": [b - a for a, b in zip(singles, singles_after)],
            "blocks": sys.getallocatedblocks() - blocks}


def leaks(d, calls):
    """The verdict on one case's drift: any argument drift, or a drift of None/True/False or of
    allocated blocks beyond what settling caches explain."""
    slack = max(200, calls * SLACK)
    # Freed blocks are no leak; fewer references to None would be (a missing incref).
    return any(d["arguments"]) or any(abs(x) > slack for x in d["singletons"]) or d["blocks"] > max(100, calls * SLACK)


def refcount_drift(calls):
    lsp = lsp_bridge()
    drift = {}
    with mock.patch.object(lsp.jedi, "Script", FakeScript):
        bridge = lsp.LSPBridge()
        join_warmups()
        cases = refcount_cases(bridge, capture_sort_key(bridge))
        # The interpreter settles first (caches, free lists, dict sizes), or the first case
        # measured sees a drift of None that is no leak.
        for label, fn, args in cases:
            for _ in range(min(calls, 300)):
                call_quietly(fn, args)
        for label, fn, args in cases:
            drift[label] = case_drift(fn, args, watched(args) + [bridge], calls)
        join_warmups()
        bridge.cleanup()
    return drift


# --- the verdict -------------------------------------------------------------------------------

def problems(figures):
    found = []
    soak = figures.get("requests_part")
    if soak:
        if soak["rss_growth"] >= RSS_GROWTH_LIMIT and not SANITIZED:
            found.append(f"resident memory grew {soak['rss_growth']:.1%} after the first {soak['baseline_after']}")
        for what in ("fds", "threads", "os_threads"):
            if soak[what] != soak[f"{what}_after"]:
                found.append(f"{what}: {soak[what]} before, {soak[f'{what}_after']} after")
        if not soak["sync_dir_ok"]:
            found.append("the sync directory does not hold exactly the expected files")
    for label, d in figures.get("refcounts", {}).items():
        if leaks(d, figures.get("refcount_calls", 0)):
            found.append(f"reference counts drift in {label}: {d}")
    return found


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--requests", type=int, default=5000)
    parser.add_argument("--refcount-calls", type=int, default=10000)
    parser.add_argument("--json", action="store_true", help="print the figures as one JSON line")
    options = parser.parse_args(argv)
    figures = {}
    if options.requests:
        figures["requests_part"] = soak_requests(options.requests)
    if options.refcount_calls:
        started = time.perf_counter()
        figures["refcounts"] = refcount_drift(options.refcount_calls)
        figures["refcount_seconds"] = round(time.perf_counter() - started, 1)
        figures["refcount_calls"] = options.refcount_calls
    figures["problems"] = problems(figures)
    if options.json:
        print("SOAK " + json.dumps(figures))
    else:
        print(json.dumps({k: v for k, v in figures.items() if k != "refcounts"}, indent=2))
        worst = max((max(map(abs, d["singletons"])) for d in figures.get("refcounts", {}).values()), default=0)
        print(f"refcounts: {len(figures.get('refcounts', {}))} cases, argument drift 0 everywhere: "
              f"{not any(any(d['arguments']) for d in figures.get('refcounts', {}).values())}, "
              f"largest None/True/False drift {worst}")
    return 1 if figures["problems"] else 0


if __name__ == "__main__":
    sys.exit(main())
