"""Instruction counts under valgrind's callgrind: the second, noise-free measure of the module's
own overhead, where timings on a shared machine cannot resolve a few per cent.

bench/callgrind_work.py runs the cases under valgrind; each measured stretch is dumped under its
label ("suite|case|variant|n"), and this module reads the totals back. The dumps stay in
<out>/callgrind/ for `callgrind_annotate` (the bridge's own functions are named there).

    python bench/suite_callgrind.py [quick]
"""
import glob
import os
import re
import shutil
import subprocess
import sys

import common

HERE = os.path.dirname(os.path.abspath(__file__))
SUITE = "instructions"
GOALS = {"boundary": "no more instructions than the Python method", "diagnostics": "own overhead <= 5% of the floor",
         "sync_modules": "as few instructions as the Python yardstick"}
DEFAULT_GOAL = "own overhead <= 2% of the floor"


def out_dir():
    return os.environ.get("LSP_BENCH_OUT") or os.path.join(common.ROOT, "build", "bench")


def region_library(folder):
    library = os.path.join(folder, "libcgregion.so")
    source = os.path.join(HERE, "cg_region.c")
    subprocess.run(["cc", "-O1", "-shared", "-fPIC", "-o", library, source], check=True)
    return library


def read_dumps(folder):
    """{label: instructions} from every dump made by a client request."""
    counts = {}
    for path in glob.glob(os.path.join(folder, "cg.out.*")):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        label = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
        total = re.search(r"^totals: (\d+)", text, re.M)
        if label and total:
            counts[label.group(1)] = int(total.group(1))
    return counts


def rows_from(counts, loop_calls):
    cases = {}
    empty_loop = counts.get("boundary|empty loop|loop|1", 0)
    for label, total in counts.items():
        suite, case, variant, n = label.split("|")
        if variant == "loop":
            continue
        per_call = (total - empty_loop) / loop_calls if suite == "boundary" else total / int(n)
        cases.setdefault((suite, case), {})[variant] = per_call
    rows = []
    for (suite, case), instructions in cases.items():
        reference = "python" if suite == "boundary" else "floor"
        base = instructions[reference]
        rows.append({
            "suite": SUITE, "case": f"{suite}: {case}", "measure": "instructions", "floor": reference,
            "instructions": instructions,
            "ratios": {name: {"paired": count / base} for name, count in instructions.items() if name != reference},
            "own_per_call": instructions["bridge"] - base,
            "goal": GOALS.get(suite, DEFAULT_GOAL),
        })
    return rows


def run(repeats: int = 0, quick: bool = False) -> list:
    """`repeats` is ignored: the counts do not vary from run to run."""
    import callgrind_work

    if not shutil.which("valgrind"):
        raise common.Skipped("valgrind is not installed (Debian package valgrind)")
    folder = os.path.join(out_dir(), "callgrind")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    command = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
               f"--callgrind-out-file={os.path.join(folder, 'cg.out')}", sys.executable,
               os.path.join(HERE, "callgrind_work.py"), region_library(folder)] + (["quick"] if quick else [])
    log = os.path.join(folder, "valgrind.log")
    with open(log, "w") as f:
        done = subprocess.run(command, stdout=f, stderr=subprocess.STDOUT)
    if done.returncode:
        raise RuntimeError(f"the workload under valgrind failed; see {log}")
    return sorted(rows_from(read_dumps(folder), callgrind_work.LOOP), key=lambda r: r["case"])


def format_table(rows):
    lines = []
    for row in rows:
        lines.append(f"{row['case']}")
        for name, count in row["instructions"].items():
            ratio = row["ratios"].get(name)
            ratio_text = f"   x{ratio['paired']:.4f} of {row['floor']}" if ratio else ""
            lines.append(f"    {name:10} {count:16,.0f}{ratio_text}")
    return "\n".join(lines)


if __name__ == "__main__":
    print(format_table(run(quick="quick" in sys.argv[1:])))
