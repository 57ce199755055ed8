"""Where jedi's time goes at the sites of suite_typing_real (every site of every draw in
DIR/typing_real.json, and its `np.` and `arr.`), and what the item cache's possible levers would
take off the p50 and p90.

Per site, warm (after one unmeasured request on it), in one process:
1. the module's and the floor's (floor.completions: plain jedi with every item's documentation)
   milliseconds, interleaved, and what jedi infers for the name before the dot (the base);
2. for the TOP heaviest by the module's time: cProfile's cumulative share of the functions below,
   for the floor and for the module;
3. the floor's time split by cause, each instant charged to the first of these that is running (so
   parameter inference from callers inside an item's documentation counts as the former):

  dynamic params     jedi's dynamic_param_lookup: a parameter inferred from the calls of its function
  self attributes    SelfAttributeFilter.values/get: every `x.name = ...` in the class, each `x`
                     looked up to see whether it is the method's first parameter
  base inference     infer_call_of_leaf in _complete_trailer: what the name before the dot is
  names: library     a class (or compiled) filter's values() for a class of a library file
  names: own file    the same for a class of the request's own text
  names: rest        the rest of _complete_trailer_for_values (merging, stub-to-source conversion)
  items: library     each Completion's type, get_signatures() and docstring(), name from a library file
  items: own file    the same, name from the request's own text
  parse              jedi.Script(): the parse (parso's diff parser) and the module's context
  complete, rest     the rest of complete(): the parser stack, filtering and sorting

The causes are wrappers put on jedi's functions, so they come last (the module's own-code checks
would turn its cache off under them) and only the floor is measured with them; their totals are
scaled to the floor's unwrapped time.

    python bench/profile_sites.py [--top 10] [--runs 3] [--out DIR] [typing_real.json ...]
    python bench/profile_sites.py --report [--out DIR]   (the tables again from DIR/profile_sites.json)

Writes DIR/profile_sites.json and DIR/profile_sites.md.
"""
import argparse
import collections
import cProfile
import functools
import json
import os
import pstats
import statistics
import sys
import time

import common

import floor
import measure
import suite_typing_real

OWN = "<editor>"  # the path floor.script gives the request's text
CAUSES = ("dynamic params", "self attributes", "base inference", "names: library", "names: own file",
          "names: rest", "items: library", "items: own file", "parse", "complete, rest")
OUTSIDE = "outside jedi"
LITERALS = {"SequenceLiteralValue", "DictLiteralValue", "ExactValue", "ListComprehension", "SetComprehension",
            "DictComprehension", "GeneratorComprehension", "FakeList", "FakeTuple", "FakeDict", "MergedArray"}
# The literals whose lists the module keeps already: a list, tuple, set or dict display.
KEPT_LITERALS = {"SequenceLiteralValue", "DictLiteralValue"}
CACHED_NAME_MODULES = ("numpy", "tensorflow", "matplotlib", "pandas")  # jedi's completion_cache modules


# -- the causes

class CauseClock:
    """Charges the time between two switches to the first cause running."""

    def __init__(self):
        self.running = collections.Counter()
        self.spent = collections.defaultdict(float)
        self.within = collections.defaultdict(float)  # (cause, the next cause running under it): time
        self.last = time.perf_counter()

    def current(self):
        running = [c for c in CAUSES if self.running[c]]
        return (running[0] if running else OUTSIDE), (running[1] if len(running) > 1 else OUTSIDE)

    def switch(self, cause, delta):
        now = time.perf_counter()
        first, within = self.current()
        self.spent[first] += now - self.last
        self.within[first, within] += now - self.last
        self.last = now
        self.running[cause] += delta

    def reset(self):
        self.spent.clear()
        self.within.clear()
        self.last = time.perf_counter()


CLOCK = CauseClock()


def is_own_file(context):
    path = context.get_root_context().py__file__()
    return path is None or os.path.basename(str(path)) == OWN


def charged(cause, fn):
    """fn charged to `cause`, or to what cause(first argument) names when it is a function."""
    @functools.wraps(fn)
    def wrapper(*args, **kwargs):
        name = cause(args[0]) if callable(cause) else cause
        CLOCK.switch(name, 1)
        try:
            return fn(*args, **kwargs)
        finally:
            CLOCK.switch(name, -1)
    return wrapper


