"""The benchmark machinery: the yardstick must take the module's steps (same answers, same log
calls), the rounds must interleave and pair their samples, and the report must judge goals and
read callgrind's dumps correctly. Nothing here is timed."""
import os
import sys

import pytest

BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench")
if BENCH not in sys.path:
    sys.path.insert(0, BENCH)

import floor  # noqa: E402
import measure  # noqa: E402
import report  # noqa: E402
import suite_callgrind  # noqa: E402
import suite_completion  # noqa: E402
import suite_diagnostics  # noqa: E402
import suite_hover  # noqa: E402
from pylsp_baseline import Pylsp  # noqa: E402
from yardstick import PlainBridge  # noqa: E402

MODULES = {"shapes": "class Circle:\n    def area(self) -> float:\n        return 1.0\n",
           "utils": "def greet(name: str, count=1) -> str:\n    \"\"\"Say hello.\"\"\"\n    return name\n"}
LOCAL_CLASS = suite_hover.LOCAL_CLASS + "acct."


def completion_gist(answer):
    return answer["error"], [(i["label"], i["kind"], i.get("detail")) for i in answer["completions"]]


# (method, args, what of the answer both must agree on). Docstrings are left out of the hover
# gist: jedi's caches can change their text between two calls.
REQUESTS = [
    ("get_completions", ("import json\njson.lo", 2, 7), completion_gist),
    ("get_completions", (LOCAL_CLASS, 10, 5), completion_gist),
    ("get_completions", ("import shapes\nshapes.", 2, 7, None, MODULES), completion_gist),
    ("get_completions", ("import numpy as n", 1, 17), completion_gist),
    ("get_completions", ("x", 0, 1), completion_gist),
    ("get_hover", ("import os\nos.path.join('a', 'b')\n", 2, 10), suite_hover.gist),
    ("get_hover", ("for i in range(3):\n    pass\n", 1, 1), suite_hover.gist),
    ("get_signature_help", ("from utils import greet\ngreet('a', ", 2, 11, "main", MODULES), suite_hover.gist),
    ("get_diagnostics", (suite_diagnostics.generate(60),), lambda answer: answer),
    ("get_diagnostics", ("def f(:\n",), lambda answer: answer),
]


@pytest.fixture(scope="module")
def plain(bridge):
    return PlainBridge(bridge)


def calls_of(logs, call):
    logs.clear()
    answer = call()
    return answer, logs.calls


@pytest.mark.parametrize("method, args, gist", REQUESTS, ids=[f"{m}-{i}" for i, (m, _, _) in enumerate(REQUESTS)])
def test_yardstick_answers_and_logs_as_the_module_does(bridge, plain, logs, method, args, gist):
    expected, expected_calls = calls_of(logs, lambda: getattr(bridge, method)(*args))
    answer, yard_calls = calls_of(logs, lambda: getattr(plain, method)(*args))
    assert gist(answer) == gist(expected)
    assert expected_calls and yard_calls == expected_calls


def test_yardstick_syncs_as_the_module_does(bridge, plain, logs):
    folder = bridge._temp_dir.name
    _, expected_calls = calls_of(logs, lambda: bridge.sync_modules({"a": "x = 1"}, {"a": "x = 2", "b": "y"}))
    expected_files = {name: open(os.path.join(folder, name + ".py")).read() for name in ("a", "b")}
    _, yard_calls = calls_of(logs, lambda: plain.sync_modules({"a": "x = 1"}, {"a": "x = 2", "b": "y"}))
    assert yard_calls == expected_calls
    assert {name: open(os.path.join(folder, name + ".py")).read() for name in ("a", "b")} == expected_files


@pytest.mark.parametrize("path", ["utils", "", "utils.py", "a/b", "<editor>", "class", "1abc"])
def test_yardstick_module_name_test(bridge, plain, path):
    assert plain._is_module_name(path) == bridge._is_module_name(path)


