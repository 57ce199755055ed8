"""The request budget on the inputs that hold the editor hostage without it: how long each request
takes in full, how soon it returns when its budget runs out, how fast the next hover is against
the hover before any stop, and how long a hover from a second thread waits while such a request
runs. Writes <out>/budget.json and prints a table.

    python bench/suite_budget.py [--out DIR] [--budget SECONDS] [--quick]

--quick leaves out the full runs that take minutes (signature help on the 1 MB line).
"""
import argparse
import json
import os
import statistics
import threading
import time

import common
import parso

VAR = "LSP_BRIDGE_REQUEST_BUDGET"
HOVER = ("import json\njson.dumps", 2, 7)


def long_line(size_bytes):
    return "x = " + " + ".join(["1"] * (size_bytes // 4))


def many_findings(count):
    return "".join(f"value_{i:07d} = missing_{i}\n" for i in range(count))


def dict_literal(keys):
    return "d = {" + ", ".join(f"'key{i}': {i}" for i in range(keys)) + "}\n"


def cases():
    line = long_line(1_000_000)
    return [
        ("signature help at the end of a 1 MB line", "get_signature_help", (line + "\nprint(", 1, len(line)), True),
        ("completion on the line after it", "get_completions", (line + "\nx.", 2, 2), False),
        ("diagnostics, 80,000 findings", "get_diagnostics", (many_findings(80_000),), False),
        ("completion after a 20,000-key dict", "get_completions", (dict_literal(20_000) + "d.", 2, 2), False),
    ]


def timed(fn):
    start = time.perf_counter()
    answer = fn()
    return time.perf_counter() - start, answer


def hover_time(bridge, rounds=5):
    return statistics.median(timed(lambda: bridge.get_hover(*HOVER))[0] for _ in range(rounds))


def run(budget, quick):
    rows = []
    with common.ready_bridge() as bridge:
        os.environ[VAR] = "0"
        baseline = hover_time(bridge)
        for name, method, args, minutes in cases():
            os.environ[VAR] = "0"
            full = None
            # Each run parses afresh, as after an edit: a tree kept from the run before would make
            # the second one cheaper.
            if not (quick and minutes):
                parso.cache.parser_cache.clear()
                full, _ = timed(lambda: getattr(bridge, method)(*args))
            os.environ[VAR] = str(budget)
            parso.cache.parser_cache.clear()
            took, answer = timed(lambda: getattr(bridge, method)(*args))
            os.environ[VAR] = "0"
            first_hover, _ = timed(lambda: bridge.get_hover(*HOVER))
            rows.append({"case": name, "full_s": full, "budget_s": budget, "returned_s": took,
                         "stopped": bool(answer["error"]), "error": answer["error"],
                         "next_hover_s": first_hover, "hover_after_s": hover_time(bridge),
                         "hover_before_s": baseline})
        rows.append(second_thread(bridge, budget))
    return rows


def second_thread(bridge, budget):
    """A hover asked from another thread 0.1 s after the 1 MB signature help began."""
    line = long_line(1_000_000)
    os.environ[VAR] = str(budget)
    parso.cache.parser_cache.clear()
    slow = {}

    def slow_request():
        slow["took"], slow["answer"] = timed(lambda: bridge.get_signature_help(line + "\nprint(", 1, len(line)))

    worker = threading.Thread(target=slow_request)
    worker.start()
    time.sleep(0.1)
    os.environ[VAR] = "30"
    took, hover = timed(lambda: bridge.get_hover(*HOVER))
    worker.join()
    os.environ[VAR] = "0"
    return {"case": "hover from a second thread meanwhile", "budget_s": budget, "returned_s": took,
            "stopped": bool(hover["error"]), "error": hover["error"], "slow_request_s": slow.get("took")}


def table(rows):
    lines = ["| case | full | budget | returned after | over budget | next hover / before | hover after / before |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        full = f"{r['full_s']:.2f} s" if r.get("full_s") is not None else "-"
        over = r["returned_s"] - r["budget_s"]
        if "next_hover_s" in r:
            ratios = (f"{r['next_hover_s'] / r['hover_before_s']:.2f}", f"{r['hover_after_s'] / r['hover_before_s']:.2f}")
        else:
            ratios = (f"(the slow request returned after {r['slow_request_s']:.3f} s)", "-")
        lines.append(f"| {r['case']} | {full} | {r['budget_s']:g} s | {r['returned_s']:.3f} s | {over:+.3f} s | "
                     f"{ratios[0]} | {ratios[1]} |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(common.ROOT, "build", "bench"))
    parser.add_argument("--budget", type=float, default=1.0)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    rows = run(args.budget, args.quick)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "budget.json"), "w", encoding="utf-8") as f:
        json.dump(rows, f, indent=1)
    print(table(rows))


if __name__ == "__main__":
    main()
