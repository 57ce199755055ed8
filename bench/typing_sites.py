"""Completion sites in the interpreter's own standard-library files, as a user typing meets
them: a line cut right after a typed dot, the rest of the file intact, drawn by a seed. Each
site is classed by what jedi infers for the name before the dot.

Two draws: `draw` takes about a third of its sites from each class (one at most per file), which
weighs library modules far above their share in real code; `draw_as_typed` takes every dot of
every file with the same chance, so each class comes at the frequency with which it occurs in
those files, and keeps the sites of no class (OTHER) as well.

    python bench/typing_sites.py [count] [seed] [--as-typed]     (lists the sites)
"""
import io
import keyword
import os
import random
import sys
import sysconfig
import tokenize

import common  # noqa: F401  (puts the development host on the path)

import floor

SAME_FILE = "same-file class (self.)"
LIBRARY_VALUE = "library instance or class"
LIBRARY_MODULE = "library module"
CLASSES = (SAME_FILE, LIBRARY_VALUE, LIBRARY_MODULE)
# What a user also types before a dot: a name jedi infers nothing for, a function, or values of
# several of the kinds above (a union of a same-file class and a library one, say).
OTHER = "other (nothing, a function, or several kinds)"

SKIPPED_FOLDERS = {"site-packages", "dist-packages", "test", "tests", "idle_test", "__pycache__"}
MAX_BYTES = 120_000  # larger files only add parse time the floor pays alike


def library_files():
    root = sysconfig.get_paths()["stdlib"]
    found = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_FOLDERS and not d.startswith("."))
        found += [os.path.join(folder, f) for f in sorted(files) if f.endswith(".py")]
    return root, [f for f in found if os.path.getsize(f) <= MAX_BYTES]


def dots(text):
    """(line, column of the dot) of every attribute access `name.name` outside import lines."""
    try:
        tokens = list(tokenize.generate_tokens(io.StringIO(text).readline))
    except (tokenize.TokenError, SyntaxError, IndentationError):
        return []
    found = []
    for before, dot, after in zip(tokens, tokens[1:], tokens[2:]):
        if dot.string != "." or before.type != tokenize.NAME or after.type != tokenize.NAME:
            continue
        if keyword.iskeyword(before.string) or before.end != dot.start:
            continue
        if dot.line.lstrip().startswith(("import ", "from ")):
            continue
        found.append(dot.start)
    return found


def cut(text, line, column):
    """The file with `line` cut right after the dot at `column`: (code, line, cursor column)."""
    lines = text.split("\n")
    lines[line - 1] = lines[line - 1][:column + 1]
    return "\n".join(lines), line, column + 1


def site_class(bridge, code, line, column):
    """One of CLASSES, or None: what the name before the dot infers to, all of one kind."""
    script = floor.script(bridge, code, None, None)
    kinds = set()
    for d in script.infer(line=line, column=column - 2):
        if d.type == "module":
            kinds.add(LIBRARY_MODULE)
        elif d.type in ("class", "instance"):
            same = d.module_path is None or str(d.module_path) == str(script.path)
            kinds.add(SAME_FILE if same else LIBRARY_VALUE)
        else:
            kinds.add(None)
    return kinds.pop() if len(kinds) == 1 else None


def site_record(path, root, code, line, column, kind):
    typed = code.split("\n")[line - 1].strip()
    return {"file": os.path.relpath(path, root), "line": line, "column": column, "class": kind,
            "typed": typed[-40:], "code": code}


def draw_as_typed(bridge, count, seed):
    """count sites drawn from all dots of all files alike (without replacement), in the order
    drawn; a site jedi fails on is replaced by the next one drawn."""
    root, files = library_files()
    texts, pool = {}, []
    for path in files:
        with open(path, encoding="utf-8", errors="replace") as f:
            texts[path] = f.read()
        pool += [(path, line, column) for line, column in dots(texts[path])]
    rng = random.Random(seed)
    sites = []
    for path, line, column in rng.sample(pool, min(len(pool), 2 * count)):
        if len(sites) >= count:
            break
        code, line, column = cut(texts[path], line, column)
        try:
            kind = site_class(bridge, code, line, column) or OTHER
        except Exception:  # jedi failing on a file costs the site, not the run
            continue
        sites.append(site_record(path, root, code, line, column, kind))
    return sites


def draw(bridge, count, seed):
    """About count / 3 sites of each class (one at most per file), in the order drawn."""
    root, files = library_files()
    rng = random.Random(seed)
    rng.shuffle(files)
    quota = -(-count // len(CLASSES))
    sites, taken = [], {c: 0 for c in CLASSES}
    for path in files:
        if len(sites) >= quota * len(CLASSES):
            break
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        found = dots(text)
        if not found:
            continue
        line, column = rng.choice(found)
        code, line, column = cut(text, line, column)
        try:
            kind = site_class(bridge, code, line, column)
        except Exception:  # jedi failing on a file costs the site, not the run
            continue
        if kind is None or taken[kind] >= quota:
            continue
        taken[kind] += 1
        sites.append(site_record(path, root, code, line, column, kind))
    return sites


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--as-typed"]
    drawer = draw_as_typed if "--as-typed" in sys.argv else draw
    with common.ready_bridge() as b:
        for site in drawer(b, int(args[0]) if args else 12, int(args[1]) if len(args) > 1 else 1):
            print(f"{site['class']:28} {site['file']}:{site['line']}  {site['typed']}")