@pytest.mark.parametrize("case", suite_completion.CASES, ids=[c[0] for c in suite_completion.CASES])
def test_floor_completes_the_items_the_module_returns(bridge, case):
    """The floor must not do less jedi work than the module: the same items, with details."""
    _, code, line, column, modules = case
    answer = bridge.get_completions(code, line, column, modules=modules)
    items = floor.completions(bridge, code, line, column, modules=modules)
    assert [i["label"] for i in items] == [i["label"] for i in answer["completions"]]
    assert [i.get("detail") for i in items] == [i.get("detail") for i in answer["completions"]]


def test_floor_hover_and_signature_read_what_the_answer_shows(bridge):
    code, line, column = "import os\nos.path.join('a', ", 2, 18
    label = bridge.get_signature_help(code, line, column)["signatures"][0]["label"]
    assert floor.signature_help(bridge, code, line, column)["label"] == label
    assert floor.hover(bridge, "compact", "import json\njson\n", 2, 2) == ["json"]
    assert floor.hover(bridge, "detailed", "for i in range(3):\n    pass\n", 1, 1)[0][:2] == ("for", "keyword for")


def test_pylsp_plugins_answer_in_process(bridge):
    lsp = Pylsp(bridge._temp_dir.name)
    labels = [item["label"] for item in lsp.completions("import json\njson.lo", 2, 7)]
    assert {"load", "loads"} <= {label.split("(")[0] for label in labels}
    assert "join" in lsp.hover("import os\nos.path.join('a', 'b')\n", 2, 10)["contents"]["value"]
    assert lsp.signature_help("import os\nos.path.join('a', ", 2, 18)["signatures"]
    assert [d["message"] for d in lsp.lint("import os\n")] == ["'os' imported but unused"]


def test_rounds_run_every_variant_once_per_round_in_varying_order():
    calls = []
    series = measure.rounds({name: (lambda n=name: calls.append(n)) for name in "abc"}, repeats=6, warmup=2,
                            min_seconds=0)
    assert sorted(calls) == sorted("abc" * 8)
    rounds = [calls[i:i + 3] for i in range(0, len(calls), 3)]
    assert all(sorted(r) == ["a", "b", "c"] for r in rounds)
    assert len({r[0] for r in rounds}) > 1  # no variant is always first
    assert {name: len(samples) for name, samples in series.items()} == {"a": 6, "b": 6, "c": 6}
    assert {name: len(spent) for name, spent in series.gc.items()} == {"a": 6, "b": 6, "c": 6}


def test_cheap_cases_get_up_to_four_times_the_rounds():
    series = measure.rounds({"a": lambda: None, "b": lambda: None}, repeats=3, warmup=1, min_seconds=60)
    assert len(series["a"]) == len(series["b"]) == 12


def test_paired_ratio_is_the_median_of_per_round_ratios():
    # A slow phase in round 3 doubles both; the paired ratio does not see it.
    series = {"bridge": [1.1, 1.1, 2.2, 1.1, 1.1], "floor": [1.0, 1.0, 2.0, 1.0, 1.0]}
    row = measure.result("s", "c", series)
    assert row["ratios"]["bridge"]["paired"] == pytest.approx(1.1)
    assert row["variants"]["floor"]["median_s"] == 1.0
    assert row["bridge_median_s"] == 1.1 and row["direct_median_s"] == 1.0


@pytest.mark.parametrize("timing, instructions, expected", [
    ({"paired": 1.01, "q1": 0.99, "q3": 1.015}, None, "met"),
    ({"paired": 1.10, "q1": 1.05, "q3": 1.12}, None, "missed"),
    ({"paired": 1.01, "q1": 0.99, "q3": 1.05}, None, "met (within noise)"),
    ({"paired": 1.03, "q1": 0.99, "q3": 1.05}, None, "missed (within noise)"),
    ({"paired": 1.10, "q1": 1.05, "q3": 1.12}, 1.004, "met"),  # the counts decide
    ({"paired": 0.99, "q1": 0.98, "q3": 1.00}, 1.03, "missed"),
])
def test_verdict(timing, instructions, expected):
    assert report.verdict(1.02, timing, instructions) == expected


