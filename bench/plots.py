"""PNG plots of one run's results.json, next to it. Needs matplotlib (Debian's
python3-matplotlib, so run it with /usr/bin/python3):

    /usr/bin/python3 bench/plots.py build/bench/results.json
"""
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

COLOURS = {"bridge": "tab:blue", "uncached": "tab:cyan", "floor": "tab:gray", "yardstick": "tab:green",
           "pylsp": "tab:orange", "pylsp_eager": "tab:red", "pyright": "tab:purple",
           "pyright_checked": "tab:pink"}
GOAL_LINES = {"completion": 1.02, "hover": 1.02, "startup": 1.02, "diagnostics": 1.05}


def timing_rows(results):
    return [r for r in results["rows"] if r.get("measure") != "instructions"]


def save(fig, folder, name):
    fig.tight_layout()
    fig.savefig(os.path.join(folder, name), dpi=110)
    plt.close(fig)


def overhead(results, folder):
    """bridge / floor per case with its IQR, instruction ratios as dots, goal lines."""
    counts = {tuple(r["case"].split(": ", 1)): r["ratios"]["bridge"]["paired"]
              for r in results["rows"] if r.get("measure") == "instructions"}
    rows = [r for r in timing_rows(results) if r["suite"] in GOAL_LINES and "bridge" in r["ratios"] and r.get("goal")]
    if not rows:
        return
    fig, ax = plt.subplots(figsize=(9, 0.38 * len(rows) + 1.5))
    for i, row in enumerate(rows):
        r = (row["ratios"] if row.get("whole_time") else row.get("ratios_outside_gc", row["ratios"]))["bridge"]
        ax.errorbar(r["paired"], i, xerr=[[r["paired"] - r["q1"]], [r["q3"] - r["paired"]]], fmt="o",
                    color=COLOURS["bridge"], capsize=3)
        count = counts.get((row["suite"], row["case"]))
        if count:
            ax.plot(count, i, "D", color="black", markersize=5)
        ax.plot([row.get("limit") or GOAL_LINES[row["suite"]]] * 2, [i - 0.4, i + 0.4], color="tab:red", linewidth=1)
    ax.axvline(1.0, color="gray", linewidth=0.8, linestyle=":")
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels([f"{r['suite']}: {r['case']}" for r in rows], fontsize=8)
    ax.invert_yaxis()
    ax.set_xlabel("bridge / floor (circle: time outside the collector, or the whole time where the goal is on it;\n"
                  "paired median and IQR; diamond: instructions; red: goal)")
    save(fig, folder, "overhead.png")


def against_pylsp(results, folder):
    rows = [r for r in timing_rows(results) if "pylsp" in r["variants"] and "bridge" in r["variants"]]
    if not rows:
        return
    fig, ax = plt.subplots(figsize=(9, 0.38 * len(rows) + 1.5))
    labels = []
    for i, row in enumerate(rows):
        v = row.get("outside_gc") or row["variants"]  # which call a full collection hits is chance
        b = v["bridge"]["median_s"]
        ax.barh(i, b / v["pylsp"]["median_s"], color=COLOURS["pylsp"], height=0.4,
                label="pylsp as shipped" if i == 0 else None)
        if "pylsp_eager" in v:
            ax.barh(i + 0.4, b / v["pylsp_eager"]["median_s"], color=COLOURS["pylsp_eager"], height=0.4,
                    label="pylsp, eager" if not any("pylsp_eager" in r["variants"] for r in rows[:i]) else None)
        labels.append(f"{row['suite']}: {row['case']}")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_xscale("log")
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels(labels, fontsize=8)
    ax.invert_yaxis()
    ax.set_xlabel("bridge time / pylsp time, outside the collector (log scale; < 1: the bridge is faster)")
    ax.legend(fontsize=8)
    save(fig, folder, "pylsp.png")


