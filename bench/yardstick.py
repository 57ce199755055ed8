"""A plain-Python class that takes the same steps as the module for each request: the same log
calls, checks, sync, jedi calls, formatting and result shapes. It exists only as a yardstick:
the module's own work, were it written in Python, costs what this class costs above the floor.

It borrows the bridge's sync folder and jedi project, so both see the same files and share
jedi's caches; it holds a re-entrant lock around jedi, as the module does.
"""
import ast
import importlib.util
import io
import logging
import os
import re
import sys
import threading

import jedi
from pyflakes import api as pyflakes_api
from pyflakes import reporter as pyflakes_reporter

from floor import imported_names

logger = logging.getLogger("corvane_master.python_server.lsp_bridge")

KIND = {"function": 1, "class": 5, "module": 7, "property": 8, "instance": 4, "param": 4, "statement": 4,
        "keyword": 13, "path": 17}
ALIAS = re.compile(r"^\s*(import\s+[\w.]+\s+as(\s+\w*)?|from\s+[\w.]+\s+import\s+[\w.]+\s+as(\s+\w*)?)$")
PYFLAKES_LINE = re.compile(r"^(.+?):(\d+)(?::(\d+))?:\s*(.+)$")
OPEN, CLOSE, SEP = "```python\n", "\n```", "\n\n---\n\n"
JEDI_LOCK = threading.RLock()