def wrap(owner, name, cause):
    """Wraps owner's `name`, its own or inherited (then the wrapper is owner's alone)."""
    original = next(k.__dict__[name] for k in owner.__mro__ if name in k.__dict__)
    if isinstance(original, property):
        setattr(owner, name, property(charged(cause, original.fget), original.fset, original.fdel, original.__doc__))
    else:
        setattr(owner, name, charged(cause, original))


def names_cause(filter_):
    try:
        return "names: own file" if is_own_file(filter_.parent_context) else "names: library"
    except Exception:
        return "names: library"


def items_cause(completion):
    try:
        return "items: own file" if is_own_file(completion._name.parent_context) else "items: library"
    except Exception:
        return "items: library"


def install_causes():
    import jedi
    from jedi.api import classes, completion
    from jedi.inference import dynamic_params
    from jedi.inference.compiled.value import CompiledValueFilter
    from jedi.inference.value import instance, klass

    # Looked up at each call (names.py imports it in the function), so the module's name is the one used.
    dynamic_params.dynamic_param_lookup = charged("dynamic params", dynamic_params.dynamic_param_lookup)
    wrap(instance.SelfAttributeFilter, "values", "self attributes")
    wrap(instance.SelfAttributeFilter, "get", "self attributes")
    completion.infer_call_of_leaf = charged("base inference", completion.infer_call_of_leaf)
    wrap(klass.ClassFilter, "values", names_cause)
    wrap(CompiledValueFilter, "values", "names: library")
    wrap(completion.Completion, "_complete_trailer_for_values", "names: rest")
    for name in ("docstring", "type"):
        wrap(classes.Completion, name, items_cause)
    wrap(classes.BaseName, "get_signatures", items_cause)
    # A signature's text resolves *args and **kwargs through the calls they are passed on to.
    wrap(classes.BaseSignature, "to_string", items_cause)
    wrap(jedi.Script, "__init__", "parse")
    wrap(jedi.Script, "complete", "complete, rest")


def causes_of(owner, site, runs):
    """{cause: median ms over runs}, the median total ms of floor.completions, and the dynamic
    params' ms by the cause they ran under (of the last run)."""
    code, line, column = site["code"], site["line"], site["column"]
    floor.completions(owner, code, line, column)
    per_run, totals = collections.defaultdict(list), []
    for _ in range(runs):
        CLOCK.reset()
        start = time.perf_counter()
        floor.completions(owner, code, line, column)
        CLOCK.switch(OUTSIDE, 0)
        totals.append((time.perf_counter() - start) * 1e3)
        for cause in CAUSES + (OUTSIDE,):
            per_run[cause].append(CLOCK.spent.get(cause, 0.0) * 1e3)
    under = {within: ms * 1e3 for (first, within), ms in CLOCK.within.items() if first == "dynamic params"}
    return {cause: statistics.median(v) for cause, v in per_run.items()}, statistics.median(totals), under


# -- cProfile

def own_code(fn, name):
    """The code of the function named `name` inside fn's decorators (jedi's keep no __wrapped__:
    the closures hold it). A decorator's wrapper code is shared by every function it decorates."""
    seen = [fn]
    while seen:
        f = seen.pop()
        if getattr(f, "__code__", None) is not None and f.__code__.co_name == name:
            return f.__code__
        seen += [c.cell_contents for c in (getattr(f, "__closure__", None) or ()) if callable(c.cell_contents)]
    raise LookupError(name)


def profiled():
    """(label, code object) of the functions cProfile reports per cause (Completion.docstring, not
    the BaseName.docstring it calls)."""
    import jedi
    from jedi.api import classes, completion
    from jedi.inference import dynamic_params, helpers
    from jedi.inference.value import instance
    return [("dynamic params", own_code(dynamic_params.dynamic_param_lookup, "dynamic_param_lookup")),
            ("self attributes", instance.SelfAttributeFilter._filter_self_names.__code__),
            ("base inference", helpers.infer_call_of_leaf.__code__),
            ("member names", completion.Completion._complete_trailer_for_values.__code__),
            ("items: docstring", classes.Completion.docstring.__code__),
            ("items: get_signatures", classes.BaseName.get_signatures.__code__),
            ("parse", jedi.Script.__init__.__code__),
            ("complete", jedi.Script.complete.__code__)]


