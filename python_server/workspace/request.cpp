#include "workspace/request.h"
#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/ops.h"
#include "workspace/answer.h"
#include "workspace/module_files.h"
#include "runtime/request_budget.h"

namespace workspace {

namespace {

bool is_at_least(py::handle value, long minimum) { return pyobj::compare(value, py::int_(minimum), Py_GE); }

void validate(const Request& r) {
    if (!is_at_least(r.line, 1)) pyobj::raise(PyExc_ValueError, "line must be a positive integer (1-based)");
    if (!is_at_least(r.column, 0)) pyobj::raise(PyExc_ValueError, "column must be a non-negative integer (0-based)");
}

void sync_if_needed(const Request& r) {
    if (pyobj::truthy(r.modules) || pyobj::truthy(r.dirty_files)) {
        py::object modules = pyobj::truthy(r.modules) ? py::reinterpret_borrow<py::object>(r.modules) : py::dict();
        r.self.attr(PYOBJ_NAME("sync_modules"))(modules, r.dirty_files);
    }
}

py::object script_path(const Request& r) {
    bool non_empty_str = PyUnicode_Check(r.path.ptr()) && PyUnicode_GET_LENGTH(r.path.ptr()) > 0;
    if (non_empty_str && pyobj::truthy(r.self.attr(PYOBJ_NAME("_is_module_name"))(r.path))) {
        return module_file_path(r.self, r.path);
    }
    if (non_empty_str) return py::reinterpret_borrow<py::object>(r.path);
    return py::str("<editor>");
}

py::object new_script(const Request& r, py::handle path) {
    static pyobj::KeywordNames keywords{"code", "path", "project"};
    py::object factory = pyobj::attr(pyobj::global(PYOBJ_NAME("jedi")), PYOBJ_NAME("Script"));
    return pyobj::call_kw(factory, keywords, r.code, path, pyobj::attr(r.self, PYOBJ_NAME("_jedi_project")));
}

}  // namespace

py::object run_jedi_request(const Request& r, const JediRequest& request) {
    request.log_request();
    return answer(
        request.error_format,
        [&]() -> py::object {
            // Neither needs jedi, so neither waits for it.
            validate(r);
            if (request.answer_without_jedi) {
                py::object early = request.answer_without_jedi();
                if (early) return early;
            }
            py::object asked;
            {
                RequestLock lock;
                sync_if_needed(r);
                if (request.after_sync) request.after_sync();
                py::object path = script_path(r);
                py::object script = runtime::stoppable([&] { return new_script(r, path); });
                asked = request.ask(path, script);
            }
            return request.respond ? request.respond(std::move(asked)) : asked;
        },
        request.failure);
}

py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r) {
    static pyobj::KeywordNames keywords{"line", "column"};
    return pyobj::call_method_kw(script, name, &keywords, r.line, r.column);
}

}  // namespace workspace
