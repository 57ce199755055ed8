"""The Markdown report of one run (results.json): how it was measured, the goals with their
verdicts, one table per suite, the plots, the instruction counts, and the analysis kept in
bench/findings.md."""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# suite -> (largest acceptable bridge/reference ratio, goal text)
GOALS = {
    "completion": (1.02, "own overhead <= 2% of the floor"),
    "hover": (1.02, "own overhead <= 2% of the floor"),
    "startup": (1.02, "own overhead <= 2% of the floor"),
    "diagnostics": (1.05, "own overhead <= 5% of the floor"),
    "boundary": (1.0, "no slower than a Python method call"),
}
PLOTS = [
    ("overhead.png", "The module's own overhead: bridge / floor per case (time outside the collector: median of "
                     "paired ratios, bar = interquartile range; diamonds: instruction counts)"),
    ("pylsp.png", "bridge against pylsp on the same documents (time outside the collector; below 1 the bridge "
                  "is faster)"),
    ("diagnostics_size.png", "get_diagnostics: time against file size, with a line of slope 1 for comparison"),
    ("sync_size.png", "sync_modules: time against the number of modules"),
    ("startup.png", "Once per process: import + construction, and the first corvane. completion"),
    ("cache.png", "Completion per case, warm and first in a fresh process: cached (bridge) against uncached "
                  "(the module with its item cache off) and the floor"),
    ("typing.png", "Typing in standard-library files: per site class, each site's bridge / floor ratio and its "
                   "milliseconds, with the p50 and p90"),
]


def goal_of(row):
    """(largest acceptable ratio, goal text): the row's own where it has a limit, else its suite's."""
    if row.get("limit"):
        return row["limit"], row["goal"]
    return GOALS[row["suite"]]


def ms(seconds):
    if seconds is None:
        return "-"
    return f"{seconds * 1e6:.2f} us" if seconds < 1e-3 else f"{seconds * 1e3:.1f} ms"


def ratio_text(r):
    return f"{r['paired']:.3f} ({r['q1']:.3f}-{r['q3']:.3f})" if "q1" in r else f"{r['paired']:.4f}"


def instruction_rows(results):
    """{(suite, case): callgrind row}"""
    found = {}
    for row in results["rows"]:
        if row.get("measure") == "instructions":
            suite, case = row["case"].split(": ", 1)
            found[(suite, case)] = row
    return found


def verdict(limit, timing, instructions):
    """Instruction counts decide where they exist (they do not vary with the machine's load);
    otherwise the timing decides when its interquartile range lies wholly on one side. The
    timing given is the time outside the collector where it was recorded: a full collection
    walks the whole heap, whose size is the host's, not the request's."""
    if instructions is not None:
        return "met" if instructions <= limit else "missed"
    if timing is None:
        return "-"
    if timing["q3"] <= limit:
        return "met"
    if timing["q1"] > limit:
        return "missed"
    return "met (within noise)" if timing["paired"] <= limit else "missed (within noise)"


def goals_table(results):
    counts = instruction_rows(results)
    lines = ["| goal | case | timing: bridge / reference (IQR) | the same, outside the collector | "
             "instructions: bridge / reference | verdict |", "|---|---|---|---|---|---|"]
    for row in timing_rows(results):
        if row["suite"] not in GOALS or "bridge" not in row["ratios"] or not row.get("goal"):
            continue
        limit, text = goal_of(row)
        timing = row["ratios"]["bridge"]
        cg = counts.get((row["suite"], row["case"]))
        instr = cg["ratios"]["bridge"]["paired"] if cg else None
        outside = row.get("ratios_outside_gc", {}).get("bridge")
        judged = timing if row.get("whole_time") else outside or timing
        lines.append(f"| {text} | {row['suite']}: {row['case']} | {ratio_text(timing)} | "
                     f"{ratio_text(outside) if outside else '-'} | "
                     f"{'-' if instr is None else f'{instr:.4f}'} | {verdict(limit, judged, instr)} |")
        if row.get("vs_pylsp"):
            lines.append(f"| faster than pylsp as shipped (documentation deferred), with every item's documentation | "
                         f"{row['suite']}: {row['case']}, bridge / pylsp | {ratio_text(row['vs_pylsp'])} | - | - | "
                         f"{verdict(1.0, row['vs_pylsp'], None)} |")
    lines += growth_goal_lines(results)
    return "\n".join(lines)


def timing_rows(results):
    return [row for row in results["rows"] if row.get("measure") != "instructions"]


