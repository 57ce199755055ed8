"""A wide differential of the completion item cache under change: real standard-library modules
copied into a library folder (tools/wide_library.py), completion asked at sites that reach them
(`mod.`, `mod.Class().`, `from mod import `, a user class deriving from a library class, and
`self.` or another name's dot (a local bound to a literal, a comprehension, a union) cut out of
a copied class, with its path or a user's), bare and with 1-3 characters of a
real member typed, in both orders; between requests, edits of the files those answers came from
(a decorator's wrapper, a base class's method, a re-exported or star-imported name, a module
added to a package), restarts whose new process reads the store, and waits that let the cache
store what the next requests read.

Two worker processes answer the same requests: one bridge with the cache (its store in its own
jedi cache directory), one without. Each request is asked of the uncached worker, then twice of
the cached one (the second may be served from what the first kept). A cached answer that
differs is asked again of the uncached worker, then of a new uncached process (which first sees
the unsaved texts the others hold); it is jedi's own variation when it equals one of those
answers, or equals them but for the order of lines in a documentation (jedi joins docstrings in
set order), and within the allowance for jedi's limits when each differing item equals that
item asked alone. Anything else is a fault, kept with the steps that led to it; `--replay` runs
those steps again and `--minimize` drops the ones it does not need.

Before the random rounds, a known case: `@deco def api(a, b)` in library module lib, deco's
wrapper in module helper; `from lib import `, `lib.`, the wrapper edited, then `lib.ap`.

    python tools/wide_changes.py [--seed N|random] [--rounds N] [--minutes M] [--modules a,b]
                                 [--out report.json]
    python tools/wide_changes.py --replay report.json --fault I [--minimize]
    python tools/wide_changes.py --replay steps.json [--modules a,b] [--hash-seed N] [--minimize]

LSP_BRIDGE_WIDE_SEED, LSP_BRIDGE_WIDE_STEPS and LSP_BRIDGE_WIDE_MINUTES give the defaults of
--seed, --rounds and --minutes (no round starts after that many minutes). Prints the figures;
exits 1 when a fault was found."""
import argparse
import collections
import json
import os
import random
import re
import sys
import tempfile
import time

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
sys.path[:0] = [TOOLS, os.path.join(ROOT, "tests")]

import wide_library  # noqa: E402
from wide_library import Analysis, Library, find, remove_tree, settle, wrapper_chain  # noqa: E402
from wide_worker import Worker  # noqa: E402

SANITY_FILES = {
    "lib.py": 'from helper import deco\n\n\n@deco\ndef api(a, b):\n    "Api."\n    return a\n',
    "helper.py": "def deco(f):\n    def wrapper(flag=True):\n        return f\n\n    return wrapper\n",
}
SANITY = [
    {"do": "ask", "site": "known: from lib", "code": "from lib import "},
    {"do": "ask", "site": "known: lib.", "code": "import lib\nlib."},
    {"do": "edit", "op": "params", "rel": "helper.py", "target": "deco.wrapper", "params": "verbose=False, more=1"},
    {"do": "ask", "site": "known: lib.ap", "code": "import lib\nlib.ap", "typed": "ap"},
    {"do": "restart"},
    {"do": "ask", "site": "known: lib.ap", "code": "import lib\nlib.ap", "typed": "ap"},
]
ROLES = ["decorator", "base", "reexport", "star", "package"]
# Sites cut out of a copied class: `self.`, and any other name before a dot (locals bound to
# literals, comprehensions, `*args`, unions of several assignments, parameters, modules).
SELF_ANCHOR = re.compile(r"\bself\.")
LOCAL_ANCHOR = re.compile(r"(?<![\w.'\"%])(?!self\.)[A-Za-z_]\w*\.(?=\w)")
AGAIN, NEW = "jedi's variation: asked again", "jedi's variation: a new process"
LIMIT, FAULT = "jedi limit allowance", "fault"


