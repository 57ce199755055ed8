"""Timing of several ways to do the same work, interleaved in one run.

Every round runs each variant once, in an order shuffled from round to round (with a fixed
seed), so that a slow phase of the machine (two cores shared with builds) falls on all of them
alike, and so that no variant always follows the same one: a heavy variant leaves caches and
the allocator in a state that slows whatever runs next. The first
`warmup` rounds are run and dropped. Figures are medians with their quartiles; a comparison is
the median of the per-round ratios (the paired ratio), which a slow phase affects far less than
the ratio of two medians.
"""
import gc
import random
import statistics
import time
import timeit


def quartiles(samples):
    if len(samples) < 2:
        return samples[0], samples[0]
    q1, _, q3 = statistics.quantiles(samples, n=4, method="inclusive")
    return q1, q3


def summary(samples):
    q1, q3 = quartiles(samples)
    return {"median_s": statistics.median(samples), "q1_s": q1, "q3_s": q3,
            "min_s": min(samples), "max_s": max(samples), "n": len(samples)}


def paired(samples, reference):
    ratios = [a / b for a, b in zip(samples, reference) if b > 0]
    q1, q3 = quartiles(ratios)
    return {"paired": statistics.median(ratios), "q1": q1, "q3": q3,
            "of_medians": statistics.median(samples) / statistics.median(reference)}


class Series(dict):
    """{variant: [seconds per round]}, with `gc`: {variant: [seconds of it spent collecting]}."""

    def __init__(self, names):
        super().__init__((name, []) for name in names)
        self.gc = {name: [] for name in names}


class CollectorClock:
    """Time spent in the cyclic collector, through gc.callbacks."""

    def __init__(self):
        self.total = 0.0
        self._start = 0.0

    def __call__(self, phase, info):
        if phase == "start":
            self._start = time.perf_counter()
        else:
            self.total += time.perf_counter() - self._start


def rounds(variants, repeats, warmup=1, min_seconds=2.0):
    """{name: zero-argument callable} -> Series.

    At least `repeats` rounds; cheap cases get more (up to four times as many) until the
    measured rounds have taken `min_seconds`, since short calls are the noisiest.

    The cyclic collector is left as the host has it: a collection is part of what a call costs
    there too. It runs once after the warm-up, so the rounds start from the same heap, and the
    time each sample spent in it is recorded beside the sample."""
    names = list(variants)
    series = Series(names)
    clock = CollectorClock()
    gc.callbacks.append(clock)
    order = random.Random(7)
    measured = 0.0
    try:
        r = 0
        while r < warmup + repeats or (measured < min_seconds and r < warmup + 4 * repeats):
            if r == warmup:
                gc.collect()
            r += 1
            order.shuffle(names)
            for name in names:
                collecting = clock.total
                start = time.perf_counter()
                variants[name]()
                elapsed = time.perf_counter() - start
                if r > warmup:
                    series[name].append(elapsed)
                    series.gc[name].append(clock.total - collecting)
                    measured += elapsed
    finally:
        gc.callbacks.remove(clock)
    return series


def micro_rounds(statements, globals_, repeats, number, warmup=1):
    """As `rounds`, for statements too short to time one by one: each sample is the mean time
    of `number` executions, timed by timeit (collection off, as timeit does)."""
    timers = {name: timeit.Timer(stmt, globals=globals_) for name, stmt in statements.items()}
    names = list(timers)
    series = {name: [] for name in names}
    order = random.Random(7)
    for r in range(warmup + repeats):
        order.shuffle(names)
        for name in names:
            elapsed = timers[name].timeit(number) / number
            if r >= warmup:
                series[name].append(elapsed)
    return series


def result(suite, case, series, floor="floor", goal=None, note=None, **extra):
    """One row of the report: every variant's summary and its paired ratio to the floor.

    The keys bridge_median_s, direct_median_s, ratio, spread and paired_ratio keep the shape
    the per-feature scripts always returned (direct = the floor)."""
    row = {"suite": suite, "case": case, "floor": floor,
           "variants": {name: summary(samples) for name, samples in series.items()},
           "gc_share": {name: statistics.median(g / t for g, t in zip(spent, series[name]))
                        for name, spent in getattr(series, "gc", {}).items()},
           "ratios": {name: paired(samples, series[floor]) for name, samples in series.items() if name != floor}}
    spent = getattr(series, "gc", None)
    if spent:
        outside = {name: [t - g for t, g in zip(samples, spent[name])] for name, samples in series.items()}
        row["outside_gc"] = {name: summary(samples) for name, samples in outside.items()}
        row["ratios_outside_gc"] = {name: paired(samples, outside[floor]) for name, samples in outside.items()
                                    if name != floor}
    if "bridge" in series:
        bridge, direct = row["variants"]["bridge"], row["variants"][floor]
        row.update(bridge_median_s=bridge["median_s"], direct_median_s=direct["median_s"],
                   ratio=bridge["median_s"] / direct["median_s"], paired_ratio=row["ratios"]["bridge"]["paired"],
                   spread=max(relative_iqr(row["variants"][name]) for name in ("bridge", floor)))
    if goal:
        row["goal"] = goal
    if note:
        row["note"] = note
    row.update(extra)
    return row


def relative_iqr(s):
    return (s["q3_s"] - s["q1_s"]) / s["median_s"] if s["median_s"] else 0.0