def exponent(rows, variant, key="variants"):
    """b in time ~ size**b between the smallest and the largest size."""
    first, last = rows[0], rows[-1]
    t1, t2 = first[key][variant]["median_s"], last[key][variant]["median_s"]
    return math.log(t2 / t1) / math.log(last["size"] / first["size"])


def growth_goal_lines(results):
    lines = []
    for suite in ("diagnostics", "sync_modules"):
        rows = sorted((r for r in timing_rows(results) if r["suite"] == suite), key=lambda r: r["size"])
        if len(rows) < 2:
            continue
        b, f = exponent(rows, "bridge"), exponent(rows, "floor")
        key = "outside_gc" if "outside_gc" in rows[0] else "variants"
        b_out, f_out = exponent(rows, "bridge", key), exponent(rows, "floor", key)
        ok = b_out <= max(1.1, f_out + 0.05)
        lines.append(f"| time linear in size | {suite}: {rows[0]['case']} to {rows[-1]['case']} | growth exponent "
                     f"bridge {b:.2f}, floor {f:.2f} | bridge {b_out:.2f}, floor {f_out:.2f} | - | "
                     f"{'met' if ok else 'missed'}{' (grows as the floor does)' if ok and b_out > 1.1 else ''} |")
    return lines


def suite_table(rows):
    names = []
    for row in rows:
        names += [n for n in row["variants"] if n not in names]
    reference = rows[0]["floor"]
    header = ["case"] + [f"{n} (median)" for n in names] + [f"{n} / {reference} (IQR)" for n in names if n != reference]
    header += ["in the collector: bridge, " + reference]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for row in rows:
        cells = [row["case"]]
        cells += [ms(row["variants"][n]["median_s"]) if n in row["variants"] else "-" for n in names]
        cells += [ratio_text(row["ratios"][n]) if n in row["ratios"] else "-" for n in names if n != reference]
        share = row.get("gc_share", {})
        cells.append(", ".join(f"{share[n]:.0%}" for n in ("bridge", reference) if n in share) or "-")
        lines.append("| " + " | ".join(cells) + " |")
    notes = [f"- {row['case']}: {row['note']}" for row in rows if row.get("note")]
    return "\n".join(lines + ([""] + notes if notes else []))


def pylsp_lines(results):
    """Medians of the time outside the collector where it was recorded: which call a full
    collection lands in is chance (see the analysis)."""
    lines = ["| case | bridge | pylsp | bridge / pylsp | pylsp eager | bridge / pylsp eager |",
             "|---|---|---|---|---|---|"]
    for row in timing_rows(results):
        v = row.get("outside_gc") or row["variants"]
        if "pylsp" not in v or "bridge" not in v:
            continue
        b = v["bridge"]["median_s"]
        eager = v["pylsp_eager"]["median_s"] if "pylsp_eager" in v else None
        eager_ratio = f"{b / eager:.2f}" if eager else "-"
        lines.append(f"| {row['suite']}: {row['case']} | {ms(b)} | {ms(v['pylsp']['median_s'])} | "
                     f"{b / v['pylsp']['median_s']:.2f} | {ms(eager)} | {eager_ratio} |")
    return "\n".join(lines)


def growth_lines(results):
    rows = sorted((r for r in timing_rows(results) if r["suite"] == "diagnostics"), key=lambda r: r["size"])
    if len(rows) < 2:
        return ""
    lines = ["| variant | " + " | ".join(f"per 1k lines at {r['case']}" for r in rows) + " | growth exponent |",
             "|---|" + "---|" * (len(rows) + 1)]
    for name in rows[0]["variants"]:
        per_k = [ms(r["variants"][name]["median_s"] * 1000 / r["size"]) for r in rows]
        lines.append(f"| {name} | " + " | ".join(per_k) + f" | {exponent(rows, name):.2f} |")
    if "outside_gc" in rows[0]:
        for name in ("bridge", "floor"):
            per_k = [ms(r["outside_gc"][name]["median_s"] * 1000 / r["size"]) for r in rows]
            lines.append(f"| {name}, outside the collector | " + " | ".join(per_k) +
                         f" | {exponent(rows, name, 'outside_gc'):.2f} |")
    key = "outside_gc" if "outside_gc" in rows[0] else "variants"
    own = [(r[key]["bridge"]["median_s"] - r[key]["floor"]["median_s"]) * 1000 / r["size"] for r in rows]
    label = "bridge - floor, outside the collector" if key == "outside_gc" else "bridge - floor"
    lines.append(f"| {label} | " + " | ".join(f"{o * 1e3:.2f} ms" for o in own) + " | - |")
    return "\n".join(lines)