# --- comparing ------------------------------------------------------------------------------------


def comparable(pair):
    from support.item_answers import comparable as without_store_records
    answer, records = without_store_records(pair)
    return json.loads(json.dumps([answer, records]))


def accepted(got, candidates):
    """Equal to one candidate, or each item equal to that item of one candidate with the same
    labels but for the order of documentation lines, the rest and the log records equal."""
    from support.item_answers import same_but_set_order
    got = comparable(got)
    candidates = [comparable(c) for c in candidates]
    if got in candidates:
        return True
    answer, records = got
    items = answer.get("completions") or []
    labels = [i["label"] for i in items]
    rest = {k: v for k, v in answer.items() if k != "completions"}
    alike = [c for c in candidates if c[1] == records and {k: v for k, v in c[0].items() if k != "completions"} == rest
             and [i["label"] for i in c[0].get("completions") or []] == labels]
    return bool(alike) and all(any(same_but_set_order(item, c[0]["completions"][i]) for c in alike)
                               for i, item in enumerate(items))


def quiet_position(lines):
    """A position in a file's first comment or string, where completion costs little: a request
    that only leaves the file's text in jedi's parser cache."""
    row = next((i for i, line in enumerate(lines) if line.lstrip()[:1] in ("#", '"', "'")), 0)
    text = lines[row]
    return row + 1, len(text) if text.lstrip().startswith("#") else len(text) - len(text.lstrip()) + 1


class Request:
    """A request as asked: code, path, position, and where the typed characters begin."""

    def __init__(self, code, path=None, position=None, typed=""):
        self.code, self.path, self.position, self.typed = code, path, position, typed

    def alone(self, label):
        """The same request with `label` typed in full."""
        lines = self.code.split("\n")
        line, column = self.position or (len(lines), len(lines[-1]))
        text = lines[line - 1]
        start = column - len(self.typed)
        lines[line - 1] = text[:start] + label + text[column:]
        return Request("\n".join(lines), self.path, (line, start + len(label)) if self.position else None, label)


# --- a run ------------------------------------------------------------------------------------------


