"""Typing in real files: get_completions at sites in the interpreter's own standard-library
files (bench/typing_sites.py), against the floor (jedi's complete() with every item's
documentation, as floor.completions does it) and jedi's complete() alone, interleaved per site.
The bridge less complete() is the item time. Per site class: the p50 and p90 of the per-site
ratio to the floor and of the milliseconds; every site is kept in the row for the plot.

    python bench/suite_typing.py [repeats]
Knobs: LSP_BENCH_TYPING_SITES (default 12, a third of them per class), LSP_BENCH_TYPING_SEED.
"""
import os
import statistics

import common

import floor
import measure
import typing_sites

SUITE = "typing"
DEFAULT_SITES = 12


def percentile(values, share):
    """The median for 50, else the nearest-rank percentile (a value that occurred)."""
    if share == 50:
        return statistics.median(values)
    ordered = sorted(values)
    return ordered[max(0, -(-len(ordered) * share // 100) - 1)]


def measure_site(bridge, site, repeats):
    code, line, column = site["code"], site["line"], site["column"]

    def ask():
        answer = bridge.get_completions(code, line, column)
        assert answer["error"] is None, answer["error"]

    series = measure.rounds({
        "bridge": ask,
        "floor": lambda: floor.completions(bridge, code, line, column),
        "complete": lambda: floor.script(bridge, code, None, None).complete(line=line, column=column),
    }, repeats, warmup=1, min_seconds=0)
    median = {name: statistics.median(samples) for name, samples in series.items()}
    items = [b - c for b, c in zip(series["bridge"], series["complete"])]
    floor_items = [f - c for f, c in zip(series["floor"], series["complete"])]
    return {key: site[key] for key in ("file", "line", "column", "class", "typed")} | {
        "ms": {name: m * 1e3 for name, m in median.items()},
        "item_ms": statistics.median(items) * 1e3, "floor_item_ms": statistics.median(floor_items) * 1e3,
        "ratio": measure.paired(series["bridge"], series["floor"])["paired"],
        "items": len(bridge.get_completions(code, line, column)["completions"])}


def class_row(name, sites):
    series = {variant: [s["ms"][variant] / 1e3 for s in sites] for variant in ("bridge", "floor", "complete")}
    ratios = [s["ratio"] for s in sites]
    ms = [s["ms"]["bridge"] for s in sites]
    figures = {"p50_ratio": percentile(ratios, 50), "p90_ratio": percentile(ratios, 90),
               "p50_ms": percentile(ms, 50), "p90_ms": percentile(ms, 90),
               "p50_item_ms": percentile([s["item_ms"] for s in sites], 50),
               "p50_floor_item_ms": percentile([s["floor_item_ms"] for s in sites], 50)}
    note = (f"{len(sites)} sites; ratio to the floor p50 {figures['p50_ratio']:.2f}, p90 {figures['p90_ratio']:.2f}; "
            f"bridge p50 {figures['p50_ms']:.0f} ms, p90 {figures['p90_ms']:.0f} ms; item time p50 "
            f"{figures['p50_item_ms']:.1f} ms (floor's {figures['p50_floor_item_ms']:.1f} ms)")
    # Each "sample" is one site's median, so the row's ratios are medians over sites.
    return measure.result(SUITE, name, series, note=note, sites=sites, **figures)


def run(repeats: int = 3) -> list:
    count = int(os.environ.get("LSP_BENCH_TYPING_SITES", DEFAULT_SITES))
    seed = int(os.environ.get("LSP_BENCH_TYPING_SEED", 1))
    with common.ready_bridge() as bridge:
        sites = [measure_site(bridge, site, repeats) for site in typing_sites.draw(bridge, count, seed)]
    if not sites:
        raise common.Skipped("no completion sites found in the standard library")
    rows = [class_row(name, [s for s in sites if s["class"] == name]) for name in typing_sites.CLASSES
            if any(s["class"] == name for s in sites)]
    return rows + [class_row("all sites", sites)]


if __name__ == "__main__":
    common.main(run, 3)
