"""The library of the wide differential (tools/wide_changes.py): real standard-library modules
copied into a library folder under new names, what their names reach in other copied files, and
the edits made to them between requests.

The copies are renamed (argparse -> wargparse, email -> wemail) because jedi's search path puts
the project's folders after the standard library's, and because jedi answers the real names from
typeshed's stubs, whose signatures no edit of the source would move. Imports between copied
modules are renamed with them, so a decorator, a base class or a star import reaches another
copied file, which the run then edits. Files are dated an hour back, a second apart (as the item
cache tests do): jedi's parser sees each write, and the cache takes the files as settled."""
import ast
import io
import os
import re
import shutil
import sys
import sysconfig
import time
import tokenize

PREFIX = "w"
# Real modules: decorators from other modules (reprlib.recursive_repr in collections,
# functools.wraps, contextlib.contextmanager, unittest's skip), bases from other modules
# (email.mime, http.client.HTTPMessage, logging.handlers, fractions.Fraction(numbers.Rational)),
# re-exports (json's and unittest's `from .x import`, asyncio's `from .x import *`,
# collections.abc and sqlite3's star imports).
MODULES = ["argparse", "textwrap", "json", "email", "logging", "collections", "_collections_abc",
           "dataclasses", "reprlib", "functools", "contextlib", "string", "numbers", "fractions",
           "abc", "enum", "copy", "html", "http", "sqlite3", "operator", "heapq", "bisect", "queue",
           "shlex", "calendar", "configparser", "csv", "unittest", "concurrent", "asyncio", "weakref",
           "tempfile", "pprint", "selectors", "datetime", "keyword"]
SKIPPED_FOLDERS = {"test", "tests", "__pycache__"}
WIDE = re.compile(r"wide_[a-z]{4}")
MARK = re.compile(r"Wide [a-z]{4}\. ")


def physical_lines(text):
    """The lines as tokenize and ast count them: str.splitlines also splits at a form feed, which
    some of the standard library's files hold."""
    return re.findall(r"[^\n]*\n|[^\n]+$", text)


def renamed(name):
    return PREFIX + name


def rename_imports(text, names):
    """`text` with the copied modules' names in import statements, and the names they bind,
    renamed; attributes, definitions' names, keyword arguments and strings are left alone."""
    bound = {a.name.split(".")[0] for node in ast.walk(ast.parse(text)) if isinstance(node, ast.Import)
             for a in node.names if a.asname is None and a.name.split(".")[0] in names}
    tokens = [t for t in tokenize.generate_tokens(io.StringIO(text).readline)
              if t.type not in (tokenize.NL, tokenize.COMMENT, tokenize.INDENT, tokenize.DEDENT)]
    spans, state, head, relative, depth, prev = [], None, False, False, 0, None
    for i, t in enumerate(tokens):
        start = prev is None or prev.type == tokenize.NEWLINE or prev.string in (";", ":")
        if t.type == tokenize.NEWLINE or t.string == ";":
            state = None
        elif t.type == tokenize.OP:
            depth += (t.string in "([{") - (t.string in ")]}")
            if t.string in (".", "...") and state == "from" and head:
                relative = True
            if t.string == "," and state == "import":
                head = True
        elif t.type == tokenize.NAME:
            if t.string in ("import", "from") and start:
                state, head, relative = t.string, True, False
            elif t.string == "import" and state == "from":
                state = "from-names"
            elif state in ("import", "from"):
                if head and t.string in names and not relative and prev.string != ".":
                    spans.append(t)
                head = False
            elif state is None and t.string in bound and prev is not None and \
                    prev.string not in (".", "def", "class", "as"):
                following = tokens[i + 1].string if i + 1 < len(tokens) else ""
                if not (depth and following == "="):
                    spans.append(t)
        prev = t
    lines = physical_lines(text)
    for t in reversed(spans):
        row, col = t.start
        line = lines[row - 1]
        lines[row - 1] = line[:col] + renamed(t.string) + line[col + len(t.string):]
    out = "".join(lines)
    ast.parse(out)
    return out


def copy_module(name, lib, names):
    """Copies the module or package `name` of this interpreter into `lib` under its new name; the
    relative paths written."""
    # From the source folder: a frozen module (abc, _collections_abc on 3.11) has no origin file.
    stdlib = sysconfig.get_paths()["stdlib"]
    source = os.path.join(stdlib, name)
    written = []
    if os.path.isfile(os.path.join(source, "__init__.py")):
        for where, folders, files in os.walk(source):
            folders[:] = sorted(f for f in folders if f not in SKIPPED_FOLDERS)
            for file in sorted(files):
                if file.endswith(".py"):
                    rel = os.path.join(renamed(name), os.path.relpath(os.path.join(where, file), source))
                    written.append((rel, os.path.join(where, file)))
    elif os.path.isfile(source + ".py"):
        written.append((renamed(name) + ".py", source + ".py"))
    return [(rel, rename_imports(open(path, encoding="utf-8").read(), names)) for rel, path in written]


