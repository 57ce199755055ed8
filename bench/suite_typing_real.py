"""Typing as users type: get_completions at sites drawn from the interpreter's own standard-library
files at the frequency with which they occur there (typing_sites.draw_as_typed: no quota per
class), against the floor (jedi's complete() with every item's documentation, floor.completions)
and pyright's language server (no documentation resolved; bench/pyright_client.py), interleaved
per site in one run. Per class and over all sites: p50 and p90 of the per-site medians.

Then numpy (when the interpreter has it): `np.`, `np.ze`, `arr.` after `arr = np.zeros(3)` and
`np.linalg.`, warm (a bridge that has answered them before, until its list is served) and in a
new process whose item store an earlier session filled (a process that asked the case FILL_LIMIT
times), each against the floor done the same way.

    python bench/suite_typing_real.py [--sites 48] [--seeds 1,2] [--repeats 3] [--out DIR]
                                      [--no-numpy] [--no-pyright]

Writes DIR/typing_real.json (every site with its code, for bench/profile_sites.py), DIR/typing_real.md
and DIR/typing_real.png.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import common

import floor
import measure
import pyright_client
import typing_sites
from suite_typing import percentile

SUITE = "typing_real"
HERE = os.path.dirname(os.path.abspath(__file__))
CLASSES = typing_sites.CLASSES + (typing_sites.OTHER,)
ALL = "all sites"
VARIANTS = ("bridge", "floor", "pyright", "pyright_checked")

NUMPY_CASES = [
    ("np.", "import numpy as np\nnp.", 2, 3),
    ("np.ze", "import numpy as np\nnp.ze", 2, 5),
    ("arr.", "import numpy as np\narr = np.zeros(3)\narr.", 3, 4),
    ("np.linalg.", "import numpy as np\nnp.linalg.", 2, 10),
]


def variants_for(bridge, lsp, code, line, column, name="site.py"):
    def ask():
        answer = bridge.get_completions(code, line, column)
        assert answer["error"] is None, answer["error"]

    variants = {"bridge": ask, "floor": lambda: floor.completions(bridge, code, line, column)}
    if lsp:
        # Only the completion request's own time counts, not the document's change. "pyright" is
        # asked right after the change, as a user typing asks; "pyright_checked" again once
        # pyright has checked that text (its caches hold the file's types then).
        variants["pyright"] = lambda: lsp.complete(code, line, column, name)[0]
        variants["pyright_checked"] = lambda: lsp.complete(code, line, column, name, change=False)[0]
    return variants


def timed_rounds(variants, repeats):
    """measure.rounds, with pyright's own request time in place of the call's."""
    own = {}

    def wrap(name, fn):
        def call():
            own.setdefault(name, []).append(fn())
        return call

    series = measure.rounds({name: wrap(name, fn) if name.startswith("pyright") else fn
                             for name, fn in variants.items()}, repeats, warmup=1, min_seconds=0)
    for name, seconds in own.items():
        series[name][:] = seconds[-len(series[name]):]
    return series


def measure_site(bridge, lsp, site, repeats):
    code, line, column = site["code"], site["line"], site["column"]
    try:
        series = timed_rounds(variants_for(bridge, lsp, code, line, column), repeats)
    finally:
        if lsp:
            lsp.forget()
    row = {key: site[key] for key in ("file", "line", "column", "class", "typed", "code")}
    row["ms"] = {name: statistics.median(samples) * 1e3 for name, samples in series.items()}
    row["ratio"] = measure.paired(series["bridge"], series["floor"])["paired"]
    row["items"] = len(bridge.get_completions(code, line, column)["completions"])
    return row


def class_figures(sites):
    figures = {"sites": len(sites)}
    for variant in VARIANTS:
        ms = [s["ms"][variant] for s in sites if variant in s["ms"]]
        if ms:
            figures[variant] = {"p50": percentile(ms, 50), "p90": percentile(ms, 90)}
    ratios = [s["ratio"] for s in sites]
    figures["ratio"] = {"p50": percentile(ratios, 50), "p90": percentile(ratios, 90)}
    return figures


def by_class(sites):
    table = {name: class_figures([s for s in sites if s["class"] == name]) for name in CLASSES
             if any(s["class"] == name for s in sites)}
    table[ALL] = class_figures(sites)
    return table


def run_draw(bridge, lsp, count, seed, repeats):
    drawn = typing_sites.draw_as_typed(bridge, count, seed)
    sites = []
    for i, site in enumerate(drawn):
        sites.append(measure_site(bridge, lsp, site, repeats))
        s = sites[-1]
        print(f"  [{i + 1}/{len(drawn)}] {s['ms']['bridge']:7.1f} ms (floor {s['ms']['floor']:7.1f}"
              + (f", pyright {s['ms']['pyright']:7.1f} / checked {s['ms']['pyright_checked']:6.1f}"
                 if "pyright" in s["ms"] else "")
              + f")  {s['file']}:{s['line']} {s['typed']}", flush=True)
    return {"seed": seed, "count": count, "sites": sites, "classes": by_class(sites)}


# -- numpy

FILL_LIMIT = 40


def asks_until_served(bridge, code, line, column):
    """How many requests of one case a process answers before one that takes under a third of
    the floor's time, that one included; None if not within FILL_LIMIT. A served list costs the
    base's inference alone: a module's 3 % of the floor, `arr.`'s (numpy's overloads) 30 %; an
    unserved answer costs 60-120 %. A process whose jedi has answered numpy once makes again only
    a slice of the items jedi cached per request, so the list fills over several. (Timed, not
    traced: a profile hook slows jedi, and with it the fill.)"""
    # The floor's second call: its first may carry the library's cold parse, a third of which
    # an unserved answer would pass under.
    floor.completions(bridge, code, line, column)
    started = time.perf_counter()
    floor.completions(bridge, code, line, column)
    third = (time.perf_counter() - started) / 3
    for n in range(1, FILL_LIMIT + 1):
        started = time.perf_counter()
        bridge.get_completions(code, line, column)
        if time.perf_counter() - started < third:
            return n
    return None


def numpy_warm(bridge, lsp, repeats):
    """{case: medians}, once the case's list is served or FILL_LIMIT requests have not made it so."""
    rows = {}
    for case, code, line, column in NUMPY_CASES:
        fill = asks_until_served(bridge, code, line, column)
        try:
            series = timed_rounds(variants_for(bridge, lsp, code, line, column), repeats)
        finally:
            if lsp:
                lsp.forget()
        rows[case] = {name: statistics.median(samples) * 1e3 for name, samples in series.items()}
        rows[case]["ratio"] = measure.paired(series["bridge"], series["floor"])["paired"]
        rows[case]["items"] = len(bridge.get_completions(code, line, column)["completions"])
        rows[case]["served_after"] = fill
    return rows