def cumulative(fn, runs):
    """{label: share of the request's time} of profiled(), from cProfile over `runs` calls of fn
    (after one unmeasured). cProfile slows Python calls several times over, so its shares, not
    its milliseconds, are what it tells; a generator's figure sums its resumptions."""
    fn()
    profile = cProfile.Profile()
    start = time.perf_counter()
    profile.enable()
    for _ in range(runs):
        fn()
    profile.disable()
    total = time.perf_counter() - start
    stats = pstats.Stats(profile).stats
    shares = {}
    for label, code in profiled():
        found = stats.get((code.co_filename, code.co_firstlineno, code.co_name))
        shares[label] = found[3] / total if found else 0.0
    return shares


# -- the base, and which lever would serve the site

def describable(value, depth=0):
    """Whether the item cache's member lists could describe the value (member_lists.cpp's
    Describer, as far as a benchmark needs it: library files, known kinds, no Any or TypeVar)."""
    from jedi.inference.gradual.base import GenericClass, _GenericInstanceWrapper
    from jedi.inference.gradual.stub_value import StubModuleValue
    from jedi.inference.value.instance import TreeInstance
    from jedi.inference.value.klass import ClassValue
    from jedi.inference.value.module import ModuleValue

    def library(context):
        path = context.get_root_context().py__file__()
        return path is not None and os.path.basename(str(path)) != OWN

    if depth > 4:
        return False
    kind = type(value)
    if kind in (ModuleValue, StubModuleValue):
        return library(value) and not (len(value.string_names) == 1 and value.string_names[0] in CACHED_NAME_MODULES)
    if kind is TreeInstance:
        return describable(value.class_value, depth + 1) and describable(value.get_annotated_class_object(), depth + 1)
    if kind is _GenericInstanceWrapper:
        return describable(value._wrapped_value, depth + 1)
    if kind is ClassValue:
        return library(value)
    if kind is GenericClass:
        return describable(value._class_value, depth + 1) and all(
            describable(v, depth + 1) for values in value.get_generics() for v in values)
    return False


def base_of(owner, site):
    """What jedi infers before the dot, and the lever that would serve the site from kept lists:
    kept (served already: one library value, or a list, tuple, set or dict display), literal (a
    str or number, a comprehension), union (of values each keepable or literal), user class (one
    instance or class of the request's own text), or none."""
    from jedi.api import helpers
    from jedi.inference.helpers import infer_call_of_leaf
    from jedi.inference.value.klass import ClassValue

    code, line, column = site["code"], site["line"], site["column"]
    script = floor.script(owner, code, None, None)
    module_context = script._get_module_context()
    node = module_context.tree_node
    like = helpers.get_on_completion_name(node, script._code_lines, (line, column))
    dot = node.get_leaf_for_position((line, column - len(like)))
    if dot.type == "endmarker":
        dot = node.get_leaf_for_position((line, column), include_prefixes=True).get_previous_leaf()
    if dot is None or dot.value != ".":
        return {"values": [], "lever": "none"}
    previous = dot.get_previous_leaf()
    values = list(infer_call_of_leaf(module_context.create_context(previous), previous))
    kinds = [type(v).__name__ for v in values]

    def literal(v):
        return type(v).__name__ in LITERALS

    def user_class(v):
        target = getattr(v, "class_value", v)  # an instance (self's is jedi's AnonymousInstance) or a class
        return isinstance(target, ClassValue) and is_own_file(target)

    if len(values) == 1 and (describable(values[0]) or kinds[0] in KEPT_LITERALS):
        lever = "kept"
    elif values and all(literal(v) for v in values):  # a str, a number, a comprehension, or several
        lever = "literal"
    elif len(values) > 1 and all(literal(v) or describable(v) for v in values):
        lever = "union"
    elif len(values) == 1 and user_class(values[0]):
        lever = "user class"
    else:
        lever = "none"
    return {"values": kinds, "lever": lever}


