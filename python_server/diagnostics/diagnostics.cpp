// The diagnostics request: a syntax check, then pyflakes findings and unresolved imports,
// merged into one list with errors first.
#include "diagnostics/marker.h"
#include "diagnostics/sort_key.h"
#include "diagnostics/methods.h"
#include "diagnostics/parsed_text.h"
#include "pyobj/calls.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/request.h"

namespace diagnostics {

using pyobj::global;

namespace {

py::dict result(py::handle diagnostics, py::handle error) {
    return workspace::answer(PYOBJ_NAME("diagnostics"), diagnostics, error);
}

// "<module_name>" for a named module, else "<editor>": a label only, never a real file.
py::object analysis_filename(py::handle module_name) {
    if (PyUnicode_Check(module_name.ptr()) && PyUnicode_GET_LENGTH(module_name.ptr()) > 0) {
        return pyobj::concat("<", module_name, ">");
    }
    return py::str("<editor>");
}

// One error marker, one character wide, at the parser's position; the parser may leave the
// line, offset or message empty.
py::dict syntax_error_marker(const py::error_already_set& e) {
    py::handle error = e.value();
    py::int_ one(1);
    py::object lineno = pyobj::or_else(error.attr(PYOBJ_NAME("lineno")), one);
    py::object offset = pyobj::or_else(error.attr(PYOBJ_NAME("offset")), one);
    py::object msg = pyobj::or_else(error.attr(PYOBJ_NAME("msg")), py::str("Syntax error"));
    py::object severity = global(PYOBJ_NAME("MONACO_MARKER_SEVERITY_ERROR"));
    py::dict diagnostic = marker(lineno, offset, lineno, pyobj::add(offset, one), msg, severity);
    pyobj::debug(PYOBJ_NAME("[LSP] Syntax error at line %d, col %d: %s"), lineno, offset, msg);
    return diagnostic;
}

py::object diagnose(py::handle self, py::handle code, py::handle module_name) {
    py::list diagnostics;
    py::object filename = analysis_filename(module_name);
    py::object tree;
    bool syntax_ok = pyobj::except(
        PyExc_SyntaxError,
        [&] {
            static pyobj::KeywordNames keywords{"filename"};
            tree = pyobj::call_kw(pyobj::attr(global(PYOBJ_NAME("ast")), PYOBJ_NAME("parse")), keywords, code, filename);
            return true;
        },
        [&](py::error_already_set& e) {
            diagnostics.append(syntax_error_marker(e));
            return false;
        });
    if (syntax_ok) {
        // The checks below walk this tree rather than parse the text twice more.
        ParsedText parsed(code, ParsedText::is_module_tree(tree) ? tree : py::object());
        if (pyobj::truthy(global(PYOBJ_NAME("PYFLAKES_AVAILABLE")))) {
            py::object pyflakes_diagnostics = pyobj::call_method(self, PYOBJ_NAME("_run_pyflakes"), code, filename);
            pyobj::call_method(diagnostics, PYOBJ_NAME("extend"), pyflakes_diagnostics);
        }
        py::object import_diagnostics = pyobj::call_method(self, PYOBJ_NAME("_check_unresolved_imports"), code, module_name);
        pyobj::call_method(diagnostics, PYOBJ_NAME("extend"), import_diagnostics);
    }
    // Errors first; list.sort is stable with reverse=True, so equal severities keep their order.
    static pyobj::KeywordNames keywords{"key", "reverse"};
    pyobj::call_method_kw(diagnostics, PYOBJ_NAME("sort"), &keywords, make_sort_key(), Py_True);
    return result(diagnostics, py::none());
}

}  // namespace

py::object get_diagnostics(const CodeModuleArgs& a) {
    workspace::Steps steps(PYOBJ_NAME("[LSP] Error in get_diagnostics: %s"));
    steps.log_request = [&] {
        pyobj::debug(PYOBJ_NAME("[LSP] Request: get_diagnostics, code_length=%d"), py::int_(py::len(a.code)));
    };
    steps.ask = [&](const workspace::Jedi&) { return diagnose(a.self, a.code, a.module_name); };
    steps.failure = [](py::str text) -> py::object { return result(py::list(), text); };
    return workspace::serve(a, steps);
}

}  // namespace diagnostics