def numpy_process(variant, case, cache_home):
    """One new process (bench/numpy_process.py): its first request on `case`, in ms."""
    env = {**os.environ, "XDG_CACHE_HOME": cache_home, "PYTHONDONTWRITEBYTECODE": "1"}
    out = subprocess.run([sys.executable, os.path.join(HERE, "numpy_process.py"), variant, case], check=True,
                         capture_output=True, text=True, env=env).stdout
    return json.loads(out.strip().splitlines()[-1])["ms"]


def numpy_new_process(repeats):
    """{case: {variant: median ms}}: each sample a new process, the store filled by a process that
    asked the case FILL_LIMIT times and a dropped first round; the processes of a round in an
    order shuffled from round to round."""
    import random
    order = random.Random(7)
    rows = {}
    with tempfile.TemporaryDirectory(prefix="typing-real-cache-") as cache_home:
        for case, *_ in NUMPY_CASES:
            numpy_process("fill", case, cache_home)
            samples = {"bridge": [], "floor": []}
            names = list(samples)
            for r in range(repeats + 1):
                order.shuffle(names)
                for name in names:
                    ms = numpy_process(name, case, cache_home)
                    if r:
                        samples[name].append(ms)
            rows[case] = {name: statistics.median(v) for name, v in samples.items()}
            rows[case]["ratio"] = statistics.median(b / f for b, f in zip(samples["bridge"], samples["floor"]))
    return rows


def has_numpy():
    try:
        import numpy  # noqa: F401
        return True
    except ImportError:
        return False


# -- report

def cell(ms):
    return f"{ms:.0f}" if ms is not None else "-"