def reads_of(owner, site):
    """Where in the request's own text jedi inferred anything for the whole answer (every item's
    documentation too), by the scopes its inference counted (`inferred_element_counts`, one entry
    per module, class or function it inferred in): "class" (the class around the site),
    "module level", "elsewhere" (other functions and classes); and "dynamic search" when it looked
    for a parameter's values in the calls of its function. A user class's list and items could be
    kept across edits elsewhere, exactly, only where jedi read nothing elsewhere and searched no
    calls; the keys would be the class's text and the module-level statements it inferred."""
    from jedi.inference import dynamic_params

    code, line, column = site["code"], site["line"], site["column"]
    searches = []
    real = dynamic_params._search_function_arguments

    def searching(*args, **kwargs):
        searches.append(1)
        return real(*args, **kwargs)

    dynamic_params._search_function_arguments = searching
    try:
        script = floor.script(owner, code, None, None)
        for c in script.complete(line=line, column=column):
            c.docstring()
            if c.type == "function":
                c.get_signatures()
    finally:
        dynamic_params._search_function_arguments = real
    module = script._module_node
    at = module.get_leaf_for_position((line, max(column - 1, 0)), include_prefixes=True)
    around = at.search_ancestor("classdef") if at is not None else None
    found = set()
    for node in script._inference_state.inferred_element_counts:
        if node.get_root_node() is not module:
            continue
        if node is module:
            found.add("module level")
        elif around is not None and around.start_pos <= node.start_pos and node.end_pos <= around.end_pos:
            found.add("class")
        else:
            found.add("elsewhere")
    if searches:
        found.add("dynamic search")
    return sorted(found)


def within_class(row):
    return not {"elsewhere", "dynamic search"} & set(row.get("reads", ["elsewhere"]))


# -- the estimates

def estimates(rows):
    """Per lever, the module's estimated ms at each site it applies to, from the site's causes
    scaled to the module's own measured time; then p50 and p90 over all sites with it.

    served      (literal, union): what remains is the Script, the base's inference, the parser
                stack and filtering, and the serving (the kept sites' own median per item);
    user class  the library bases' names come from kept lists: the module no longer pays
                "names: library" (it already serves their items);
    keep across edits (user class): the list itself is kept; what remains is as for served.
    """
    # What serving a kept list costs above the work every request still does: a + b per item,
    # fitted over the sites this run served from kept lists (a kept-looking site the module did not
    # serve, under half the floor's time, is left out: its list was not kept).
    kept = [r for r in rows if r["base"]["lever"] == "kept" and r["bridge_ms"] < 0.5 * r["floor_ms"]]
    fixed, per_item = fit([(r["items"], r["bridge_ms"] - remaining(r, 0.0, 0.0)) for r in kept])

    def served(r):
        return min(r["bridge_ms"], remaining(r, fixed, per_item))

    def library_bases(r):
        return max(remaining(r, fixed, per_item), r["bridge_ms"] - scaled(r, "names: library"))

    def when(kinds, fn):
        return lambda r: fn(r) if r["base"]["lever"] in kinds else None

    levers = {
        "literal served as its builtin class's list": when({"literal"}, served),
        "union served as a merge of kept lists": when({"union"}, served),
        "user's class from kept library-base lists + own names": when({"user class"}, library_bases),
        "user's class list kept across edits elsewhere (upper bound)": when({"user class"}, served),
        "the same, where jedi read only the class and module-level statements": when(
            {"user class"}, lambda r: served(r) if within_class(r) else None),
        "literal + union + library-base lists": lambda r: (
            served(r) if r["base"]["lever"] in ("literal", "union") else when({"user class"}, library_bases)(r)),
        "literal + union + kept across edits (upper bound)": when({"literal", "union", "user class"}, served),
    }
    out = {"serve_ms": {"fixed": fixed, "per_item": per_item}}
    for draw in sorted({seed for r in rows for seed in r["site"]["seeds"]}):
        mine = [r for r in rows if draw in r["site"]["seeds"]]
        now = [r["bridge_ms"] for r in mine]
        table = {"now": figures(now)}
        for name, lever in levers.items():
            after = [lever(r) if lever(r) is not None else r["bridge_ms"] for r in mine]
            table[name] = figures(after) | {"sites": sum(lever(r) is not None for r in mine)}
        out[f"seed {draw}"] = table
    return out