class Run:
    def __init__(self, modules, root, hash_seed, trace=lambda text: print(text, flush=True)):
        self.root, self.trace, self.hash_seed = root, trace, hash_seed
        self.hash_seeds = [hash_seed]  # every cached process's, the store may hold what any of them kept
        self.library = Library(root, modules, SANITY_FILES)
        self.user = os.path.join(root, "user")
        os.makedirs(self.user)
        self.caches = {k: os.path.join(root, f"jedi-{k}") for k in ("cached", "uncached")}
        settle()
        self.workers = {}
        self.start()
        self.unsaved = {}  # path -> the last text asked with it while the file is unchanged
        self.history, self.faults, self.stats = [], [], collections.Counter()
        self.timings, self.variations = [], []
        self.fresh_count = 0

    def start(self):
        for kind in ("cached", "uncached"):
            self.workers[kind] = Worker(self.library.lib, self.caches[kind], kind == "uncached",
                                        os.path.join(self.root, f"{kind}.log"), self.hash_seed)

    def close(self):
        for worker in self.workers.values():
            worker.close()

    # steps

    def step(self, step):
        self.history.append(step)
        getattr(self, "do_" + step["do"])(step)

    def do_settle(self, step):
        settle()

    def do_restart(self, step):
        """New processes, both under a new hash seed (as an editor's next session would be)."""
        self.close()
        self.unsaved.clear()
        self.hash_seed += 1000
        self.hash_seeds.append(self.hash_seed)
        self.start()
        self.stats["restarts"] += 1

    def do_edit(self, step):
        written = self.library.apply(step)
        step["applied"] = bool(written)
        if not written:
            return
        self.stats["edits"] += 1
        self.stats["edit " + step["op"]] += 1
        paths = [self.library.path(rel) for rel in written]
        for path in paths:
            self.unsaved.pop(path, None)
        self.forget(paths)

    def forget(self, paths):
        """jedi's parser caches lose their copies of the written files (see `serve`)."""
        import hashlib
        suffixes = tuple("-%s.pkl" % hashlib.sha256(p.encode()).hexdigest() for p in paths)
        for cache in self.caches.values():
            for folder, _, names in os.walk(cache):
                for name in names:
                    if name.endswith(suffixes):
                        os.remove(os.path.join(folder, name))
        for worker in self.workers.values():
            worker.call({"do": "forget", "paths": paths})

    def request(self, step):
        if "code" in step:
            return Request(step["code"], None, None, step.get("typed", ""))
        rel = step["file"]
        lines = self.library.read(rel).split("\n")
        if step["do"] == "revert":
            return Request("\n".join(lines), self.library.path(rel), quiet_position(lines))
        rows = [i for i, line in enumerate(lines) if line.startswith(step["anchor"])]
        if not rows:
            return None
        row = min(rows, key=lambda i: abs(i + 1 - step["line"]))
        lines[row] = step["anchor"] + step.get("typed", "")
        path = self.library.path(rel) if not step.get("user") else os.path.join(self.user, os.path.basename(rel))
        return Request("\n".join(lines), path, (row + 1, len(lines[row])), step.get("typed", ""))

    def do_revert(self, step):
        self.do_ask(step)

    def do_ask(self, step):
        request = self.request(step)
        if request is None:
            step["skipped"] = True
            return
        uncached, cached = self.workers["uncached"], self.workers["cached"]
        began = time.monotonic()
        expected = uncached.ask(request.code, request.path, request.position)
        took = time.monotonic() - began
        got = []
        for _ in range(2):  # the first may keep what it reads, the second may be served from it
            began = time.monotonic()
            got.append(cached.ask(request.code, request.path, request.position))
            self.timings.append((took, time.monotonic() - began))
        if request.path and request.path.startswith(self.library.lib):
            self.unsaved[request.path] = request.code
        self.stats["requests"] += 1
        self.stats["site " + step.get("site", "?").split()[0]] += 1
        verdicts = {}
        for which, answer in enumerate(got):
            self.stats["checks"] += 1
            if comparable(answer) == comparable(expected):
                continue
            self.stats["differed"] += 1
            key = json.dumps(comparable(answer))
            if key not in verdicts:  # the second answer, when it equals the first, has its verdict
                verdicts[key] = self.judge(request, answer, expected)
            self.stats[verdicts[key]] += 1
            if verdicts[key] == FAULT:
                self.fault(step, request, answer, expected, which)
            elif len(self.variations) < 50:
                self.variations.append({"site": step.get("site"), "verdict": verdicts[key],
                                        "difference": self.difference(step, answer, expected)[:600]})

    def judge(self, request, got, expected):
        uncached = self.workers["uncached"]
        candidates = [expected] + [uncached.ask(request.code, request.path, request.position) for _ in range(2)]
        if any(comparable(c) != comparable(expected) for c in candidates):
            self.stats["uncached answers varied in one process"] += 1
        if accepted(got, candidates):
            return AGAIN
        # jedi's choice among a name's values follows the order of sets of strings, so a process
        # under another hash seed may answer otherwise (wfunctools.partial: the class, or
        # _functools.partial's stub). New processes under the seeds of the processes that may
        # have kept the answer, the latest first, then under one more.
        seeds = list(dict.fromkeys(self.hash_seeds[::-1]))[:3] + [self.hash_seed + 1]
        for hash_seed in seeds:
            fresh = self.fresh(request, hash_seed)
            if any(comparable(c) != comparable(expected) for c in fresh):
                self.stats["uncached answers varied in a new process"] += 1
            candidates += fresh
            if accepted(got, candidates):
                return NEW
        if self.within_limits(request, got, candidates):
            return LIMIT
        return FAULT

    @staticmethod
    def difference(step, got, expected):
        from support.item_answers import differences
        return differences([step.get("site", "request")], [got], [expected])[0]

    def fault(self, step, request, got, expected, which):
        difference = self.difference(step, got, expected)
        fault = {"index": len(self.history) - 1, "site": step.get("site"), "served": which == 1,
                 "request": request.code[-120:], "difference": difference[:3000],
                 "steps": json.loads(json.dumps(self.history))}
        self.faults.append(fault)
        which = "second" if which else "first"
        self.trace(f"FAULT at step {fault['index']} ({which} cached answer): {difference[:600]}")

    def fresh(self, request, hash_seed):
        """The request asked twice of a new uncached process that first holds the same unsaved texts."""
        self.fresh_count += 1
        cache = os.path.join(self.root, f"jedi-fresh-{self.fresh_count}")
        worker = Worker(self.library.lib, cache, True, os.path.join(self.root, "fresh.log"), hash_seed)
        try:
            for path, code in self.unsaved.items():
                if path != request.path:
                    worker.ask(code, path, quiet_position(code.split("\n")))
            return [worker.ask(request.code, request.path, request.position) for _ in range(2)]
        finally:
            worker.close()
            remove_tree(cache)

    def within_limits(self, request, got, candidates):
        """Each item that no uncached answer holds equals that item asked alone: an item served
        from the cache is the answer of a request that met no jedi limit."""
        from support.item_answers import same_but_set_order
        answer, records = comparable(got)
        if not any(comparable(c)[1] == records for c in candidates):
            return False
        items = answer.get("completions") or []
        lists = [comparable(c)[0].get("completions") or [] for c in candidates]
        if any([i["label"] for i in items] != [i["label"] for i in other] for other in lists):
            return False
        for i, item in enumerate(items):
            if any(same_but_set_order(item, other[i]) for other in lists):
                continue
            alone = request.alone(item["label"])
            alone_items = self.workers["uncached"].ask(alone.code, alone.path, alone.position)[0]["completions"]
            if not any(same_but_set_order(item, a) for a in alone_items):
                return False
        return True