def instructions_table(results):
    lines = ["| case | bridge | floor / reference | yardstick | bridge / reference | yardstick / reference | "
             "own instructions per call |", "|---|---|---|---|---|---|---|"]
    for row in results["rows"]:
        if row.get("measure") != "instructions":
            continue
        i = row["instructions"]
        ref = i[row["floor"]]
        yard = i.get("yardstick", i.get("python") if row["floor"] != "python" else None)
        lines.append(f"| {row['case']} | {i['bridge']:,.0f} | {ref:,.0f} | {'-' if yard is None else f'{yard:,.0f}'} | "
                     f"{i['bridge'] / ref:.4f} | {'-' if yard is None else f'{yard / ref:.4f}'} | "
                     f"{row['own_per_call']:+,.0f} |")
    return "\n".join(lines)


def header(results):
    meta = results["meta"]
    v = meta["versions"]
    durations = ", ".join(f"{k} {s:.0f} s" for k, s in meta["durations_s"].items())
    return f"""# lsp_bridge benchmarks

Run started {meta['started']}; CPython {v['python']}, jedi {v['jedi']}, parso {v['parso']}, pyflakes {v['pyflakes']},
pylsp {v['pylsp']}; {meta['cpus']} CPUs, load average {meta['load_before'][0]:.1f} before and
{meta['load_after'][0]:.1f} after.{' Quick run: few rounds, figures are indicative only.' if meta['quick'] else ''}
Suites took: {durations}.

How it is measured. Every comparison is made within one run: the variants of a case run in turns
(one call each per round, the order shuffled every round so that no variant always follows the
same one), after warm-up rounds that fill jedi's caches; each figure is the median over the
rounds, with the interquartile range (IQR). A ratio is the median of the per-round ratios
(paired), which a slow phase of this shared machine affects far less than the ratio of two
medians. The cyclic collector runs as it does in the host; the time each call spent in it is
recorded too (gc.callbacks), and the ratio of the time outside it is shown beside the ratio of
the whole time. Verdicts: instruction counts decide where they exist, else the time outside the
collector, when its interquartile range lies wholly on one side of the goal ("within noise"
otherwise).

Variants: **bridge** the module; **floor** only the jedi / pyflakes / ast / file work the answer
needs, called directly from Python (the module's own overhead is its ratio to this); **yardstick**
a plain-Python class taking the same steps as the module (bench/yardstick.py); **pylsp**
python-lsp-server's plugin functions on the same documents, in-process (documentation resolved
lazily, as shipped); **pylsp_eager** the same with its `eager` setting (documentation up front, as
the bridge's definition demands). Instruction counts come from valgrind's callgrind: no noise;
the jedi helper subprocess is not counted, for any variant; before each measured stretch the heap
is collected and frozen (gc.freeze), so a stretch pays for collecting its own garbage only.
"""


def render(results):
    parts = [header(results), "## Goals\n", goals_table(results), ""]
    for name, reason in results["skipped"].items():
        parts.append(f"Skipped: **{name}**: {reason}\n")
    for name, error in results["failed"].items():
        parts.append(f"Failed: **{name}**: `{error}`\n")
    for file, caption in PLOTS:
        parts.append(f"![{caption}]({file})\n\n*{caption}*\n")
    suites = []
    for row in timing_rows(results):
        if row["suite"] not in suites:
            suites.append(row["suite"])
    for suite in suites:
        rows = [r for r in timing_rows(results) if r["suite"] == suite]
        parts += [f"## {suite}\n", suite_table(rows), ""]
        if suite == "diagnostics":
            parts += ["Time per 1,000 lines and growth exponent (1.0 = linear):\n", growth_lines(results), ""]
    parts += ["## Against pylsp\n", "Medians of the time outside the collector where it was recorded.\n",
              pylsp_lines(results), ""]
    if instruction_rows(results):
        parts += ["## Instruction counts (callgrind)\n",
                  "Per call; for the boundary, per call in a loop with the loop's own cost taken off.\n",
                  instructions_table(results), ""]
    findings = os.path.join(HERE, "findings.md")
    if os.path.exists(findings):
        with open(findings, encoding="utf-8") as f:
            parts.append(f.read())
    return "\n".join(parts)