def scaled(row, cause):
    """A cause's ms at the module's measured time (the floor's causes scaled to its unwrapped time)."""
    return row["causes"][cause] * row["floor_ms"] / row["floor_wrapped_ms"] if row["floor_wrapped_ms"] else 0.0


def remaining(row, fixed, per_item):
    """What a request served from a kept list still costs: the Script, the base's inference, the
    parser stack, and the serving."""
    return sum(scaled(row, c) for c in ("parse", "base inference", "complete, rest")) + fixed + per_item * row["items"]


def fit(points):
    """(a, b) of y = a + b x, both at least 0: b the median of the pairwise slopes (Theil-Sen: one
    stalled sample on a busy machine does not pull it), a the median of y - b x; (5, 0.05)
    without two x values."""
    slopes = [(y2 - y1) / (x2 - x1) for i, (x1, y1) in enumerate(points) for x2, y2 in points[i + 1:] if x2 != x1]
    if not slopes:
        return 5.0, 0.05
    b = max(statistics.median(slopes), 0.0)
    return max(statistics.median(y - b * x for x, y in points), 0.0), b


def figures(ms):
    return {"p50": suite_typing_real.percentile(ms, 50), "p90": suite_typing_real.percentile(ms, 90)}


# -- the run

def sites_of(paths):
    """Every site once, with the seeds of the draws that hold it."""
    seen, sites = {}, []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            results = json.load(f)
        for draw in results["draws"]:
            for s in draw["sites"]:
                key = (s["file"], s["line"], s["column"])
                if key not in seen:
                    seen[key] = dict(s, seeds=[])
                    sites.append(seen[key])
                seen[key]["seeds"].append(draw["seed"])
        warm = results.get("numpy", {}).get("warm", {})
        for case, code, line, column in suite_typing_real.NUMPY_CASES:
            if case in ("np.", "arr.") and case in warm and ("numpy", case) not in seen:
                seen["numpy", case] = {"file": "numpy", "line": line, "column": column, "class": "numpy", "typed": case,
                                       "code": code, "seeds": [], "ms": {"bridge": warm[case]["bridge"]}}
                sites.append(seen["numpy", case])
    return sites


def measured(bridge, site, runs):
    code, line, column = site["code"], site["line"], site["column"]
    series = measure.rounds({"bridge": lambda: bridge.get_completions(code, line, column),
                             "floor": lambda: floor.completions(bridge, code, line, column)}, runs, warmup=1,
                            min_seconds=0)
    items = len(bridge.get_completions(code, line, column)["completions"])
    return statistics.median(series["bridge"]) * 1e3, statistics.median(series["floor"]) * 1e3, items


