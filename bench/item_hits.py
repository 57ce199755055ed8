"""How many completion items the item cache answers: per case, the items of a warm request and
how many of them jedi still computed. A computed item runs jedi's Completion._get_docstring once
(through docstring(), or directly for a function item) and a served one never, so its runs are
counted with a profile hook (which leaves jedi's classes as they are: a patched class would turn
the cache off).

    python bench/item_hits.py [--stdlib]    (--stdlib: the 60 modules of the differential test)
"""
import os
import sys
import threading

import common  # noqa: F401  (puts the development host on the path)

import jedi
from jedi.api.classes import Completion


STDLIB_MODULES = """os sys json re collections itertools functools math string random datetime time
    pathlib typing io shutil subprocess logging argparse csv enum abc copy pickle struct socket
    threading queue heapq bisect hashlib base64 textwrap glob fnmatch tempfile uuid decimal fractions
    statistics operator contextlib dataclasses inspect traceback warnings weakref zlib gzip platform
    signal errno stat calendar pprint codecs locale unicodedata html array""".split()


def computed_items(bridge, code, line, column, modules=None):
    """(items answered, items jedi computed) of one request."""
    runs = [0]
    target = Completion._get_docstring.__code__

    def profile(frame, event, arg):
        if event == "call" and frame.f_code is target:
            runs[0] += 1

    sys.setprofile(profile)
    try:
        answer = bridge.get_completions(code, line, column, modules=modules)
    finally:
        sys.setprofile(None)
    return len(answer["completions"]), runs[0]


def hit_rates(bridge, cases):
    """case -> (items, items served by the cache) of the second of two requests."""
    rates = {}
    for name, code, line, column, modules in cases:
        computed_items(bridge, code, line, column, modules)
        items, computed = computed_items(bridge, code, line, column, modules)
        rates[name] = (items, max(items - computed, 0))
    return rates


def main():
    from corvane_master.python_server import lsp_bridge
    bridge = lsp_bridge.LSPBridge()
    for t in threading.enumerate():
        if t.name == "LSP-corvane-preload":
            t.join()
    if "--stdlib" in sys.argv:
        cases = [(m, f"import {m}\n{m}.", 2, len(m) + 1, None) for m in STDLIB_MODULES]
    else:
        from suite_completion import LIBRARY_CASES as cases
    rates = hit_rates(bridge, cases)
    hit = [name for name, (items, served) in rates.items() if served]
    for name, (items, served) in rates.items():
        print(f"{name:32} {served:4d} of {items:4d} items served")
    total = sum(i for i, _ in rates.values()), sum(s for _, s in rates.values())
    print(f"cases with hits: {len(hit)} of {len(rates)}; items served: {total[1]} of {total[0]} "
          f"({100 * total[1] / max(total[0], 1):.0f}%)")
    print("no hits:", " ".join(name for name in rates if name not in hit) or "-")
    bridge.cleanup()


if __name__ == "__main__":
    jedi.settings.cache_directory = os.environ.get("JEDI_CACHE", jedi.settings.cache_directory)
    main()
