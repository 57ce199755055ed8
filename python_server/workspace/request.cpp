#include "workspace/request.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"
#include "workspace/jedi_lock.h"
#include "workspace/module_files.h"

namespace workspace {

namespace {
bool is_int_at_least(py::handle value, long minimum) {
    if (!PyLong_Check(value.ptr())) return false;
    return pyobj::compare(value, py::int_(minimum), Py_GE);
}
}  // namespace

void validate(const Request& r) {
    if (!PyUnicode_Check(r.code.ptr())) pyobj::raise(PyExc_ValueError, "code must be a string");
    if (!is_int_at_least(r.line, 1)) pyobj::raise(PyExc_ValueError, "line must be a positive integer (1-based)");
    if (!is_int_at_least(r.column, 0)) pyobj::raise(PyExc_ValueError, "column must be a non-negative integer (0-based)");
}

void sync_if_needed(const Request& r) {
    if (pyobj::truthy(r.modules) || pyobj::truthy(r.dirty_files)) {
        py::object modules = pyobj::truthy(r.modules) ? py::reinterpret_borrow<py::object>(r.modules) : py::dict();
        r.self.attr("sync_modules")(modules, r.dirty_files);
    }
}

py::object script_path(const Request& r) {
    bool non_empty_str = PyUnicode_Check(r.path.ptr()) && PyUnicode_GET_LENGTH(r.path.ptr()) > 0;
    if (non_empty_str && pyobj::truthy(r.self.attr("_is_module_name")(r.path))) {
        return module_file_path(r.self, r.path);
    }
    if (non_empty_str) return py::reinterpret_borrow<py::object>(r.path);
    return py::str("<editor>");
}

py::object new_script(const Request& r, py::handle path) {
    static pyobj::Name jedi("jedi"), script("Script"), project("_jedi_project");
    static pyobj::KeywordNames keywords{"code", "path", "project"};
    py::object factory = pyobj::attr(pyobj::global(jedi), script);
    return pyobj::call_kw(factory, keywords, r.code, path, pyobj::attr(r.self, project));
}

py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r) {
    static pyobj::KeywordNames keywords{"line", "column"};
    return pyobj::call_method_kw(script, name, &keywords, r.line, r.column);
}

py::object prepare_script(const Request& r) {
    validate(r);
    sync_if_needed(r);
    py::object path = script_path(r);
    return stoppable([&] { return new_script(r, path); });
}

}  // namespace workspace