def by_size(results, folder, suite, name, xlabel):
    rows = sorted((r for r in timing_rows(results) if r["suite"] == suite), key=lambda r: r["size"])
    if len(rows) < 2:
        return
    sizes = [r["size"] for r in rows]
    fig, ax = plt.subplots(figsize=(7, 4.5))
    for variant in rows[0]["variants"]:
        med = [r["variants"][variant]["median_s"] for r in rows]
        low = [m - r["variants"][variant]["q1_s"] for m, r in zip(med, rows)]
        high = [r["variants"][variant]["q3_s"] - m for m, r in zip(med, rows)]
        ax.errorbar(sizes, med, yerr=[low, high], marker="o", capsize=3, label=variant, color=COLOURS.get(variant))
    first = rows[0]["variants"]["bridge"]["median_s"]
    ax.plot(sizes, [first * s / sizes[0] for s in sizes], linestyle="--", color="black", linewidth=0.8,
            label="linear from the first point")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(xlabel)
    ax.set_ylabel("seconds (median, IQR)")
    ax.legend(fontsize=8)
    save(fig, folder, name)


def startup(results, folder):
    """Import + construction on one panel; the first corvane. completion, right after
    construction and after the warm-up, on one axis beside it."""
    rows = [r for r in timing_rows(results) if r["suite"] == "startup"]
    if not rows:
        return
    panels = [(r["case"], [(n, r["variants"][n]["median_s"]) for n in r["variants"]])
              for r in rows if r["case"].startswith("import")]
    requests = [(f"{n}\n{'after warm-up' if 'warm-up' in r['case'] else 'right after construction'}",
                 r["variants"][n]["median_s"]) for r in rows if r["case"].startswith("corvane.") for n in r["variants"]]
    if requests:
        panels.append(("first corvane. completion", requests))
    fig, axes = plt.subplots(1, len(panels), figsize=(5 * len(panels), 4.2), squeeze=False)
    for ax, (title, bars) in zip(axes[0], panels):
        ax.bar(range(len(bars)), [seconds for _, seconds in bars],
               color=[COLOURS.get(label.split("\n")[0], "tab:purple") for label, _ in bars])
        ax.set_xticks(range(len(bars)))
        ax.set_xticklabels([label for label, _ in bars], rotation=30, fontsize=8)
        ax.set_title(title, fontsize=9)
        ax.set_ylabel("seconds (median)")
    save(fig, folder, "startup.png")


def cache(results, folder):
    """Completion time per case, warm and in a fresh process: the module with its item cache
    (bridge), without it (uncached), and the floor."""
    rows = timing_rows(results)
    panels = [("warm (a bridge that has answered before)",
               [r for r in rows if r["suite"] == "completion" and "uncached" in r["variants"]]),
              ("first of its kind in a fresh process (item cache filled on disk by an earlier process)",
               [r for r in rows if r["suite"] == "startup" and "uncached" in r["variants"]])]
    panels = [(title, found) for title, found in panels if found]
    if not panels:
        return
    variants = ("bridge", "uncached", "floor")
    fig, axes = plt.subplots(len(panels), 1, figsize=(10, 3.8 * len(panels)), squeeze=False)
    for ax, (title, found) in zip(axes[:, 0], panels):
        for k, name in enumerate(variants):
            med = [r["variants"][name]["median_s"] if name in r["variants"] else 0 for r in found]
            ax.bar([i + (k - 1) * 0.27 for i in range(len(found))], med, width=0.27, color=COLOURS[name],
                   label={"bridge": "cached", "uncached": "uncached", "floor": "floor"}[name])
        ax.set_xticks(range(len(found)))
        ax.set_xticklabels([r["case"] for r in found], rotation=20, fontsize=7, ha="right")
        ax.set_yscale("log")
        ax.set_ylabel("seconds (median, log scale)")
        ax.set_title(title, fontsize=9)
        ax.legend(fontsize=8)
    save(fig, folder, "cache.png")


def typing(results, folder):
    """Per site class: each site's bridge / floor ratio and its milliseconds, p50 and p90 marked."""
    rows = [r for r in timing_rows(results) if r["suite"] == "typing" and r["case"] != "all sites"]
    if not rows:
        return
    fig, axes = plt.subplots(1, 2, figsize=(11, 0.6 * len(rows) + 2))
    for ax, key, label in ((axes[0], "ratio", "bridge / floor per site"), (axes[1], "ms", "bridge ms per site")):
        for i, row in enumerate(rows):
            values = [s["ratio"] if key == "ratio" else s["ms"]["bridge"] for s in row["sites"]]
            ax.plot(values, [i + 0.12 * ((k % 5) - 2) for k in range(len(values))], "o", color=COLOURS["bridge"],
                    alpha=0.6, markersize=4)
            for p, marker in (("p50", "|"), ("p90", "x")):
                ax.plot(row[f"{p}_{key}"], i, marker, color="black", markersize=12)
        ax.set_yticks(range(len(rows)))
        ax.set_yticklabels([f"{r['case']} ({len(r['sites'])})" for r in rows], fontsize=8)
        ax.invert_yaxis()
        ax.set_xlabel(label + " (black: p50 |, p90 x)")
        if key == "ratio":
            ax.axvline(1.0, color="gray", linewidth=0.8, linestyle=":")
        else:
            ax.set_xscale("log")
    save(fig, folder, "typing.png")