# --- the random rounds -------------------------------------------------------------------------


def word(rng):
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(4))


class Rounds:
    """Rounds of: a probe (a name and what it reaches in another file), requests at its sites,
    edits of the file it reaches (and now and then of another), a wait or none, a restart now and
    then, and the sites asked again."""

    def __init__(self, run, rng):
        self.run, self.rng = run, rng
        self.analysis = Analysis(run.library)
        groups = collections.defaultdict(list)
        for probe in self.analysis.probes():
            groups[(probe[2], probe[3], probe[4])].append(probe)
        self.groups = {role: [g for k, g in sorted(groups.items(), key=str) if k[0] == role] for role in ROLES}
        self.deck = []

    def probe(self):
        self.deck = self.deck or self.rng.sample(ROLES, len(ROLES))
        role = self.deck.pop()
        return self.rng.choice(self.rng.choice(self.groups[role]))

    def node(self, module, qual):
        m = self.analysis.modules.get(module)
        return find(m.tree, qual) if m and qual else None

    def refresh(self):
        self.analysis = Analysis(self.run.library)

    def member_of(self, module, name):
        node = self.node(module, name)
        names = [n.name for n in getattr(node, "body", []) if hasattr(n, "name")]
        return self.rng.choice(names) if names else None

    def plan(self, probe):
        """The sites' families and the edits for one probe."""
        module, name, role, source, target, member = probe
        rng = self.rng
        edits, families = [], []
        rel = self.run.library.rel_of(source)
        if role == "package":
            folder = os.path.dirname(rel)
            edits.append({"do": "edit", "op": rng.choice(["module+", "module+", "module-"]), "rel": folder,
                          "word": word(rng)})
            return [("from", f"from {module} import ", "wide_"),
                    ("attr", f"import {module}\n{module}.", "wide_")], edits
        if role == "base":
            member = self.member_of(source, target) or member
        # After a star-imported module gains a name, the typed characters are often the new name's.
        typed = "wide_" if role == "star" and rng.random() < 0.5 else name
        families += [("from", f"from {module} import ", typed), ("attr", f"import {module}\n{module}.", typed)]
        node = self.node(module, name)
        if node is not None and node.__class__.__name__ == "ClassDef":
            member = member or self.member_of(module, name) or "_"
            families += [("inst", f"import {module}\n{module}.{name}().", member),
                         ("subclass", f"import {module}\n\n\nclass Mine({module}.{name}):\n"
                                      "    def go(self):\n        self.", member)]
            for kind, anchor in (("file", SELF_ANCHOR), ("local", LOCAL_ANCHOR)):
                site = self.file_site(kind, anchor, module, node, member)
                if site:
                    families.append(site)
        edits.append(self.edit(role, source, target, member))
        return families, edits

    def file_site(self, kind, anchor, module, node, member):
        """A site in the class's own text: the line cut after a dot that `anchor` finds."""
        rel = self.run.library.rel_of(module)
        lines = self.run.library.files[rel].split("\n")
        found = [(i, m) for i in range(node.lineno, getattr(node, "end_lineno", node.lineno))
                 if "#" not in lines[i] for m in anchor.finditer(lines[i])]
        if not found:
            return None
        row, m = self.rng.choice(found)
        rest = re.match(r"\w*", lines[row][m.end():]).group()
        return (kind, {"file": rel, "anchor": lines[row][:m.end()], "line": row + 1,
                       "user": self.rng.random() < 0.4},
                member if kind == "file" and (self.rng.random() < 0.5 or not rest) else rest or member)

    def edit(self, role, source, target, member):
        rng = self.rng
        rel = self.run.library.rel_of(source)
        node = self.node(source, target)
        if role == "star" and rng.random() < 0.5 or node is None:
            return {"do": "edit", "op": rng.choice(["export+", "export+", "export-"]), "rel": rel, "word": word(rng)}
        qual = target
        if node.__class__.__name__ == "ClassDef":
            methods = [n.name for n in node.body if n.__class__.__name__ in ("FunctionDef", "AsyncFunctionDef")]
            if role == "base" and member in methods:
                qual = f"{target}.{member}"
            elif methods and rng.random() < 0.6:
                qual = f"{target}.{rng.choice(methods)}"
        elif role == "decorator" and rng.random() < 0.7:
            chain = wrapper_chain(node)
            qual = f"{target}.{chain}" if chain else target
        inner = self.node(source, qual)
        if inner.__class__.__name__ == "ClassDef" or rng.random() < 0.3:
            return {"do": "edit", "op": "doc", "rel": rel, "target": qual, "word": word(rng)}
        header = "\n".join(self.run.library.files[rel].split("\n")[inner.lineno - 1:inner.lineno + 3])
        removing = "wide_" in header and rng.random() < 0.5
        return {"do": "edit", "op": "param-" if removing else "param+", "rel": rel, "target": qual, "word": word(rng)}

    def sequence(self, family):
        """A family's requests: bare and typed, in either order."""
        kind, where, member = family
        rng = self.rng
        base = {"do": "ask", "site": f"{kind} {where if isinstance(where, str) else where['file']}"}
        base.update({"code": where} if isinstance(where, str) else where)
        # The member's name is known from the code (jedi is not asked for it, which would cost a
        # request): 1-3 of its first characters.
        sizes = sorted(rng.sample([1, 2, 3], rng.choice([1, 2, 3])))
        typed = [member[:k] for k in sizes if k <= len(member)]
        order = [""] + typed if rng.random() < 0.5 else typed[::-1] + [""]
        for t in dict.fromkeys(order):
            step = dict(base, typed=t)
            if "code" in step:
                step["code"] = where + t
            self.run.step(step)
        if "file" in base and not base.get("user") and rng.random() < 0.7:
            self.run.step({"do": "revert", "site": "revert " + base["file"], "file": base["file"]})

    def round(self):
        rng = self.rng
        probe = self.probe()
        self.run.trace(f"  probe: {probe[2]} {probe[0]}.{probe[1] or ''} -> {probe[3]}.{probe[4] or ''}")
        families, edits = self.plan(probe)
        chosen = rng.sample(families, min(len(families), rng.choice([2, 3])))
        if rng.random() < 0.3:
            other, _ = self.plan(self.probe())
            chosen.append(rng.choice(other))
        for family in chosen:
            self.sequence(family)
        if rng.random() < 0.3:
            edits += self.plan(self.probe())[1]
        for step in edits:
            self.run.step(step)
        self.refresh()
        if rng.random() < 0.7:
            self.run.step({"do": "settle"})
        if rng.random() < 0.2:
            self.run.step({"do": "restart"})
        for family in rng.sample(chosen, len(chosen)):
            self.sequence(family)


