"""Cached against uncached completion answers: a bridge that keeps the item cache out of its
requests, one request's answer with its log records, and a short account of how two answers
differ. Used by the tests and by the child processes they start."""
import threading

from jedi.api import completion_cache

from support import new_bridge

# The disk store's folder under jedi's cache directory.
STORE = "lsp_bridge_items"


def uncached_bridge(lsp):
    """A bridge whose own instance overrides _format_signature with the same function, which
    keeps the cache out of its requests."""
    b = new_bridge(lsp)
    b._format_signature = lambda signature: lsp.LSPBridge._format_signature(b, signature)
    return b


def ask(bridge, logs, code, path=None, modules=None, position=None):
    """The answer and the log records of one request at `position` (line, column; default: the
    end of the code), the bridge's sync folder written as <sync>."""
    logs.clear()
    lines = code.split("\n")
    line, column = position or (len(lines), len(lines[-1]))
    answer = bridge.get_completions(code, line, column, path, modules)
    sync = bridge._temp_dir.name
    mine = [r for r in logs.records if r.thread == threading.get_ident()]
    return answer, [(r.levelname, r.msg, repr(r.args).replace(sync, "<sync>")) for r in mine]


class Differential:
    """Compares cached and uncached answers. jedi joins the docstrings of some names in varying
    order (os.path, sys.last_type); where uncached answers differ, each cached item must equal
    that item of one of them, and the rest of the answer and the log records must be equal. An
    item served from the cache is the answer of a request that met no jedi limit, so where a
    request meets one (`os.`), a cached item may instead equal that item asked alone, afresh."""

    def __init__(self, cached, uncached, logs):
        self.cached, self.uncached, self.logs = cached, uncached, logs
        self.nondeterministic = {}

    def check(self, code, path=None, modules=None, repeats=3):
        expected = [ask(self.uncached, self.logs, code, path, modules)]
        for _ in range(repeats):
            got = ask(self.cached, self.logs, code, path, modules)
            assert got[0]["error"] is None
            if got in expected:
                continue
            expected += [ask(self.uncached, self.logs, code, path, modules) for _ in range(8)]
            self.nondeterministic[code] = self.nondeterministic.get(code, 0) + 1
            assert all(got[1] == e[1] for e in expected), code
            items = got[0]["completions"]
            assert all(len(e[0]["completions"]) == len(items) for e in expected), code
            for i, item in enumerate(items):
                if not any(same_but_set_order(item, e[0]["completions"][i]) for e in expected):
                    alone = asked_afresh(lambda: ask(self.uncached, self.logs, code + item["label"], path, modules))
                    assert any(same_but_set_order(item, a) for a in alone), (code, item["label"])


def asked_afresh(ask_once):
    """The completions as a new process answers them: jedi's process-wide cache of numpy's
    (pandas', ...) names set aside meanwhile."""
    saved, completion_cache._cache = completion_cache._cache, {}
    try:
        return ask_once()[0]["completions"]
    finally:
        completion_cache._cache = saved


def same_but_set_order(item, other):
    """Equal items, or items whose documentation holds the same lines in another order: jedi
    joins the docstrings of a name's values (a union's members, os.path's posixpath and ntpath)
    in the order of a set, which depends on where the values lie in memory, so repeats in one
    process may all agree on an order that the request a kept item came from did not. A value
    without a docstring adds a separator only when it comes after one with text, so separator
    and blank lines are left out of the comparison."""
    if item == other or item is None or other is None:
        return item == other
    rest = {k: v for k, v in item.items() if k != "documentation"}
    if rest != {k: v for k, v in other.items() if k != "documentation"}:
        return False
    lines = [sorted(line for line in str(i.get("documentation", "")).split("\n") if line.strip("-"))
             for i in (item, other)]
    return lines[0] == lines[1]


def comparable(pair, logs=True):
    """An (answer, records) pair as compared: without the records that name a file of the disk
    store (what the cache notes on files it passes over depends on what earlier runs left there),
    or without any records when `logs` is false."""
    answer, calls = pair
    return answer, [list(c) for c in calls if logs and STORE not in c[2]]


def differences(names, got, expected, logs=True):
    """One line per request whose answer or log records differ."""
    pairs = [(n, comparable(g, logs), comparable(e, logs)) for n, g, e in zip(names, got, expected)]
    return [f"{n}: {difference(g, e)}" for n, g, e in pairs if g != e]


def difference(got, expected):
    """Where a cached (answer, records) pair differs from the uncached one, in a line or two."""
    (answer, calls), (reference, reference_calls) = got, expected
    if answer.get("error") != reference.get("error"):
        return f"error: cached {answer.get('error')!r} vs uncached {reference.get('error')!r}"
    mine = {c["label"]: c for c in answer["completions"]}
    theirs = {c["label"]: c for c in reference["completions"]}
    notes = [f"only cached: {sorted(set(mine) - set(theirs))}"] if set(mine) - set(theirs) else []
    notes += [f"only uncached: {sorted(set(theirs) - set(mine))}"] if set(theirs) - set(mine) else []
    for label in sorted(set(mine) & set(theirs)):
        for field in sorted(set(mine[label]) | set(theirs[label])):
            if mine[label].get(field) != theirs[label].get(field):
                notes.append(f"{label}.{field}: {contrast(mine[label].get(field), theirs[label].get(field))}")
    if not notes and list(mine) != list(theirs):
        notes.append("order of the items")
    if not notes and calls != reference_calls:
        extra = [c for c in calls if c not in reference_calls] or [c for c in reference_calls if c not in calls]
        notes.append(f"log records, e.g. {extra[:1] or 'their order'}")
    return "; ".join(notes) or "equal"


def contrast(mine, theirs):
    """Two values side by side; of two long texts, the first line where they part."""
    if isinstance(mine, str) and isinstance(theirs, str) and min(len(mine), len(theirs)) > 200:
        a, b = mine.split("\n") + ["(end)"], theirs.split("\n") + ["(end)"]
        i = next(i for i, (x, y) in enumerate(zip(a, b)) if x != y)
        return f"line {i + 1}: cached {a[i]!r} vs uncached {b[i]!r}"
    return f"cached {mine!r} vs uncached {theirs!r}"
