"""Function items whose signatures are built once: every answer equal to the one the plain
calls give (a bridge with a _format_signature of its own makes them), on fixed cases and on
sites in the standard library at several typed prefixes. jedi answers a few items differently
in two fresh Scripts (union members, merged docstrings in set order): a difference counts only
where a repeat of the plain calls agrees with itself."""
import os
import re
import sys
import sysconfig

import jedi
import pytest

from support.item_answers import ask, same_but_set_order

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench"))
import typing_sites  # noqa: E402

pytestmark = pytest.mark.usefixtures("jedi_cache_dir")

FORWARDING = ("class Base:\n    def run(self, a: int, *, b='x') -> str:\n        'Run it.'\n"
              "class Wrapper(Base):\n    def run(self, *args, **kwargs):\n        return super().run(*args, **kwargs)\n"
              "    @property\n    def size(self):\n        'Size.'\n        return 1\n"
              "    def plain(self): pass\n    def go(self):\n        self.")
CASES = [
    FORWARDING,
    FORWARDING + "ru",
    "import os\nos.path.",                      # functions of a module, served from the item cache later
    "'text'.",                                  # overloaded stub methods
    "import re\nm = re.match('a', 'a')\nm.",  # a library instance
    "from json import du",                      # import names: no documentation under three characters
    "from json import dum",
    "import subprocess\nsubprocess.Popen(['x']).",
    "pri",
]


def items(bridge, logs, code, position=None):
    answer, records = ask(bridge, logs, code, position=position)
    assert answer["error"] is None
    return {c["label"]: c for c in answer["completions"]}, [c["label"] for c in answer["completions"]], records


def compare(bridge, uncached, logs, code, jedis_own, position=None):
    """The faults of one request: items, order or log records unequal to the plain calls' where
    four repeats of those agree with themselves and never give the item this bridge gave."""
    plain, order, records = items(uncached, logs, code, position)
    got, got_order, got_records = items(bridge, logs, code, position)
    faults = [f"order of {code[-30:]!r}"] if got_order != order else []
    faults += [f"log records of {code[-30:]!r}"] if got_records != records else []
    unequal = [label for label in plain if got.get(label) != plain[label]]
    repeats = [items(uncached, logs, code, position)[0] for _ in range(4 if unequal else 0)]
    for label in unequal:
        answers = [plain[label]] + [again.get(label) for again in repeats]
        if any(same_but_set_order(got.get(label), a) for a in answers) or any(a != plain[label] for a in answers):
            jedis_own.append(label)
        else:
            faults.append(f"{label} at {code[-30:]!r}: {got.get(label)!r} vs {plain[label]!r}")
    return faults, sum(1 for c in got.values() if c["kind"] == 1)


def test_fixed_cases_equal_plain_calls(bridge, uncached, logs):
    faults = []
    for code in CASES:
        faults += compare(bridge, uncached, logs, code, [])[0]
    assert not faults, "\n".join(faults)


def test_library_sites_at_typed_prefixes_equal_plain_calls(bridge, uncached, logs, capsys):
    """The cursor right after the dot, then after one and three characters of the name that stood there."""
    root = sysconfig.get_paths()["stdlib"]
    faults, jedis_own, functions = [], [], 0
    for site in typing_sites.draw(bridge, 9, seed=5):
        with open(os.path.join(root, site["file"]), encoding="utf-8") as f:
            full = f.read().split("\n")[site["line"] - 1]
        name = re.match(r"\w*", full[site["column"]:]).group()
        for typed in {name[:0], name[:1], name[:3]}:
            code = site["code"].split("\n")
            code[site["line"] - 1] += typed
            found, count = compare(bridge, uncached, logs, "\n".join(code), jedis_own,
                                   (site["line"], site["column"] + len(typed)))
            faults += found
            functions += count
    with capsys.disabled():
        print(f"\n[item signature] {functions} function items; jedi's own differences: {jedis_own}")
    assert functions and not faults, "\n".join(faults)


@pytest.mark.parametrize("owner, method", [(jedi.api.classes.Completion, "docstring"),
                                           (jedi.api.classes.BaseName, "get_signatures")])
def test_wrapped_jedi_method_still_sees_every_call(bridge, logs, monkeypatch, owner, method):
    """A host's wrapper of jedi's classes keeps today's calls (and sees each function item)."""
    real, calls = getattr(owner, method), []

    def wrapper(self, *a, **k):
        calls.append(self.name)
        return real(self, *a, **k)

    monkeypatch.setattr(owner, method, wrapper)
    got, _, _ = items(bridge, logs, FORWARDING)
    assert {label for label, c in got.items() if c["kind"] == 1} <= set(calls)


@pytest.mark.parametrize("plain", [False, True])
def test_own_jedi_builds_function_items_without_docstring(bridge, logs, monkeypatch, plain):
    """With jedi as shipped, a function item's documentation no longer runs docstring() (a
    profile hook watches it, leaving jedi's classes as they are); the test switch brings it back."""
    monkeypatch.setenv("LSP_BRIDGE_PLAIN_SIGNATURES", "1" if plain else "")
    seen, target = [], jedi.api.classes.Completion.docstring.__code__

    def profile(frame, event, arg):
        if event == "call" and frame.f_code is target:
            seen.append(frame.f_locals["self"].name)

    sys.setprofile(profile)
    try:
        got, _, _ = items(bridge, logs, FORWARDING)
    finally:
        sys.setprofile(None)
    functions = {label for label, c in got.items() if c["kind"] == 1}
    assert functions == {"run", "plain", "go"} and (functions <= set(seen) if plain else not functions & set(seen))