# --- entry points ---------------------------------------------------------------------------------


def summary(run, label, took):
    s = run.stats
    speed = sorted(c / u for u, c in run.timings[1::2] if u > 0)
    lines = [f"{label}: {s['requests']} requests, {s['checks']} cached answers checked, {s['edits']} edits, "
             f"{s['restarts']} restarts, {took / 60:.1f} min",
             f"  differed from the first uncached answer: {s['differed']}; jedi's own variation: "
             f"{s[AGAIN]} (asked again), {s[NEW]} (a new process); "
             f"jedi limit allowance: {s['jedi limit allowance']}; faults: {len(run.faults)} "
             f"({len({(f['site'], f['difference']) for f in run.faults})} distinct)"]
    lines.append(f"  uncached answers that varied: {s['uncached answers varied in one process']} in one process, "
                 f"{s['uncached answers varied in a new process']} in a new process")
    if speed:
        lines.append(f"  second cached answer / uncached answer time: median {speed[len(speed) // 2]:.2f}")
    lines.append("  edits: " + ", ".join(f"{k[5:]} {v}" for k, v in sorted(s.items()) if k.startswith("edit ")))
    sites = ", ".join(f"{k[5:]} {v}" for k, v in sorted(s.items()) if k.startswith("site "))
    lines.append(f"  requests by site: {sites}")
    return "\n".join(lines)


