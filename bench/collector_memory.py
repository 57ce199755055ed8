"""The collector pause under requests back to back: a host thread makes cyclic garbage while one
or two threads run requests one after another, and the same run without the pause is the
baseline. Each run is a fresh process. Reported per run: the peak resident size (and its ratio to
the baseline's), collections per second, the longest time without one, the share of samples that
found the first threshold at 0, and the garbage still waiting for a full collection at the end.

    python bench/collector_memory.py [--seconds 12] [--workload mixed|jedi|long] [--host-batch 100]

Workloads: "mixed" alternates an `os.` completion with a 1,000-line diagnostics request, so two
threads both wait for the jedi lock and overlap; "jedi" alternates completions and hovers; "long"
is one thread of diagnostics requests of --long-lines lines (about 4 s each on two busy cores)
against a host making garbage as fast as --host-batch lets it (300: about 100 MiB/s), where only
the watchdog's thread can lift the pause within a request.

Without the pause, the bridge finds in sys.modules a gc module that says the collector is off,
so it pauses nothing, while CPython's collector (which the host and the libraries imported
before) runs as usual; everything else is the same run.
"""
import argparse
import json
import os
import subprocess
import sys
import threading
import time
import types

import common

import suite_diagnostics

PAGE = os.sysconf("SC_PAGE_SIZE")
MIB = 1 << 20
SAMPLE_S = 0.02
HOST_SLEEP_S = 0.001  # after each batch: a host that works, not one that spins on the GIL


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def hide_the_collector_from_the_bridge():
    import gc

    stand_in = types.ModuleType("gc")
    stand_in.__dict__.update(gc.__dict__)
    stand_in.isenabled = lambda: False
    sys.modules["gc"] = stand_in


def workload(bridge, name, long_lines):
    if name == "long":
        big = suite_diagnostics.generate(long_lines)
        return [lambda: bridge.get_diagnostics(big)] * 2
    code = suite_diagnostics.generate(1_000)
    second = {"mixed": lambda: bridge.get_diagnostics(code),
              "jedi": lambda: bridge.get_hover("import os\nos.path.join('a', 'b')\n", 2, 10)}[name]
    return [lambda: bridge.get_completions("import os\nos.pa", 2, 5), second]


def host_garbage(done, batch, made):
    """Batches of self-referencing dicts, each holding a 20-item list."""
    while not done.is_set():
        for _ in range(batch):
            node = {"payload": list(range(20))}
            node["self"] = node
        made[0] += batch
        time.sleep(HOST_SLEEP_S)


def child(paused, threads, seconds, workload_name, batch, long_lines):
    import gc

    with common.ready_bridge() as bridge:
        if not paused:
            hide_the_collector_from_the_bridge()
        requests = workload(bridge, workload_name, long_lines)
        for request in requests:
            request()
        done, made, served, starts, generations = threading.Event(), [0], [0], [], [0, 0, 0]

        def count(phase, info):
            if phase == "start":
                starts.append(time.perf_counter())
                generations[info["generation"]] += 1

        def requester(first):
            i = first
            while not done.is_set():
                requests[i % 2]()
                served[0] += 1
                i += 1

        gc.callbacks.append(count)
        workers = [threading.Thread(target=host_garbage, args=(done, batch, made))]
        workers += [threading.Thread(target=requester, args=(i,)) for i in range(threads)]
        base = peak = rss()
        samples = at_0 = 0
        begin = time.perf_counter()
        for w in workers:
            w.start()
        while time.perf_counter() - begin < seconds:
            time.sleep(SAMPLE_S)
            peak = max(peak, rss())
            samples += 1
            at_0 += gc.get_threshold()[0] == 0
        done.set()
        end = time.perf_counter()
        for w in workers:
            w.join()
        waiting = gc.collect()
        starts = [t for t in starts if begin <= t <= end]
        gaps = [b - a for a, b in zip([begin] + starts, starts + [end])]
        node_bytes = sys.getsizeof({"payload": None, "self": None}) + sys.getsizeof(list(range(20)))
        return {"paused": paused, "threads": threads, "base_mib": base / MIB, "peak_mib": peak / MIB,
                "per_s": len(starts) / (end - begin), "max_gap_s": max(gaps), "generations": generations,
                "requests": served[0], "at_0": at_0 / max(1, samples), "waiting": waiting,
                "garbage_mib_s": made[0] * node_bytes / MIB / (end - begin)}


def run(seconds, workload_name, batch, long_lines):
    rows = []
    for threads in (1,) if workload_name == "long" else (1, 2):
        for paused in (False, True):
            out = subprocess.run([sys.executable, __file__, "--child", json.dumps(
                [paused, threads, seconds, workload_name, batch, long_lines])], capture_output=True, text=True, check=True,
                cwd=common.ROOT)
            rows.append(json.loads(out.stdout.strip().splitlines()[-1]))
    return rows


def report(rows):
    base = {row["threads"]: row for row in rows if not row["paused"]}
    for row in rows:
        print(f"{row['threads']} request thread(s), {'paused' if row['paused'] else 'unpaused':8}: "
              f"peak RSS {row['peak_mib']:.0f} MiB (x{row['peak_mib'] / base[row['threads']]['peak_mib']:.2f}), "
              f"{row['per_s']:.1f} collections/s {row['generations']}, longest without {row['max_gap_s']:.2f} s, "
              f"threshold 0 in {row['at_0']:.0%} of samples, {row['requests']} requests, "
              f"host garbage {row['garbage_mib_s']:.0f} MiB/s, {row['waiting']} objects left for a full collection")


def main():
    if sys.argv[1:2] == ["--child"]:
        print(json.dumps(child(*json.loads(sys.argv[2]))))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=12.0)
    parser.add_argument("--workload", choices=("mixed", "jedi", "long"), default="mixed")
    parser.add_argument("--host-batch", type=int, default=100, help="garbage nodes between the host's short sleeps")
    parser.add_argument("--long-lines", type=int, default=40_000, help="the long workload's file size")
    args = parser.parse_args()
    report(run(args.seconds, args.workload, args.host_batch, args.long_lines))


if __name__ == "__main__":
    main()
