"""The floor: only the library work each answer needs, called directly from Python. jedi's
Script and question, and every read of the jedi objects that the answer is made of; pyflakes,
the parses and the import look-ups of a diagnostics run; the file writes of a sync. No logging,
no checks, no result formatting beyond the dicts the answer consists of. What the module costs
above this is its own overhead.
"""
import ast
import importlib.util
import io
import os
import sys

import jedi
from pyflakes import api as pyflakes_api
from pyflakes import reporter as pyflakes_reporter


def write_modules(folder, modules):
    for name, text in (modules or {}).items():
        with open(os.path.join(folder, name + ".py"), "w", encoding="utf-8") as f:
            f.write(text)


def script(bridge, code, modules, path):
    folder = bridge._temp_dir.name
    write_modules(folder, modules)
    script_path = os.path.join(folder, path + ".py") if path else "<editor>"
    return jedi.Script(code=code, path=script_path, project=bridge._jedi_project)


def signature_text(signature):
    text = signature.to_string()
    return text[text.find("("):]


def completions(bridge, code, line, column, path=None, modules=None):
    typed = code.split("\n")[line - 1][:column]
    show_underscores = typed.rstrip("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789").endswith("_")
    items = []
    for c in script(bridge, code, modules, path).complete(line=line, column=column):
        name = c.name
        if not show_underscores and name.startswith("_"):
            continue
        kind = c.type
        item = {"label": name, "kind": kind, "insertText": name}
        if kind == "function":
            signatures = c.get_signatures()
            if signatures:
                item["detail"] = signature_text(signatures[0])
        item["documentation"] = c.docstring()
        items.append(item)
    return items


def hover(bridge, mode, code, line, column, path=None, modules=None):
    s = script(bridge, code, modules, path)
    inferred = s.infer(line=line, column=column)
    if not inferred:
        return [(h.name, h.description, h.docstring()) for h in s.help(line=line, column=column)]
    parts = []
    for d in inferred:
        kind = d.type
        parts.append(d.name if mode == "compact" else d.full_name or d.name)
        if kind == "function":
            signatures = d.get_signatures()
            if signatures:
                parts.append(signature_text(signatures[0]))
        elif kind not in ("class", "module"):
            parts.append(d.description)
        if mode != "compact":
            parts.append(d.docstring())
    return parts


def signature_help(bridge, code, line, column, path=None, modules=None):
    signatures = script(bridge, code, modules, path).get_signatures(line=line, column=column)
    sig = signatures[0]
    params = [{"label": p.name, "documentation": p.description} for p in sig.params]
    return {"label": sig.name + signature_text(sig), "documentation": sig.docstring(raw=True),
            "parameters": params, "active": sig.index}


def imported_names(tree):
    """(statement, module names it imports) in ast.walk order; a relative from-import without a
    module part names nothing."""
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            yield node, [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom) and node.module:
            yield node, [node.module]


def diagnostics(bridge, code):
    """The three parses (syntax check, pyflakes, import walk), pyflakes' report, and the three
    resolution sources for every imported name."""
    ast.parse(code, filename="<editor>")
    warnings, errors = io.StringIO(), io.StringIO()
    pyflakes_api.check(code, "<editor>", pyflakes_reporter.Reporter(warnings, errors))
    folder = bridge._temp_dir.name
    for _, names in imported_names(ast.parse(code)):
        for name in names:
            if name in sys.modules or os.path.exists(os.path.join(folder, name + ".py")):
                continue
            try:
                importlib.util.find_spec(name)
            except (ImportError, ValueError, AttributeError):
                pass
    return warnings.getvalue(), errors.getvalue()