def random_run(args):
    seed = random.SystemRandom().randrange(2**32) if args.seed == "random" else int(args.seed)
    rng = random.Random(seed)
    modules = args.modules.split(",") if args.modules else wide_library.MODULES
    root = tempfile.mkdtemp(prefix="wide-changes-")
    label = f"wide changes (python {sys.version_info[0]}.{sys.version_info[1]}, seed {seed})"
    print(f"{label}: {args.rounds} rounds, at most {args.minutes} minutes, in {root}", flush=True)
    began = time.monotonic()
    hash_seed = rng.randrange(2**31)
    run = Run(modules, root, hash_seed)
    rounds = 0
    try:
        for step in SANITY:
            run.step(dict(step))
        known = [f for f in run.faults if (f["site"] or "").startswith("known")]
        print(f"known case (wrapper edited, then lib.ap): {'reproduced' if known else 'not reproduced'} "
              f"({len(known)} faulty answers)", flush=True)
        generator = Rounds(run, rng)
        while rounds < args.rounds and time.monotonic() - began < args.minutes * 60:
            generator.round()
            rounds += 1
            print(f"  round {rounds}: {run.stats['checks']} checks, {len(run.faults)} faults, "
                  f"{(time.monotonic() - began) / 60:.1f} min", flush=True)
        # The last word is the store's: new processes ask what the last rounds asked.
        run.step({"do": "restart"})
        for step in [s for s in run.history if s["do"] == "ask" and not s.get("skipped")][-12:]:
            run.step(dict(step))
    finally:
        run.close()
    print(summary(run, f"{label}, {rounds} rounds", time.monotonic() - began))
    distinct = collections.Counter((f["site"], f["difference"]) for f in run.faults)
    for (site, difference), count in distinct.items():
        first = next(i for i, f in enumerate(run.faults) if (f["site"], f["difference"]) == (site, difference))
        print(f"  fault {first} ({count} answers, first at step {run.faults[first]['index']}): {difference[:400]}")
    report = {"seed": seed, "hash_seed": hash_seed, "python": sys.version, "modules": modules, "rounds": rounds,
              "stats": dict(run.stats),
              "variations": run.variations, "faults": run.faults}
    if args.out:
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        with open(args.out, "w") as f:
            json.dump(report, f, indent=1)
        print(f"report: {args.out}")
    if not args.keep:
        remove_tree(root)
    return 1 if run.faults else 0


