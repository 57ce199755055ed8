"""The one benchmark runner: every suite in turn, the tables printed, and the figures written to
<out>/results.json and <out>/report.md (plots: bench/plots.py, under an interpreter that has
matplotlib).

    python bench/run.py [--repeats N] [--out DIR] [--only completion,hover] [--quick]

A suite that cannot run against this build (hover not built yet) is reported as skipped; one
that fails is reported with its error, the others still run, and the exit status is 1.
"""
import argparse
import json
import os
import platform
import sys
import time
import traceback

import common

import report
import suite_boundary
import suite_callgrind
import suite_completion
import suite_diagnostics
import suite_hover
import suite_startup
import suite_sync
import suite_typing

# (name, module, repeats, repeats with --quick)
SUITES = [
    ("boundary", suite_boundary, 15, 5),
    ("completion", suite_completion, 9, 3),
    ("hover", suite_hover, 9, 3),
    ("diagnostics", suite_diagnostics, 7, 3),
    ("sync_modules", suite_sync, 9, 3),
    ("startup", suite_startup, 6, 2),
    ("typing", suite_typing, 3, 2),
    ("instructions", suite_callgrind, 0, 0),
]


def versions():
    import jedi
    import parso
    import pyflakes
    import pylsp
    return {"python": platform.python_version(), "jedi": jedi.__version__, "parso": parso.__version__,
            "pyflakes": pyflakes.__version__, "pylsp": pylsp.__version__}


def run_suite(name, module, repeats, quick):
    if module is suite_callgrind:
        return module.run(quick=quick)
    return module.run(repeats)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, help="rounds per case (default: each suite's own)")
    parser.add_argument("--out", default=os.path.join(common.ROOT, "build", "bench"))
    parser.add_argument("--only", help="comma-separated suite names")
    parser.add_argument("--quick", action="store_true", help="few rounds; for trying the runner out")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    os.environ["LSP_BENCH_OUT"] = args.out
    only = set(args.only.split(",")) if args.only else None

    results = {"meta": {"versions": versions(), "started": time.strftime("%Y-%m-%d %H:%M:%S"),
                        "load_before": os.getloadavg(), "cpus": os.cpu_count(), "quick": args.quick,
                        "durations_s": {}},
               "rows": [], "skipped": {}, "failed": {}}
    for name, module, repeats, quick_repeats in SUITES:
        if only and name not in only:
            continue
        n = args.repeats or (quick_repeats if args.quick else repeats)
        print(f"== {name} ==", flush=True)
        start = time.perf_counter()
        try:
            rows = run_suite(name, module, n, args.quick)
        except common.Skipped as e:
            results["skipped"][name] = str(e)
            print(f"skipped: {e}")
            continue
        except Exception as e:  # one broken suite must not cost the others
            results["failed"][name] = "".join(traceback.format_exception_only(type(e), e)).strip()
            traceback.print_exc()
            continue
        finally:
            results["meta"]["durations_s"][name] = time.perf_counter() - start
        results["rows"] += rows
        table = suite_callgrind.format_table(rows) if module is suite_callgrind else common.format_table(rows)
        print(table, flush=True)
    results["meta"]["load_after"] = os.getloadavg()

    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as f:
        json.dump(results, f, indent=1)
    with open(os.path.join(args.out, "report.md"), "w", encoding="utf-8") as f:
        f.write(report.render(results))
    print("\n" + report.goals_table(results))
    print(f"\nreport: {os.path.join(args.out, 'report.md')}")
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