def module_name(rel):
    parts = rel[:-3].split(os.sep)
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


class Library:
    """The library folder: the copies, their analysis (see `probes`) and dated writes."""

    def __init__(self, root, modules=MODULES, extra=None):
        self.root = root
        self.lib = os.path.join(root, "lib")
        os.makedirs(self.lib)
        self.clock = (time.time_ns() // 10**9 - 3600) * 10**9
        names = set(modules)
        self.files = {}
        for name in modules:
            for rel, text in copy_module(name, self.lib, names):
                self.files[rel] = text
        self.files.update(extra or {})
        for rel, text in self.files.items():
            self.write(rel, text)

    def path(self, rel):
        return os.path.join(self.lib, rel)

    def read(self, rel):
        with open(self.path(rel), encoding="utf-8") as f:
            return f.read()

    def write(self, rel, text):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        self.clock += 10**9
        os.utime(path, ns=(self.clock, self.clock))
        self.files[rel] = text

    def remove(self, rel):
        os.remove(self.path(rel))
        self.files.pop(rel, None)

    def rel_of(self, module):
        """The file defining a module name, or None."""
        base = module.replace(".", os.sep)
        for rel in (base + ".py", os.path.join(base, "__init__.py")):
            if rel in self.files:
                return rel
        return None

    def apply(self, op):
        """One edit (a dict: op, rel, target, word, params); the paths written or removed, or []
        when the edit does not apply to the file as it now is."""
        rel, kind = op["rel"], op["op"]
        if kind == "module+":
            new = os.path.join(rel, f"wide_{op['word']}.py")
            self.write(new, f'"""Wide module {op["word"]}."""\n\n\ndef wide_{op["word"]}(a, b=1):\n'
                            f'    "Wide {op["word"]}."\n    return a\n')
            return [new]
        if kind == "module-":
            added = sorted(r for r in self.files if os.path.dirname(r) == rel and
                           WIDE.fullmatch(os.path.basename(r)[:-3]))
            if not added:
                return []
            self.remove(added[0])
            return [added[0]]
        if rel not in self.files:
            return []
        text = self.files[rel]
        new = EDITS[kind](text, op)
        if new is None or new == text:
            return []
        ast.parse(new)
        self.write(rel, new)
        return [rel]


# --- finding what a name reaches --------------------------------------------------------------


def top_statements(body):
    """Statements of a body, looking into if/try/with blocks but not into definitions."""
    for node in body:
        yield node
        if isinstance(node, (ast.If, ast.Try, ast.With)):
            for part in (node.body, getattr(node, "orelse", []), getattr(node, "finalbody", []),
                         *[h.body for h in getattr(node, "handlers", [])]):
                yield from top_statements(part)


DEFS = (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)


def find(tree, qual):
    node = tree
    for part in qual.split("."):
        node = next((n for n in top_statements(node.body) if isinstance(n, DEFS) and n.name == part), None)
        if node is None:
            return None
    return node


def wrapper_chain(node):
    """The qualified tail of the innermost function a decorator returns (`decorating.wrapper`),
    or None when it returns no nested function."""
    nested = {n.name: n for n in top_statements(node.body) if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef))}
    returned = [n.value.id for n in ast.walk(node) if isinstance(n, ast.Return) and isinstance(n.value, ast.Name)]
    for name in returned:
        if name in nested:
            deeper = wrapper_chain(nested[name])
            return name + ("." + deeper if deeper else "")
    return None


class Module:
    def __init__(self, name, rel, text):
        self.name, self.rel = name, rel
        self.tree = ast.parse(text)
        self.package = name if rel.endswith("__init__.py") else name.rpartition(".")[0]
        self.binds, self.stars, self.defs = {}, [], {}
        for node in top_statements(self.tree.body):
            if isinstance(node, ast.Import):
                for a in node.names:
                    if a.asname:
                        self.binds[a.asname] = (a.name, None)
                    else:
                        self.binds[a.name.split(".")[0]] = (a.name.split(".")[0], None)
            elif isinstance(node, ast.ImportFrom):
                source = self.absolute(node.level, node.module)
                for a in node.names:
                    if a.name == "*":
                        self.stars.append(source)
                    else:
                        self.binds[a.asname or a.name] = (source, a.name)
            elif isinstance(node, DEFS):
                self.defs.setdefault(node.name, node)

    def absolute(self, level, module):
        if not level:
            return module
        parts = self.package.split(".")
        parts = parts[:len(parts) - (level - 1)]
        return ".".join(parts + ([module] if module else []))


