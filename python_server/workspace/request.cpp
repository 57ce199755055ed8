#include "workspace/request.h"

#include <optional>

#include "pyobj/calls.h"
#include "pyobj/globals.h"
#include "pyobj/log.h"
#include "pyobj/ops.h"
#include "runtime/collector_pause.h"
#include "runtime/jedi_lock.h"
#include "runtime/parso_pickles.h"
#include "runtime/request_budget.h"
#include "workspace/sync.h"

namespace workspace {

namespace {

using frame::Inputs;

bool is_at_least(py::handle value, long minimum) { return pyobj::compare(value, py::int_(minimum), Py_GE); }

void check_position(const Inputs& in) {
    if (!is_at_least(in.line, 1)) pyobj::raise(PyExc_ValueError, "line must be a positive integer (1-based)");
    if (!is_at_least(in.column, 0)) pyobj::raise(PyExc_ValueError, "column must be a non-negative integer (0-based)");
}

void sync_if_needed(const Inputs& in) {
    if (pyobj::truthy(in.modules) || pyobj::truthy(in.dirty_files)) {
        py::object modules = pyobj::truthy(in.modules) ? py::reinterpret_borrow<py::object>(in.modules) : py::dict();
        pyobj::call_method(in.self, PYOBJ_NAME("sync_modules"), modules, in.dirty_files);
    }
}

py::object script_path(const Inputs& in) {
    bool non_empty_str = PyUnicode_Check(in.path.ptr()) && PyUnicode_GET_LENGTH(in.path.ptr()) > 0;
    if (non_empty_str && pyobj::truthy(pyobj::call_method(in.self, PYOBJ_NAME("_is_module_name"), in.path))) {
        return module_file_path(in.self, in.path);
    }
    if (non_empty_str) return py::reinterpret_borrow<py::object>(in.path);
    return py::str("<editor>");
}

py::object new_script(const Inputs& in, py::handle path) {
    static pyobj::KeywordNames keywords{"code", "path", "project"};
    py::object factory = pyobj::attr(pyobj::global(PYOBJ_NAME("jedi")), PYOBJ_NAME("Script"));
    return pyobj::call_kw(factory, keywords, in.code, path, pyobj::attr(in.self, PYOBJ_NAME("_jedi_project")));
}

// Steps 2 to 7 of serve().
py::object run_steps(const Inputs& in, const Steps& steps) {
    // Neither needs jedi, so neither waits for it.
    if (in.line) check_position(in);
    if (steps.early_answer) {
        py::object early = steps.early_answer();
        if (early) return early;
    }
    // The lock also keeps a running warm-up from reading a file half synced; the pause ends
    // before the lock is released.
    std::optional<runtime::JediLock> lock;
    if (steps.uses_jedi) lock.emplace();
    runtime::CollectorPause pause;
    Jedi jedi;
    if (steps.uses_jedi) {
        runtime::parso_pickles::guard();
        sync_if_needed(in);
        if (steps.after_sync) steps.after_sync();
        jedi.path = script_path(in);
        jedi.fresh_script = [&] { return new_script(in, jedi.path); };
    }
    py::object asked = runtime::stoppable([&] {
        if (steps.uses_jedi) jedi.script = new_script(in, jedi.path);
        return steps.ask(jedi);
    });
    return steps.respond ? steps.respond(std::move(asked)) : asked;
}

}  // namespace

py::object frame::serve(const Inputs& in, const Steps& steps) {
    if (steps.uses_jedi && !in.code) pyobj::raise(PyExc_SystemError, "a jedi request whose arguments have no code");
    steps.log_request();
    // The budget starts here; the outermost request on a thread owns it.
    runtime::RequestBudget budget;
    return pyobj::except(
        budget.caught(), [&] { return run_steps(in, steps); },
        [&](py::error_already_set& e) -> py::object {
            py::str text = budget.error_text(e);
            pyobj::error(steps.error_format, text);
            return steps.failure(text);
        });
}

py::object call_at_position(py::handle script, pyobj::Name& name, const Request& r) {
    static pyobj::KeywordNames keywords{"line", "column"};
    return pyobj::call_method_kw(script, name, &keywords, r.line, r.column);
}

py::dict answer(pyobj::Name& key, py::handle content, py::handle error) {
    py::dict result;
    pyobj::set_item(result, key, content);
    pyobj::set_item(result, PYOBJ_NAME("error"), error);
    return result;
}

}  // namespace workspace