def markdown(results):
    meta = results["meta"]
    out = [f"# Typing as users type (Python {meta['python']}, jedi {meta['jedi']}, "
           f"pyright {meta.get('pyright') or 'not installed'})", "",
           f"{meta['cpus']} cores, load {meta['load_before'][0]:.1f} before, {meta['load_after'][0]:.1f} after; "
           f"per site the median of {meta['repeats']} rounds after one dropped. pyright: asked right after the "
           "change / again once it has checked that text.", ""]
    if meta.get("pyright_note"):
        out += [f"pyright: {meta['pyright_note']}", ""]
    for draw in results["draws"]:
        out += [f"## Draw: seed {draw['seed']}, {len(draw['sites'])} sites", "",
                "| class | sites | bridge p50 / p90 | floor p50 / p90 | pyright p50 / p90 | pyright checked p50 / p90 "
                "| bridge/floor p50 / p90 |", "|---|---|---|---|---|---|---|"]
        for name, f in draw["classes"].items():
            pair = [" / ".join(cell(f[v][p]) if v in f else "-" for p in ("p50", "p90")) for v in VARIANTS]
            out.append(f"| {name} | {f['sites']} | " + " | ".join(pair)
                       + f" | {f['ratio']['p50']:.2f} / {f['ratio']['p90']:.2f} |")
        out += ["", "| site | class | bridge ms | floor ms | pyright ms | pyright checked ms | items |",
                "|---|---|---|---|---|---|---|"]
        for s in sorted(draw["sites"], key=lambda s: -s["ms"]["bridge"]):
            out.append(f"| `{s['file']}:{s['line']}` `{s['typed']}` | {s['class']} | "
                       + " | ".join(cell(s["ms"].get(v)) for v in VARIANTS) + f" | {s['items']} |")
        out.append("")
    if results.get("numpy"):
        n = results["numpy"]
        out += [f"## numpy {n['version']}", "", "Warm: once the bridge's list is served (the requests of that case "
                f"in one process until then, the first included; - : not within {FILL_LIMIT}).", "",
                "| case | items | served after | warm: bridge | floor | pyright | pyright checked "
                "| new process: bridge | floor |", "|---|---|---|---|---|---|---|---|---|"]
        for case, *_ in NUMPY_CASES:
            w, c = n["warm"][case], n.get("new_process", {}).get(case, {})
            cells = [f"`{case}`", str(w["items"]), str(w.get("served_after") or "-")]
            cells += [f"{w[v]:.1f}" if v in w else "-" for v in VARIANTS]
            cells += [cell(c.get("bridge")), cell(c.get("floor"))]
            out.append("| " + " | ".join(cells) + " |")
    elif results.get("numpy_note"):
        out += [f"numpy: {results['numpy_note']}"]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sites", type=int, default=int(os.environ.get("LSP_BENCH_TYPING_SITES", 48)))
    parser.add_argument("--seeds", default=os.environ.get("LSP_BENCH_TYPING_SEEDS", "1,2"))
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--out", default=os.path.join(common.ROOT, "build", "bench"))
    parser.add_argument("--no-numpy", action="store_true")
    parser.add_argument("--no-pyright", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    # A first numpy request computes some 600 items' documentation: on two cores shared with other
    # work it can pass the default budget, which would end the run, not measure it.
    os.environ.setdefault("LSP_BRIDGE_REQUEST_BUDGET", "120")

    import jedi
    import platform
    results = {"meta": {"python": platform.python_version(), "jedi": jedi.__version__,
                        "started": time.strftime("%Y-%m-%d %H:%M:%S"), "load_before": os.getloadavg(),
                        "cpus": os.cpu_count(), "sites": args.sites, "repeats": args.repeats},
               "draws": []}
    missing = "not asked for (--no-pyright)" if args.no_pyright else pyright_client.unavailable()
    with common.ready_bridge() as bridge, tempfile.TemporaryDirectory(prefix="pyright-ws-") as folder:
        lsp = None if missing else pyright_client.Pyright.start(folder)
        if lsp:
            results["meta"]["pyright"] = pyright_client.version()
        else:
            results["meta"]["pyright_note"] = f"column skipped: {missing}"
            print(f"pyright: column skipped ({missing})")
        try:
            for seed in [int(s) for s in args.seeds.split(",")]:
                print(f"== typing as users type: seed {seed}, {args.sites} sites ==", flush=True)
                results["draws"].append(run_draw(bridge, lsp, args.sites, seed, args.repeats))
            if args.no_numpy:
                results["numpy_note"] = "not asked for (--no-numpy)"
            elif not has_numpy():
                results["numpy_note"] = "skipped: this interpreter has no numpy (Debian: python3-numpy)"
            else:
                import numpy
                print("== numpy, warm ==", flush=True)
                results["numpy"] = {"version": numpy.__version__, "warm": numpy_warm(bridge, lsp, args.repeats + 2)}
        finally:
            if lsp:
                lsp.close()
    if results.get("numpy"):
        print("== numpy, new processes ==", flush=True)
        results["numpy"]["new_process"] = numpy_new_process(args.repeats)
    results["meta"]["load_after"] = os.getloadavg()

    with open(os.path.join(args.out, "typing_real.json"), "w", encoding="utf-8") as f:
        json.dump(results, f, indent=1)
    text = markdown(results)
    with open(os.path.join(args.out, "typing_real.md"), "w", encoding="utf-8") as f:
        f.write(text)
    print(text)
    try:
        import plots
        plots.typing_real(results, args.out)
    except ImportError:
        print("typing_real: no plot (matplotlib is not installed)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