def test_callgrind_rows_per_call_and_boundary_loop_taken_off():
    counts = {
        "boundary|empty loop|loop|1": 200_000,
        "boundary|call|bridge|1": 200_000 + 2_000 * 900,
        "boundary|call|python|1": 200_000 + 2_000 * 1_200,
        "completion|json.lo|bridge|3": 3_030,
        "completion|json.lo|floor|3": 3_000,
    }
    rows = {row["case"]: row for row in suite_callgrind.rows_from(counts, loop_calls=2_000)}
    assert rows["boundary: call"]["instructions"] == {"bridge": 900, "python": 1_200}
    assert rows["boundary: call"]["ratios"]["bridge"]["paired"] == pytest.approx(0.75)
    assert rows["completion: json.lo"]["own_per_call"] == pytest.approx(10)
    assert rows["completion: json.lo"]["ratios"]["bridge"]["paired"] == pytest.approx(1.01)


def test_callgrind_dumps_are_read_by_label(tmp_path):
    (tmp_path / "cg.out.1").write_text("desc: Trigger: Client Request: hover|x|bridge|3\nsummary: 90\ntotals: 90\n")
    (tmp_path / "cg.out").write_text("desc: Trigger: Program termination\ntotals: 5\n")
    assert suite_callgrind.read_dumps(str(tmp_path)) == {"hover|x|bridge|3": 90}


def test_report_names_goals_and_failures():
    def timing_row(suite, case, bridge, floor, size=None):
        series = measure.Series(["bridge", "floor"])
        series["bridge"][:], series["floor"][:] = bridge, floor
        series.gc["bridge"][:], series.gc["floor"][:] = [0.0] * len(bridge), [0.0] * len(floor)
        return measure.result(suite, case, series, goal="g", size=size)

    results = {
        "meta": {"versions": {"python": "3.9", "jedi": "j", "parso": "p", "pyflakes": "f", "pylsp": "l"},
                 "started": "now", "load_before": (1.0, 1, 1), "load_after": (2.0, 2, 2), "cpus": 2, "quick": True,
                 "durations_s": {"diagnostics": 1.0}},
        "rows": [timing_row("diagnostics", "1k lines", [1.0, 1.0, 1.0], [1.0, 1.0, 1.0], 1_000),
                 timing_row("diagnostics", "10k lines", [10.0, 10.0, 10.0], [9.0, 9.0, 9.0], 10_000)],
        "skipped": {"hover": "no hover"}, "failed": {"startup": "RuntimeError: boom"},
    }
    text = report.render(results)
    assert "| own overhead <= 5% of the floor | diagnostics: 10k lines | 1.111 (1.111-1.111)" in text
    assert "| time linear in size | diagnostics: 1k lines to 10k lines |" in text
    assert "Skipped: **hover**: no hover" in text and "Failed: **startup**: `RuntimeError: boom`" in text


def test_plots_are_drawn_from_results(tmp_path):
    pytest.importorskip("matplotlib")
    import json
    import plots

    def row(suite, case, size, bridge, floor_s):
        series = measure.Series(["bridge", "floor", "pylsp"])
        series["bridge"][:], series["floor"][:], series["pylsp"][:] = [bridge] * 3, [floor_s] * 3, [2 * floor_s] * 3
        series.gc.update({name: [0.0] * 3 for name in series})
        return measure.result(suite, case, series, goal="g", size=size)

    rows = [row("diagnostics", "1k lines", 1_000, 0.1, 0.1), row("diagnostics", "10k lines", 10_000, 1.1, 1.0),
            row("completion", "json.lo", None, 0.003, 0.003)]
    path = tmp_path / "results.json"
    path.write_text(json.dumps({"rows": rows}))
    plots.main(str(path))
    assert {"overhead.png", "pylsp.png", "diagnostics_size.png"} <= set(os.listdir(tmp_path))


