"""A stand-in for LSPBridge that answers with jedi and pyflakes directly.

Only for working on the page and the server while the native module is
unfinished (`server.py --fake`). It mirrors the result shapes, not every
detail of the real module.
"""

import ast
import importlib.util
import io
import os
import sys
import tempfile

import jedi

# The kind numbers the real module sends; the page passes them through.
_KINDS = {"function": 1, "class": 5, "module": 7, "property": 8, "instance": 4,
          "param": 4, "statement": 4, "keyword": 13, "path": 17}
_ERROR, _WARNING = 8, 4
_FENCE_OPEN, _FENCE_CLOSE = "```python\n", "\n```"


def _check_type(name, value, kind, optional=False):
    if value is None and optional:
        return
    if type(value) is not kind:
        raise TypeError(f"{name}: expected {kind.__name__}, got {type(value).__name__}")


def _signature_text(sig):
    text = sig.to_string()
    # to_string() starts with the name; callers add their own.
    return text[len(sig.name):] if text.startswith(sig.name) else text


class FakeBridge:
    def __init__(self):
        self._temp_dir = tempfile.TemporaryDirectory(prefix="fake_bridge_")
        self._project = jedi.Project(self._temp_dir.name)
        self._hover_mode = "compact"

    # -- module sync ----------------------------------------------------
    def sync_modules(self, modules, dirty_files=None):
        _check_type("modules", modules, dict)
        _check_type("dirty_files", dirty_files, dict, optional=True)
        merged = dict(modules)
        merged.update(dirty_files or {})
        for name, code in merged.items():
            with open(os.path.join(self._temp_dir.name, name + ".py"), "w", encoding="utf-8") as f:
                f.write(code)

    def delete_module(self, name):
        _check_type("module_name", name, str)
        path = os.path.join(self._temp_dir.name, name + ".py")
        if os.path.exists(path):
            os.remove(path)

    def set_hover_mode(self, mode):
        _check_type("mode", mode, str)
        if mode in ("compact", "detailed"):
            self._hover_mode = mode

    def cleanup(self):
        if self._temp_dir is not None:
            self._temp_dir.cleanup()
            self._temp_dir = None

    # -- requests -------------------------------------------------------
    def _script(self, code, line, column, path, modules, dirty_files):
        _check_type("code", code, str)
        _check_type("line", line, int)
        _check_type("column", column, int)
        _check_type("path", path, str, optional=True)
        _check_type("modules", modules, dict, optional=True)
        _check_type("dirty_files", dirty_files, dict, optional=True)
        if modules or dirty_files:
            self.sync_modules(modules or {}, dirty_files)
        script_path = os.path.join(self._temp_dir.name, path + ".py") if path else None
        return jedi.Script(code=code, path=script_path, project=self._project)

    def get_completions(self, code, line, column, path=None, modules=None, dirty_files=None):
        script = self._script(code, line, column, path, modules, dirty_files)
        try:
            items = []
            for c in script.complete(line=line, column=column):
                if c.name.startswith("_"):
                    continue
                item = {"label": c.name, "kind": _KINDS.get(c.type, 4), "insertText": c.name}
                if c.type == "function":
                    sigs = c.get_signatures()
                    if sigs:
                        item["detail"] = _signature_text(sigs[0])
                doc = c.docstring()
                if doc:
                    item["documentation"] = doc
                items.append(item)
            return {"completions": items, "error": None}
        except Exception as e:  # noqa: BLE001 - the real module answers errors the same way
            return {"completions": [], "error": str(e)}

    def get_hover(self, code, line, column, path=None, modules=None, dirty_files=None):
        script = self._script(code, line, column, path, modules, dirty_files)
        try:
            parts = []
            for d in script.infer(line=line, column=column):
                sigs = d.get_signatures() if d.type == "function" else []
                body = d.name + (_signature_text(sigs[0]) if sigs else "")
                parts.append(f"{_FENCE_OPEN}({d.type}) {body}{_FENCE_CLOSE}")
                if self._hover_mode == "detailed" and d.docstring(raw=True):
                    parts.append(d.docstring(raw=True))
            if not parts:
                return {"contents": None, "error": None}
            return {"contents": {"kind": "markdown", "value": "\n\n---\n\n".join(parts)}, "error": None}
        except Exception as e:  # noqa: BLE001
            return {"contents": None, "error": str(e)}

    def get_signature_help(self, code, line, column, path=None, modules=None, dirty_files=None):
        script = self._script(code, line, column, path, modules, dirty_files)
        empty = {"signatures": [], "activeSignature": 0, "activeParameter": 0}
        try:
            sigs = script.get_signatures(line=line, column=column)
            if not sigs:
                return dict(empty, error=None)
            sig = sigs[0]
            params = [{"label": p.name} for p in sig.params]
            signature = {"label": sig.name + _signature_text(sig),
                         "documentation": sig.docstring(raw=True) or "",
                         "parameters": params}
            return {"signatures": [signature], "activeSignature": 0,
                    "activeParameter": sig.index or 0, "error": None}
        except Exception as e:  # noqa: BLE001
            return dict(empty, error=str(e))

    def get_diagnostics(self, code, module_name=None):
        _check_type("code", code, str)
        _check_type("module_name", module_name, str, optional=True)
        try:
            tree = ast.parse(code)
        except SyntaxError as e:
            line, col = e.lineno or 1, e.offset or 1
            return {"diagnostics": [_marker(line, col, line, col + 1, e.msg, _ERROR)], "error": None}
        found = self._pyflakes(code) + self._unresolved_imports(tree)
        found.sort(key=lambda d: d["severity"] != _ERROR)
        return {"diagnostics": found, "error": None}

    def _pyflakes(self, code):
        from pyflakes import api, reporter

        out, err = io.StringIO(), io.StringIO()
        api.check(code, "<editor>", reporter.Reporter(out, err))
        markers = []
        for line in out.getvalue().splitlines():
            _, lineno, col, message = (line.split(":", 3) + ["", "", ""])[:4]
            if lineno.isdigit() and col.isdigit():
                start = int(col)
                markers.append(_marker(int(lineno), start, int(lineno), start + 1, message.strip(), _WARNING))
        return markers

    def _unresolved_imports(self, tree):
        markers = []
        for node in ast.walk(tree):
            if isinstance(node, ast.Import):
                names = [a.name for a in node.names]
            elif isinstance(node, ast.ImportFrom) and node.module:
                names = [node.module]
            else:
                continue
            for name in names:
                if not self._resolves(name):
                    markers.append(_marker(node.lineno, node.col_offset + 1, node.end_lineno,
                                           node.end_col_offset + 1,
                                           f"import '{name}' could not be resolved", _ERROR))
        return markers

    def _resolves(self, name):
        if name in sys.modules:
            return True
        if self._temp_dir and os.path.exists(os.path.join(self._temp_dir.name, name + ".py")):
            return True
        try:
            return importlib.util.find_spec(name) is not None
        except (ImportError, ValueError, AttributeError):
            return False


def _marker(start_line, start_col, end_line, end_col, message, severity):
    return {"startLineNumber": start_line, "startColumn": start_col, "endLineNumber": end_line,
            "endColumn": end_col, "message": message, "severity": severity}