def typing_real(results, folder):
    """suite_typing_real's figures: per draw, each site's milliseconds per class for the bridge,
    the floor and pyright (after the change, and once checked), their p50 (|) and p90 (x); then
    numpy's cases, warm and new process."""
    draws = results.get("draws", [])
    numpy = results.get("numpy")
    panels = len(draws) + (1 if numpy else 0)
    if not panels:
        return
    variants = [v for v in ("bridge", "floor", "pyright", "pyright_checked")
                if any(v in s["ms"] for d in draws for s in d["sites"])]
    fig, axes = plt.subplots(panels, 1, figsize=(12, 3.2 * panels + 0.5), squeeze=False)
    for ax, draw in zip(axes[:, 0], draws):
        classes = list(draw["classes"])
        for i, name in enumerate(classes):
            sites = draw["sites"] if name == "all sites" else [s for s in draw["sites"] if s["class"] == name]
            for k, variant in enumerate(variants):
                y = i + (k - (len(variants) - 1) / 2) * 0.18
                ax.plot([s["ms"][variant] for s in sites if variant in s["ms"]], [y] * len(sites), "o", alpha=0.45,
                        markersize=3.5, color=COLOURS[variant], label=variant if i == 0 else None)
                figures = draw["classes"][name].get(variant)
                if figures:
                    ax.plot(figures["p50"], y, "|", color="black", markersize=10)
                    ax.plot(figures["p90"], y, "x", color="black", markersize=7)
        ax.set_yticks(range(len(classes)))
        ax.set_yticklabels([f"{c} ({draw['classes'][c]['sites']})" for c in classes], fontsize=8)
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_xlabel("ms per site (median of its rounds; black: p50 |, p90 x)", fontsize=8)
        ax.set_title(f"sites as users type them, seed {draw['seed']}", fontsize=9)
        ax.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.0, 1.0))
    if numpy:
        ax = axes[-1, 0]
        cases = list(numpy["warm"])
        bars = [("warm bridge", "bridge", numpy["warm"]), ("warm floor", "floor", numpy["warm"]),
                ("warm pyright", "pyright", numpy["warm"]), ("warm pyright, checked", "pyright_checked", numpy["warm"]),
                ("new process bridge", "bridge", numpy.get("new_process", {})),
                ("new process floor", "floor", numpy.get("new_process", {}))]
        bars = [b for b in bars if all(b[1] in b[2].get(c, {}) for c in cases)]
        width = 0.8 / len(bars)
        for k, (label, variant, table) in enumerate(bars):
            ax.bar([i + k * width for i in range(len(cases))], [table[c][variant] for c in cases], width=width,
                   color=COLOURS[variant], alpha=1.0 if label.startswith("warm") else 0.5, label=label)
        ax.set_xticks([i + 0.4 - width / 2 for i in range(len(cases))])
        ax.set_xticklabels(cases, fontsize=8)
        ax.set_yscale("log")
        ax.set_ylabel("ms (median)")
        ax.set_title(f"numpy {numpy['version']}", fontsize=9)
        ax.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.0, 1.0))
    save(fig, folder, "typing_real.png")


def main(path):
    with open(path, encoding="utf-8") as f:
        results = json.load(f)
    folder = os.path.dirname(os.path.abspath(path))
    overhead(results, folder)
    against_pylsp(results, folder)
    by_size(results, folder, "diagnostics", "diagnostics_size.png", "lines of code")
    by_size(results, folder, "sync_modules", "sync_size.png", "modules of 2 KB")
    startup(results, folder)
    cache(results, folder)
    typing(results, folder)


if __name__ == "__main__":
    main(sys.argv[1])