class Analysis:
    """Each copied module's names that reach a definition in another copied file, as probes:
    (module, name, role, file, target, member). Roles: decorator (a top-level definition's or a
    method's decorator), base, reexport (`from .x import name`), star, package (a folder that
    gets new modules)."""

    def __init__(self, library):
        self.library = library
        self.modules = {}
        for rel, text in library.files.items():
            if rel.endswith(".py"):
                name = module_name(rel)
                self.modules[name] = Module(name, rel, text)

    def resolve_def(self, module, name, depth=0):
        m = self.modules.get(module)
        if m is None or depth > 4:
            return None
        if module + "." + name in self.modules:
            return None
        if name in m.defs:
            return module, name
        if name in m.binds:
            source, attr = m.binds[name]
            return self.resolve_def(source, attr, depth + 1) if attr else None
        for star in m.stars:
            found = self.resolve_def(star, name, depth + 1)
            if found:
                return found
        return None

    def resolve(self, m, expr):
        if isinstance(expr, ast.Call):
            expr = expr.func
        chain = []
        while isinstance(expr, ast.Attribute):
            chain.insert(0, expr.attr)
            expr = expr.value
        if not isinstance(expr, ast.Name):
            return None
        head = expr.id
        if head in m.defs and not chain:
            return m.name, head
        if head not in m.binds:
            return None
        module, attr = m.binds[head]
        if attr is not None:
            if chain:
                return None
            return self.resolve_def(module, attr)
        while chain and module + "." + chain[0] in self.modules:
            module += "." + chain.pop(0)
        return self.resolve_def(module, chain[0]) if len(chain) == 1 else None

    def probes(self):
        found = []
        for m in self.modules.values():
            for name, node in m.defs.items():
                for deco in getattr(node, "decorator_list", []):
                    target = self.resolve(m, deco)
                    if target and target[0] != m.name:
                        found.append((m.name, name, "decorator", *target, None))
                if isinstance(node, ast.ClassDef):
                    for base in node.bases:
                        target = self.resolve(m, base)
                        if target and target[0] != m.name and isinstance(self.def_node(*target), ast.ClassDef):
                            found.append((m.name, name, "base", *target, None))
                    for member in node.body:
                        for deco in getattr(member, "decorator_list", []):
                            target = self.resolve(m, deco)
                            if target and target[0] != m.name:
                                found.append((m.name, name, "decorator", *target, member.name))
            for name, (source, attr) in m.binds.items():
                if attr and not name.startswith("_"):
                    target = self.resolve_def(source, attr)
                    if target and target[0] != m.name:
                        found.append((m.name, name, "reexport", *target, None))
            for star in m.stars:
                s = self.modules.get(star)
                if s is not None:
                    public = [n for n in s.defs if not n.startswith("_")]
                    for name in public[:20]:
                        found.append((m.name, name, "star", star, name, None))
            if m.rel.endswith("__init__.py"):
                found.append((m.name, None, "package", m.name, None, None))
        return sorted(set(found), key=str)

    def def_node(self, module, name):
        m = self.modules.get(module)
        return m.defs.get(name) if m else None


# --- edits -------------------------------------------------------------------------------------


def header_tokens(text, node):
    """The tokens of a def's parameter list, from its `(` to its `)`."""
    lines = physical_lines(text)
    reader = iter(lines[node.lineno - 1:])
    out, depth, started = [], 0, False
    for t in tokenize.generate_tokens(lambda: next(reader, "")):
        if not started and not (t.type == tokenize.OP and t.string == "("):
            continue
        started = True
        out.append(t._replace(start=(t.start[0] + node.lineno - 1, t.start[1]),
                              end=(t.end[0] + node.lineno - 1, t.end[1])))
        if t.type == tokenize.OP:
            depth += (t.string in "([{") - (t.string in ")]}")
            if depth == 0:
                return out
    return None


def offset(lines, position):
    row, col = position
    return sum(len(line) for line in lines[:row - 1]) + col


def splice(text, start, end, new):
    lines = physical_lines(text)
    a, b = offset(lines, start), offset(lines, end)
    return text[:a] + new + text[b:]


