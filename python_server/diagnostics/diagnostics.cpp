// The diagnostics request: a syntax check, then pyflakes findings and unresolved imports,
// merged into one list with errors first.
#include "diagnostics/marker.h"
#include "diagnostics/sort_key.h"
#include "diagnostics/methods.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "workspace/request.h"

namespace diagnostics {

using pyobj::global;

namespace {

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
    static pyobj::Name lineno_name("lineno"), offset_name("offset"), msg_name("msg"),
        severity_name("MONACO_MARKER_SEVERITY_ERROR");
    py::handle error = e.value();
    py::int_ one(1);
    py::object lineno = pyobj::or_else(error.attr(lineno_name), one);
    py::object offset = pyobj::or_else(error.attr(offset_name), one);
    py::object msg = pyobj::or_else(error.attr(msg_name), py::str("Syntax error"));
    py::dict diagnostic = marker(lineno, offset, lineno, pyobj::add(offset, one), msg, global(severity_name));
    pyobj::debug(PYOBJ_NAME("[LSP] Syntax error at line %d, col %d: %s"), lineno, offset, msg);
    return diagnostic;
}

py::object diagnose(py::handle self, py::handle code, py::handle module_name) {
    static pyobj::Name ast_name("ast"), parse("parse"), flag("PYFLAKES_AVAILABLE"), extend("extend");
    if (!PyUnicode_Check(code.ptr())) pyobj::raise(PyExc_ValueError, "code must be a string");
    py::list diagnostics;
    py::object filename = analysis_filename(module_name);
    bool syntax_ok = pyobj::except(
        PyExc_SyntaxError,
        [&] {
            global(ast_name).attr(parse)(code, py::arg("filename") = filename);
            return true;
        },
        [&](py::error_already_set& e) {
            diagnostics.append(syntax_error_marker(e));
            return false;
        });
    if (syntax_ok && pyobj::truthy(global(flag))) {
        py::object pyflakes_diagnostics = self.attr("_run_pyflakes")(code, filename);
        diagnostics.attr(extend)(pyflakes_diagnostics);
    }
    if (syntax_ok) {
        py::object import_diagnostics = self.attr("_check_unresolved_imports")(code, module_name);
        diagnostics.attr(extend)(import_diagnostics);
    }
    // Errors first; list.sort is stable with reverse=True, so equal severities keep their order.
    diagnostics.attr("sort")(py::arg("key") = make_sort_key(), py::arg("reverse") = true);
    py::dict result;
    result["diagnostics"] = diagnostics;
    result["error"] = py::none();
    return std::move(result);
}

}  // namespace

py::object get_diagnostics(const CodeModuleArgs& a) {
    py::handle self = a.self, code = a.code, module_name = a.module_name;
    pyobj::debug(PYOBJ_NAME("[LSP] Request: get_diagnostics, code_length=%d"), py::int_(py::len(code)));
    return workspace::answer(
        PYOBJ_NAME("[LSP] Error in get_diagnostics: %s"),
        [&] { return workspace::stoppable([&] { return diagnose(self, code, module_name); }); },
        [](py::str text) -> py::object {
            py::dict result;
            result["diagnostics"] = py::list();
            result["error"] = text;
            return std::move(result);
        });
}

}  // namespace diagnostics