class PlainBridge:
    def __init__(self, bridge):
        self._temp_dir = bridge._temp_dir
        self._jedi_project = bridge._jedi_project
        self._hover_mode = bridge._hover_mode

    # -- workspace ------------------------------------------------------------------------
    def sync_modules(self, modules, dirty_files=None):
        merged = dict(modules)
        if dirty_files:
            merged.update(dirty_files)
        for name, code in merged.items():
            file_path = os.path.join(self._temp_dir.name, format(name, "") + ".py")
            if any(sep in name for sep in ("/", "\\", "\0", os.sep)) or name in (".", ".."):
                logger.warning("[LSP] Refusing unsafe module name '%s'", name)
                continue
            try:
                with open(file_path, "w", encoding="utf-8") as f:
                    f.write(code)
                logger.debug("[LSP] Synced module '%s' to %s", name, file_path)
            except Exception as e:
                logger.warning("[LSP] Failed to sync module '%s': %s", name, e)

    def _is_module_name(self, path):
        if not path:
            return False
        return os.path.sep not in path and path.isidentifier()

    def _parse_pyflakes_message(self, message, severity):
        if not message:
            return None
        match = PYFLAKES_LINE.match(message)
        if not match:
            return None
        lineno, col = int(match.group(2)), int(match.group(3)) if match.group(3) else 1
        msg = match.group(4)
        quoted = re.match(r"^'([^']+)'", msg)
        end = col + len(quoted.group(1)) if quoted else col + 1
        return marker(lineno, col, lineno, end, msg, severity)

    # -- the jedi requests ----------------------------------------------------------------
    def _preamble(self, code, line, column, path, modules, dirty_files):
        if not isinstance(code, str):
            raise ValueError("code must be a string")
        if not isinstance(line, int) or line < 1:
            raise ValueError("line must be a positive integer (1-based)")
        if not isinstance(column, int) or column < 0:
            raise ValueError("column must be a non-negative integer (0-based)")
        if modules or dirty_files:
            self.sync_modules(modules or {}, dirty_files)
        if path and self._is_module_name(path):
            script_path = os.path.join(self._temp_dir.name, path + ".py")
        else:
            script_path = path or "<editor>"
        return jedi.Script(code=code, path=script_path, project=self._jedi_project)

    def _get_word_prefix(self, code, line, column):
        lines = code.split("\n")
        if line < 1 or line > len(lines):
            return ""
        match = re.search("[a-zA-Z_][a-zA-Z0-9_]*$", lines[line - 1][:column])
        return match.group() if match else ""

    def _format_signature(self, signature):
        try:
            text = signature.to_string()
            index = text.find("(")
            return text[index:] if index >= 0 else text
        except (AttributeError, TypeError):
            try:
                return "(" + ", ".join(p.to_string() for p in signature.params) + ")"
            except (AttributeError, TypeError):
                return ""

    def get_completions(self, code, line, column, path=None, modules=None, dirty_files=None):
        info = {"line": line, "column": column, "path": path, "code_length": len(code), "code_preview": code[:100]}
        logger.debug("[LSP] Request: get_completions %s", info)
        try:
            lines = code.split("\n")
            if isinstance(line, int) and 1 <= line <= len(lines) and isinstance(column, int) and column >= 0:
                if ALIAS.match(lines[line - 1][:column]):
                    logger.debug("[LSP] In import alias context, returning empty completions")
                    return {"completions": [], "error": None}
            with JEDI_LOCK:
                script = self._preamble(code, line, column, path, modules, dirty_files)
                show_underscores = self._get_word_prefix(code, line, column).startswith("_")
                completions = script.complete(line=line, column=column)
                logger.debug("[LSP] Jedi returned %d completions", len(completions))
                items = [item for item in map(self._completion_item, completions, [show_underscores] * len(completions))
                         if item]
            logger.debug("[LSP] Response: %d completions returned", len(items))
            if items:
                logger.debug("[LSP] Sample completions: %s%s", [i["label"] for i in items[:5]],
                             "..." if len(items) > 5 else "")
            return {"completions": items, "error": None}
        except Exception as e:
            logger.error("[LSP] Error in get_completions: %s", str(e))
            return {"completions": [], "error": str(e)}

    def _completion_item(self, completion, show_underscores):
        name = completion.name
        if not show_underscores and name.startswith("_"):
            return None
        kind = completion.type  # read once, as the module does: jedi infers it on every read
        item = {"label": name, "kind": KIND.get(kind, 4), "insertText": name}
        if kind == "function":
            try:
                signatures = completion.get_signatures()
                if signatures:
                    item["detail"] = self._format_signature(signatures[0])
            except Exception:
                pass
        try:
            docstring = completion.docstring()
            if docstring:
                item["documentation"] = docstring
        except Exception:
            pass
        return item

    def get_hover(self, code, line, column, path=None, modules=None, dirty_files=None):
        logger.debug("[LSP] Request: get_hover line=%d, column=%d, path=%s", line, column, path)
        try:
            with JEDI_LOCK:
                script = self._preamble(code, line, column, path, modules, dirty_files)
                inferred = script.infer(line=line, column=column)
                if not inferred:
                    return self._help_fallback(script, line, column)
                parts = []
                for definition in inferred:
                    parts.extend(self._hover_parts(definition))
            logger.debug("[LSP] Hover: found %d definitions", len(inferred))
            return {"contents": {"kind": "markdown", "value": SEP.join(parts)} if parts else None, "error": None}
        except Exception as e:
            logger.error("[LSP] Error in get_hover: %s", str(e))
            return {"contents": None, "error": str(e)}

    def _hover_parts(self, d):
        if self._hover_mode == "compact":
            block = self._format_compact_hover(d)
            return [block] if block else []
        full_name, def_type = d.full_name or d.name, d.type
        if def_type == "function":
            try:
                signatures = d.get_signatures()
                sig = self._format_signature(signatures[0]) if signatures else ""
                parts = [f"{OPEN}{full_name}{sig}{CLOSE}"]
            except Exception:
                parts = [f"{OPEN}{full_name}{CLOSE}"]
        elif def_type in ("class", "module"):
            parts = [f"{OPEN}{def_type} {full_name}{CLOSE}"]
        else:
            parts = [f"{OPEN}{full_name}: {self._get_type_description(d, def_type)}{CLOSE}"]
        try:
            docstring = d.docstring()
            if docstring:
                parts.append(docstring)
        except Exception:
            pass
        return parts

    def _format_compact_hover(self, d):
        try:
            name, def_type = d.name or "", d.type
            if def_type == "function":
                try:
                    signatures = d.get_signatures()
                    sig = self._format_signature(signatures[0]) if signatures else ""
                    return f"{OPEN}(function) {name}{sig}{CLOSE}"
                except Exception:
                    return f"{OPEN}(function) {name}{CLOSE}"
            if def_type in ("class", "module"):
                return f"{OPEN}({def_type}) {name}{CLOSE}"
            return f"{OPEN}({def_type}) {name}: {self._get_type_description(d, def_type)}{CLOSE}"
        except Exception as e:
            logger.debug("[LSP] Error formatting compact hover: " + str(e))
            return None

    def _get_type_description(self, d, fallback_type):
        return d.description if getattr(d, "description", None) else fallback_type

    def _help_fallback(self, script, line, column):
        logger.debug("[LSP] infer() returned empty, trying help() as fallback")
        try:
            found = script.help(line=line, column=column)
            parts = []
            for h in found:
                name, desc = h.name or "", h.description if hasattr(h, "description") else ""
                if name:
                    parts.append(f"{OPEN}({desc}) {name}{CLOSE}" if desc else f"{OPEN}{name}{CLOSE}")
                try:
                    docstring = h.docstring()
                    if docstring:
                        parts.append(docstring)
                except Exception:
                    pass
            if parts:
                logger.debug("[LSP] Hover (from help()): found %d results", len(found))
                return {"contents": {"kind": "markdown", "value": SEP.join(parts)}, "error": None}
        except Exception as e:
            logger.debug("[LSP] help() fallback failed: %s", e)
        logger.debug("[LSP] No type information found for hover")
        return {"contents": None, "error": None}

    def get_signature_help(self, code, line, column, path=None, modules=None, dirty_files=None):
        logger.debug("[LSP] Request: get_signature_help line=%d, column=%d, path=%s", line, column, path)
        empty = {"signatures": [], "activeSignature": 0, "activeParameter": 0}
        try:
            with JEDI_LOCK:
                script = self._preamble(code, line, column, path, modules, dirty_files)
                signatures = script.get_signatures(line=line, column=column)
                if not signatures:
                    logger.debug("[LSP] No signatures found")
                    return {**empty, "error": None}
                sig = signatures[0]
                params = []
                for param in sig.params:
                    info = {"label": param.name}
                    try:
                        if param.description:
                            info["documentation"] = param.description
                    except (AttributeError, TypeError):
                        pass
                    params.append(info)
                label = self._format_signature(sig)
                try:
                    docstring = sig.docstring(raw=True) or ""
                except (AttributeError, TypeError):
                    docstring = ""
                signature = {"label": (sig.name or "function") + label, "documentation": docstring,
                             "parameters": params}
                active = sig.index if sig.index is not None else 0
                logger.debug("[LSP] Signature help: %s, activeParam=%d", sig.name, active)
            return {"signatures": [signature], "activeSignature": 0, "activeParameter": active, "error": None}
        except Exception as e:
            logger.error("[LSP] Error in get_signature_help: %s", str(e))
            return {**empty, "error": str(e)}

    # -- diagnostics ----------------------------------------------------------------------
    def get_diagnostics(self, code, module_name=None):
        logger.debug("[LSP] Request: get_diagnostics, code_length=%d", len(code))
        try:
            diagnostics = []
            filename = f"<{module_name}>" if module_name else "<editor>"
            try:
                ast.parse(code, filename=filename)
            except SyntaxError as e:
                lineno, offset, msg = e.lineno or 1, e.offset or 1, e.msg or "Syntax error"
                logger.debug("[LSP] Syntax error at line %d, col %d: %s", lineno, offset, msg)
                return {"diagnostics": [marker(lineno, offset, lineno, offset + 1, msg, 8)], "error": None}
            diagnostics.extend(self._run_pyflakes(code, filename))
            diagnostics.extend(self._check_unresolved_imports(code, module_name))
            diagnostics.sort(key=lambda d: d.get("severity", 0), reverse=True)
            return {"diagnostics": diagnostics, "error": None}
        except Exception as e:
            logger.error("[LSP] Error in get_diagnostics: %s", str(e))
            return {"diagnostics": [], "error": str(e)}

    def _run_pyflakes(self, code, filename):
        diagnostics = []
        try:
            warning_stream, error_stream = io.StringIO(), io.StringIO()
            pyflakes_api.check(code, filename, pyflakes_reporter.Reporter(warning_stream, error_stream))
            for stream, severity in ((warning_stream, 4), (error_stream, 8)):
                stream.seek(0)
                for line in stream:
                    diagnostic = self._parse_pyflakes_message(line.strip(), severity)
                    if diagnostic:
                        diagnostics.append(diagnostic)
            logger.debug("[LSP] Pyflakes returned %d diagnostics", len(diagnostics))
        except Exception as e:
            logger.warning("[LSP] Pyflakes check failed: %s", e)
        return diagnostics

    def _check_unresolved_imports(self, code, module_name=None):
        diagnostics = []
        try:
            for node, names in imported_names(ast.parse(code)):
                for name in names:
                    if not self._can_resolve_import(name):
                        diagnostics.append(marker(node.lineno, node.col_offset + 1, node.end_lineno or node.lineno,
                                                  (node.end_col_offset or node.col_offset) + 1,
                                                  f"import '{name}' could not be resolved", 8))
            logger.debug("[LSP] Import check found %d unresolved imports", len(diagnostics))
        except SyntaxError:
            pass
        except Exception as e:
            logger.warning("[LSP] Import check failed: %s", e)
        return diagnostics

    def _can_resolve_import(self, module_name):
        try:
            if module_name in sys.modules:
                return True
            if self._temp_dir is not None and os.path.exists(os.path.join(self._temp_dir.name, module_name + ".py")):
                return True
            return importlib.util.find_spec(module_name) is not None
        except (ModuleNotFoundError, ImportError, ValueError, AttributeError):
            return False


def marker(start_line, start_col, end_line, end_col, message, severity):
    return {"startLineNumber": start_line, "startColumn": start_col, "endLineNumber": end_line,
            "endColumn": end_col, "message": message, "severity": severity}