def test_a_goal_on_the_whole_time_is_judged_on_it():
    # The bridge pauses the collector; the floor spends half its time in it.
    series = measure.Series(["bridge", "floor"])
    series["bridge"][:], series["floor"][:] = [0.6] * 3, [1.0] * 3
    series.gc["bridge"][:], series.gc["floor"][:] = [0.0] * 3, [0.5] * 3
    rows = [measure.result("diagnostics", "10k lines", series, goal="paused: <= 0.7", limit=0.7, whole_time=True,
                            size=10_000),
            measure.result("completion", "os.", series, goal="g", vs_pylsp={"paired": 1.1, "q1": 1.0, "q3": 1.2})]
    table = report.goals_table({"rows": rows})
    assert "| paused: <= 0.7 | diagnostics: 10k lines | 0.600 (0.600-0.600) | 1.200 (1.200-1.200) | - | met |" in table
    assert "| own overhead <= 2% of the floor | completion: os. | 0.600 (0.600-0.600) | 1.200 (1.200-1.200) | - | " \
           "missed |" in table
    assert "completion: os., bridge / pylsp | 1.100 (1.000-1.200) | - | - | missed (within noise) |" in table


@pytest.mark.parametrize("peers", [True, False], ids=["with pyright and numpy", "bridge and floor only"])
def test_typing_real_figures_table_and_plot(tmp_path, peers):
    """Per class and over all sites: nearest-rank p90 of the per-site medians; a tool that did not
    run shows '-' in the table and is left out of the plot."""
    import suite_typing_real
    from typing_sites import LIBRARY_VALUE, SAME_FILE

    def site(kind, ms):
        peer = {"pyright": ms / 2, "pyright_checked": 2.0} if peers else {}
        return {"file": "f.py", "line": 1, "column": 5, "class": kind, "typed": "self.", "items": 3, "ratio": 0.8,
                "ms": {"bridge": ms, "floor": 1.25 * ms, **peer}}

    sites = [site(SAME_FILE, ms) for ms in (10, 20, 30, 400)] + [site(LIBRARY_VALUE, 100)]
    classes = suite_typing_real.by_class(sites)
    assert list(classes) == [SAME_FILE, LIBRARY_VALUE, "all sites"]
    assert classes[SAME_FILE]["bridge"] == {"p50": 25, "p90": 400}
    assert classes["all sites"]["floor"] == {"p50": 37.5, "p90": 500}
    assert ("pyright" in classes["all sites"]) is peers
    warm = {case: {"bridge": 5.0, "floor": 6.0, "ratio": 0.8, "items": 2, "served_after": 7,
                   **({"pyright": 1.0} if peers else {})}
            for case, *_ in suite_typing_real.NUMPY_CASES}
    results = {"meta": {"python": "3.11", "jedi": "j", "cpus": 2, "load_before": [1, 1, 1], "load_after": [1, 1, 1],
                        "repeats": 3, **({"pyright": "1.1"} if peers else {"pyright_note": "column skipped"})},
               "draws": [{"seed": 1, "sites": sites, "classes": classes}],
               **({"numpy": {"version": "1.24", "warm": warm, "new_process": {"np.": {"bridge": 9.0, "floor": 8.0}}}}
                  if peers else {"numpy_note": "skipped"})}
    text = suite_typing_real.markdown(results)
    assert f"| {SAME_FILE} | 4 | 25 / 400 | 31 / 500 | " + ("12 / 200 | 2 / 2 |" if peers else "- / - | - / - |") in text
    assert ("| `np.` | 2 | 7 | 5.0 | 6.0 | 1.0 | - | 9 | 8 |" in text) is peers
    pytest.importorskip("matplotlib")
    import plots
    plots.typing_real(results, str(tmp_path))
    assert os.listdir(tmp_path) == ["typing_real.png"]