def replay(modules, steps, hash_seed, quiet=True):
    """Runs the steps on a new library; whether the last one faulted."""
    root = tempfile.mkdtemp(prefix="wide-replay-")
    run = Run(modules, root, hash_seed, trace=(lambda *_: None) if quiet else print)
    try:
        for step in steps:
            run.step({k: v for k, v in step.items() if k not in ("applied", "skipped")})
    finally:
        run.close()
        remove_tree(root)
    return bool(run.faults) and run.faults[-1]["index"] == len(steps) - 1, run


def minimize(modules, steps, hash_seed):
    """Drops chunks of steps (halving their size) while the last step still faults."""
    steps = [s for s in steps if s.get("applied", True) and not s.get("skipped")]
    size = max(1, (len(steps) - 1) // 2)
    while True:
        i = 0
        while i < len(steps) - 1:
            trial = steps[:i] + steps[i + size:]
            if replay(modules, trial, hash_seed)[0]:
                steps = trial
                print(f"  {len(steps)} steps", flush=True)
            else:
                i += size
        if size == 1:
            return steps
        size = max(1, size // 2)


def replay_main(args):
    """Steps from a report's fault, or a file holding a list of steps (with --modules)."""
    report = json.load(open(args.replay))
    if isinstance(report, list):
        modules, steps = args.modules.split(",") if args.modules else wide_library.MODULES, report
        hash_seed = args.hash_seed
    else:
        modules, steps = report["modules"], report["faults"][args.fault]["steps"]
        hash_seed = report["hash_seed"] if args.hash_seed is None else args.hash_seed
    if args.minimize:
        steps = minimize(modules, steps, hash_seed or 0)
        print(json.dumps(steps, indent=1))
    faulted, run = replay(modules, steps, hash_seed or 0, quiet=False)
    print(f"replayed {len(steps)} steps: the last {'faults' if faulted else 'does not fault'}")
    return 1 if faulted else 0


def main():
    env = os.environ.get
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", default=env("LSP_BRIDGE_WIDE_SEED") or "1")
    parser.add_argument("--rounds", type=int, default=int(env("LSP_BRIDGE_WIDE_STEPS") or 40))
    parser.add_argument("--minutes", type=float, default=float(env("LSP_BRIDGE_WIDE_MINUTES") or 8))
    parser.add_argument("--modules", default="", help="comma-separated; default: wide_library.MODULES")
    parser.add_argument("--out", default="")
    parser.add_argument("--keep", action="store_true", help="keep the library folder")
    parser.add_argument("--replay", default="")
    parser.add_argument("--fault", type=int, default=0)
    parser.add_argument("--minimize", action="store_true")
    parser.add_argument("--hash-seed", type=int, default=None, help="the workers' PYTHONHASHSEED in a replay")
    args = parser.parse_args()
    return replay_main(args) if args.replay else random_run(args)


if __name__ == "__main__":
    sys.exit(main())