def markdown(rows, levers, top):
    head = ["site", "class", "base", "lever", "module", "floor"] + list(CAUSES) + [OUTSIDE, "dynamic params ran under"]
    out = ["## Causes at the heaviest sites (floor ms by cause, scaled to its unwrapped time)", "",
           "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    numpy = [r for r in rows if r["site"]["class"] == "numpy"]
    for r in sorted((r for r in rows if r not in numpy), key=lambda r: -r["bridge_ms"])[:top] + numpy:
        s = r["site"]
        cells = [f"`{s['file']}:{s['line']}` `{s['typed']}`", s["class"], ", ".join(sorted(set(r["base"]["values"]))) or "-",
                 r["base"]["lever"], f"{r['bridge_ms']:.0f}", f"{r['floor_ms']:.0f}"]
        cells += [f"{scaled(r, c):.0f}" for c in CAUSES + (OUTSIDE,)]
        under = sorted(r.get("dynamic_under", {}).items(), key=lambda kv: -kv[1])
        cells.append(", ".join(f"{k} {v * r['floor_ms'] / r['floor_wrapped_ms']:.0f}" for k, v in under if v >= 1) or "-")
        out.append("| " + " | ".join(cells) + " |")
    labels = [label for label, _ in profiled()]
    out += ["", "## cProfile, cumulative share of the request's time, % (floor / module)", "",
            "| site | " + " | ".join(labels) + " |", "|---|" + "---|" * len(labels)]
    for r in rows:
        if "floor_cum" in r:
            cells = [f"{r['floor_cum'][label] * 100:.0f} / {r['bridge_cum'][label] * 100:.0f}" for label in labels]
            out.append(f"| `{r['site']['typed']}` | " + " | ".join(cells) + " |")
    out += ["", "## Levers: the module's estimated p50 / p90 over all sites, ms", "",
            f"(serving a kept list, fitted over the kept sites of this run: {levers['serve_ms']['fixed']:.1f} ms + "
            f"{levers['serve_ms']['per_item']:.3f} ms per item)", ""]
    for seed, table in levers.items():
        if seed == "serve_ms":
            continue
        out += [f"{seed}:", "", "| lever | sites | p50 | p90 |", "|---|---|---|---|"]
        for name, f in table.items():
            out.append(f"| {name} | {f.get('sites', '-')} | {f['p50']:.0f} | {f['p90']:.0f} |")
        out.append("")
    totals = collections.Counter(r["base"]["lever"] for r in rows if r["site"]["class"] != "numpy")
    out += ["Sites per lever (all draws): " + ", ".join(f"{k} {v}" for k, v in totals.most_common()), ""]
    groups = collections.defaultdict(list)  # where jedi read -> the module's ms at each such site
    for r in rows:
        if r["base"]["lever"] == "user class" and "reads" in r:
            groups[" + ".join(r["reads"]) or "nothing"].append(r["bridge_ms"])
    out += ["User-class sites by where jedi read in the request's own text (sites, module ms): "
            + ", ".join(f"{k} {len(ms)} ({sum(ms):.0f})" for k, ms in sorted(groups.items(), key=lambda kv: -len(kv[1]))), ""]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--top", type=int, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--out", default=os.path.join(common.ROOT, "build", "bench"))
    parser.add_argument("--report", action="store_true", help="only the tables, from DIR/profile_sites.json")
    parser.add_argument("results", nargs="*", help="typing_real.json files (default: DIR/typing_real.json)")
    args = parser.parse_args()
    if args.report:
        with open(os.path.join(args.out, "profile_sites.json"), encoding="utf-8") as f:
            rows = json.load(f)["rows"]
        return write(args.out, rows, args.top)
    # Under cProfile a numpy request runs several times slower: the default budget would stop it.
    os.environ.setdefault("LSP_BRIDGE_REQUEST_BUDGET", "300")
    sites = sites_of(args.results or [os.path.join(args.out, "typing_real.json")])
    rows = []
    with common.ready_bridge() as bridge:
        for i, site in enumerate(sites):
            bridge_ms, floor_ms, items = measured(bridge, site, args.runs)
            rows.append({"site": site, "bridge_ms": bridge_ms, "floor_ms": floor_ms,
                         "items": items, "base": base_of(bridge, site), "reads": reads_of(bridge, site)})
            print(f"  [{i + 1}/{len(sites)}] {bridge_ms:7.1f} ms (floor {floor_ms:7.1f})  {rows[-1]['base']['lever']:10} "
                  f"{site['file']}:{site['line']} {site['typed']}", flush=True)
        # cProfile before the wrappers, on jedi's own code: the module's cache serves only that.
        heaviest = sorted(rows, key=lambda r: -r["bridge_ms"])[:args.top]
        heaviest += [r for r in rows if r["site"]["class"] == "numpy" and r not in heaviest]
        for row in heaviest:
            code, line, column = row["site"]["code"], row["site"]["line"], row["site"]["column"]
            row["bridge_cum"] = cumulative(lambda: bridge.get_completions(code, line, column), args.runs)
            row["floor_cum"] = cumulative(lambda: floor.completions(bridge, code, line, column), args.runs)
        install_causes()
        for row in rows:
            row["causes"], row["floor_wrapped_ms"], row["dynamic_under"] = causes_of(bridge, row["site"], args.runs)
    for row in rows:
        row["site"] = {k: v for k, v in row["site"].items() if k != "code"}
    return write(args.out, rows, args.top)


def write(out, rows, top):
    levers = estimates([r for r in rows if r["site"]["class"] != "numpy"])
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "profile_sites.json"), "w", encoding="utf-8") as f:
        json.dump({"rows": rows, "levers": levers}, f, indent=1)
    text = markdown(rows, levers, top)
    with open(os.path.join(out, "profile_sites.md"), "w", encoding="utf-8") as f:
        f.write(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