def edit_params(text, op):
    """param+: a parameter wide_<word>=1 (before **kwargs, else last); param-: the one added
    removed; params: the list replaced by op['params']."""
    tree = ast.parse(text)
    node = find(tree, op["target"])
    if not isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
        return None
    tokens = header_tokens(text, node)
    if tokens is None:
        return None
    opening, closing = tokens[0], tokens[-1]
    if op["op"] == "params":
        return splice(text, opening.end, closing.start, op["params"])
    if op["op"] == "param-":
        lines = physical_lines(text)
        a, b = offset(lines, opening.end), offset(lines, closing.start)
        header = text[a:b]
        new = re.sub(r",\s*wide_[a-z]{4}=1|wide_[a-z]{4}=1,\s*|wide_[a-z]{4}=1", "", header, count=1)
        return text[:a] + new + text[b:] if new != header else None
    added = f"wide_{op['word']}=1"
    stars = [t for t in tokens if t.string == "**"]
    if stars:
        return splice(text, stars[-1].start, stars[-1].start, added + ", ")
    last = [t for t in tokens[:-1] if t.type not in (tokenize.NL, tokenize.COMMENT, tokenize.NEWLINE)][-1]
    glue = "" if last.string == "(" else " " if last.string == "," else ", "
    return splice(text, last.end, last.end, glue + added)


def edit_doc(text, op):
    """The docstring of the target marked `Wide <word>. ` (the mark replaced if there is one);
    a target without one gets a docstring."""
    tree = ast.parse(text)
    node = find(tree, op["target"])
    if node is None:
        return None
    mark = f"Wide {op['word']}. "
    lines = physical_lines(text)
    first = node.body[0]
    if isinstance(first, ast.Expr) and isinstance(getattr(first, "value", None), ast.Constant) \
            and isinstance(first.value.value, str):
        line = lines[first.lineno - 1]
        col = len(line.encode()[:first.col_offset].decode())
        m = re.match(r"[rRuU]*(\"\"\"|'''|\"|')", line[col:])
        if not m:
            return None
        at = col + m.end()
        rest = line[at:]
        rest = rest[len(MARK.match(rest).group()):] if MARK.match(rest) else rest
        lines[first.lineno - 1] = line[:at] + mark + rest
        return "".join(lines)
    row = min([first.lineno] + [d.lineno for d in getattr(first, "decorator_list", [])])
    if row == node.lineno:
        return None
    indent = re.match(r"\s*", lines[row - 1]).group()
    lines.insert(row - 1, f'{indent}"""{mark}"""\n')
    return "".join(lines)


def all_list(tree):
    for node in tree.body:
        if isinstance(node, ast.Assign) and any(isinstance(t, ast.Name) and t.id == "__all__" for t in node.targets) \
                and isinstance(node.value, (ast.List, ast.Tuple)):
            return node.value
    return None


def edit_exports(text, op):
    """export+: a function wide_<word> appended (and named first in a literal __all__);
    export-: the last one added removed, else a name of a literal __all__ left out."""
    tree = ast.parse(text)
    names = all_list(tree)
    lines = physical_lines(text)
    if op["op"] == "export+":
        name = f"wide_{op['word']}"
        out = text.rstrip("\n") + f'\n\n\ndef {name}(a, b=1):\n    "Wide {op["word"]}."\n    return a\n'
        if names is not None:
            line = lines[names.lineno - 1]
            col = len(line.encode()[:names.col_offset].decode())
            if line[col:col + 1] in "[(":
                out = splice(out, (names.lineno, col + 1), (names.lineno, col + 1), f"{name!r}, ")
        return out
    added = [n for n in tree.body if isinstance(n, ast.FunctionDef) and WIDE.fullmatch(n.name)]
    if added:
        node = added[-1]
        out = "".join(lines[:node.lineno - 1]).rstrip("\n") + "\n" + "".join(lines[node.end_lineno:])
        return re.sub(rf"'{node.name}', ", "", out, count=1)
    if names is None or not names.elts:
        return None
    elts = [e for e in names.elts if isinstance(e, ast.Constant)]
    if len(elts) < 2:
        return None
    target = elts[len(elts) // 2]
    following = names.elts[names.elts.index(target) + 1] if target is not names.elts[-1] else None
    if following is None:
        return None

    def at(e):
        line = lines[e.lineno - 1]
        return e.lineno, len(line.encode()[:e.col_offset].decode())

    return splice(text, at(target), at(following), "")


EDITS = {"param+": edit_params, "param-": edit_params, "params": edit_params, "doc": edit_doc,
         "export+": edit_exports, "export-": edit_exports}


def settle():
    """Long enough after the last write for the cache to store what reads the files."""
    time.sleep(2.1)


def remove_tree(root):
    shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":  # a look at the copies and their probes
    import tempfile
    root = tempfile.mkdtemp()
    try:
        library = Library(root, sys.argv[1:] or MODULES)
        probes = Analysis(library).probes()
        print(len(library.files), "files,", len(probes), "probes")
        for role in ("decorator", "base", "reexport", "star", "package"):
            some = [p for p in probes if p[2] == role]
            print(role, len(some), some[:6])
    finally:
        remove_tree(root)
