"""Member lists kept per library value: `x.` answered from the list kept for the one library value
`x` infers to, filtered as jedi filters, equal to jedi's own answer; jedi is asked wherever its
answer could differ, and wherever a host replaced the code a served list skips."""
import sys

import jedi
import jedi.api.completion
import jedi.cache
import pytest

from support.item_answers import Differential, ask

pytestmark = pytest.mark.usefixtures("jedi_cache_dir")

# (code, path): pairs whose bases infer to one value, in other files; then other library values.
SITES = [
    ("x = []\nx.", "one"),
    # literals of other contents, and ones code elsewhere adds to: their builtin class's members
    ("x = ['a']\nx.append(1)\nx.", "two"),
    ("def f(a):\n    r = []\n    r.append(a)\n    r.", None),
    ("d = {1: 'a'}\nd.", "one"), ("d = {}\nd[1] = 2\nd.", "two"), ("s = {1}\ns.", None), ("t = (1, 'a')\nt.", None),
    ("def f(x: list[str]):\n    x.", "one"),
    ("def g(y: list[str]):\n    y.", "two"),
    ("from typing import List\n\ndef f(x: List[int]):\n    x.", None),
    # comprehensions, *args and **kwargs
    ("x = [a for a in 'ab']\nx.", "one"), ("y = [str(b) for b in range(3) if b]\ny.", "two"),
    ("def f(*args, **kw):\n    args.", "one"), ("def g(n, *rest):\n    rest.", "two"),
    # str and number literals: their builtin class's instance, whatever the value
    ("x = 'a'\nx.", "one"), ("def f(w='b'):\n    w.", "two"),
    # several values that describe alike
    ("c = 1\nd = {} if c else {1: 2}\nd.", None),
    ("import argparse\nc = 1\np = argparse.ArgumentParser() if c else argparse.ArgumentParser(prog='x')\np.", None),
    ("import argparse\np = argparse.ArgumentParser()\np.", "one"),
    ("import argparse\n\nparser = argparse.ArgumentParser(prog='x')\nparser.", "two"),
    # values that describe otherwise (jedi shows a shared name's item in the set's order), a bound method
    ("c = 1\nn = 1 if c else 'a'\nn.", None),
    ("from encodings.idna import Codec\nm = Codec().encode\nm.", None),
    ("class A:\n    def m(self):\n        'Mine.'\n\nx = A().m\nx.", "one"), ("def f():\n    pass\n\nf.", "two"),
    ("import re\nm = re.match('a', 'b')\nm.", None),
    ("import re\np = re.compile('a')\np.", None),
    ("import os\nos.", None),
    ("import os\nos.path.", None),
    ("import xml\nxml.", None),
    ("import email\nemail.", None),
]
TYPED = ["", "ap", "AP", "_", "__", "pa", "par", "mes", "sp"]


def jedi_completes(bridge, logs, code, path=None):
    """The answer of one request, and how often jedi's Script.complete ran for it."""
    runs = []
    target = jedi.Script.complete.__wrapped__.__code__

    def profile(frame, event, arg):
        if event == "call" and frame.f_code is target:
            runs.append(frame)

    sys.setprofile(profile)
    try:
        answer = ask(bridge, logs, code, path)
    finally:
        sys.setprofile(None)
    return answer, len(runs)


def test_served_lists_equal_jedis_answers(bridge, uncached, logs, monkeypatch, capsys):
    diff = Differential(bridge, uncached, logs)
    for code, path in SITES:
        for typed in TYPED:
            diff.check(code + typed, path, repeats=2)
    monkeypatch.setattr(jedi.settings, "case_insensitive_completion", False)
    for typed in ["AP", "ap", "Ar"]:
        diff.check(SITES[4][0] + typed, "one", repeats=2)
    with capsys.disabled():
        print(f"\n[member lists] uncached answers that varied: {diff.nondeterministic}")


# (code, typed, whether the list is served after the dot was typed once)
SERVED = [
    ("import os\nos.path.", "", True),
    ("import email\nemail.", "pa", True),
    ("import email\nemail.", "mes", False),  # a submodule's documentation is read from 3 characters on
    ("import argparse\np = argparse.ArgumentParser()\np.", "_", True),
    ("def f(x: list[str]):\n    x.", "", True),
    ("x = []\nx.append('a')\nx.", "", True),  # a literal: whatever code elsewhere adds to it
    ("x = 'a'\nx.", "up", True),
    ("c = 1\nx = 'a' if c else 'b'\nx.", "", True),
    ("c = 1\nn = 1 if c else 'a'\nn.", "", True),  # an int or a str
    ("from encodings.idna import Codec\nm = Codec().encode\nm.", "", True),
    ("import re\nm = re.match('a', 'b')\nm.", "", False),  # Match or None
    ("import os\nos.getcwd().", "", True),
    ("class Local:\n    'Mine.'\nLocal().", "", False),  # the user's own class
]


@pytest.mark.parametrize("code, typed, served", SERVED)
def test_where_jedi_is_not_asked(bridge, logs, code, typed, served):
    ask(bridge, logs, code)
    ask(bridge, logs, code)
    _, runs = jedi_completes(bridge, logs, code + typed)
    assert runs == (0 if served else 1)


# The code a served list skips, replaced by a wrapper made of jedi's own code (so that only the
# served lists' own check can see it): jedi is asked again.
@pytest.mark.parametrize("owner, name", [(jedi.Script, "complete"), (jedi.api.completion, "filter_names")])
def test_host_patch_of_skipped_code_asks_jedi(bridge, uncached, logs, monkeypatch, owner, name):
    code = "import email\nemail."
    ask(bridge, logs, code)
    assert jedi_completes(bridge, logs, code)[1] == 0
    monkeypatch.setattr(owner, name, jedi.cache.memoize_method(getattr(owner, name)))
    answer, runs = jedi_completes(bridge, logs, code)
    assert runs == 1 and answer == ask(uncached, logs, code)
