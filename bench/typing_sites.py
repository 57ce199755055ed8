"""Completion sites in the interpreter's own standard-library files, as a user typing meets
them: a line cut right after a typed dot, the rest of the file intact, drawn by a seed. Each
site is classed by what jedi infers for the name before the dot.

    python bench/typing_sites.py [count] [seed]     (lists the sites)
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
        typed = code.split("\n")[line - 1].strip()
        sites.append({"file": os.path.relpath(path, root), "line": line, "column": column, "class": kind,
                      "typed": typed[-40:], "code": code})
    return sites


if __name__ == "__main__":
    with common.ready_bridge() as b:
        for site in draw(b, int(sys.argv[1]) if len(sys.argv) > 1 else 12, int(sys.argv[2]) if len(sys.argv) > 2 else 1):
            print(f"{site['class']:28} {site['file']}:{site['line']}  {site['typed']}")
