// The diagnostics request: a syntax check, then pyflakes findings and unresolved imports,
// merged into one list with errors first.
#include "diagnostics/marker.h"
#include "diagnostics/sort_key.h"
#include "diagnostics/methods.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/answer.h"
#include "runtime/request_budget.h"

namespace diagnostics {

using pyobj::global;

namespace {

py::dict result(py::object diagnostics, py::object error) {
    py::dict answer;
    answer["diagnostics"] = std::move(diagnostics);
    answer["error"] = std::move(error);
    return answer;
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
    bool syntax_ok = pyobj::except(
        PyExc_SyntaxError,
        [&] {
            global(PYOBJ_NAME("ast")).attr(PYOBJ_NAME("parse"))(code, py::arg("filename") = filename);
            return true;
        },
        [&](py::error_already_set& e) {
            diagnostics.append(syntax_error_marker(e));
            return false;
        });
    if (syntax_ok && pyobj::truthy(global(PYOBJ_NAME("PYFLAKES_AVAILABLE")))) {
        py::object pyflakes_diagnostics = self.attr(PYOBJ_NAME("_run_pyflakes"))(code, filename);
        diagnostics.attr(PYOBJ_NAME("extend"))(pyflakes_diagnostics);
    }
    if (syntax_ok) {
        py::object import_diagnostics = self.attr(PYOBJ_NAME("_check_unresolved_imports"))(code, module_name);
        diagnostics.attr(PYOBJ_NAME("extend"))(import_diagnostics);
    }
    // Errors first; list.sort is stable with reverse=True, so equal severities keep their order.
    diagnostics.attr(PYOBJ_NAME("sort"))(py::arg("key") = make_sort_key(), py::arg("reverse") = true);
    return result(diagnostics, py::none());
}

}  // namespace

py::object get_diagnostics(const CodeModuleArgs& a) {
    py::handle self = a.self, code = a.code, module_name = a.module_name;
    pyobj::debug(PYOBJ_NAME("[LSP] Request: get_diagnostics, code_length=%d"), py::int_(py::len(code)));
    return workspace::answer(
        PYOBJ_NAME("[LSP] Error in get_diagnostics: %s"),
        [&] { return runtime::stoppable([&] { return diagnose(self, code, module_name); }); },
        [](py::str text) -> py::object { return result(py::list(), std::move(text)); });
}

}  // namespace diagnostics
